// How one virtual driver is configured: channel counts, format, sizes,
// latencies, rates, the operations it is told to fail and the events it
// stages while streaming. Read once when the driver object is created, then
// never changed, so every thread may read it without synchronisation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com_types.h"

// Operations that can be made to fail, one bit each.
enum FailPoint : uint32_t {
    failInit = 1u << 0,
    failGetChannels = 1u << 1,
    failGetLatencies = 1u << 2,
    failGetBufferSize = 1u << 3,
    failGetSampleRate = 1u << 4,
    failSetSampleRate = 1u << 5,
    failGetChannelInfo = 1u << 6,
    failCreateBuffers = 1u << 7,
    failStart = 1u << 8,
    failStop = 1u << 9,
    failDisposeBuffers = 1u << 10,
    failCreate = 1u << 11,
};

// An analog cable loop on the inputs' side. All zero is a digital loop,
// bit-exact; any one set sends every input through the analog model.
struct AnalogLoopSettings {
    double fractionalDelay = 0.0;  // samples beyond ExtraDelay, 0 <= x < 1
    double gainDb = 0.0;
    double noiseDbfs = 0.0;  // Gaussian noise, rms below full scale; 0 or above: none
    double dcOffset = 0.0;   // share of full scale
    double highPassHz = 0.0;  // first order; 0: none
    double lowPassHz = 0.0;   // second-order Butterworth; 0: none
    double loopPpm = 0.0;  // the inputs record this many millionths more samples than the outputs play

    bool active() const
    {
        return fractionalDelay != 0.0 || gainDb != 0.0 || noiseDbfs < 0.0 || dcOffset != 0.0 || highPassHz > 0.0 ||
               lowPassHz > 0.0 || loopPpm != 0.0;
    }
};

struct LoopbackSettings {
    // Name of the registry key the settings came from; empty when no key
    // names the driver's class and the defaults apply.
    std::string keyName;

    int32_t outputs = 2;
    int32_t inputs = 2;
    int32_t sampleType = 18;

    int32_t bufferMin = 64;
    int32_t bufferMax = 2048;
    int32_t bufferPreferred = 256;
    int32_t bufferGranularity = -1;

    int32_t inputLatency = 288;
    int32_t outputLatency = 320;
    int32_t extraDelay = 0;
    // Further round-trip samples per sample of buffer size, in 1/1000:
    // a device whose hidden latency grows with its buffers (1000 adds one
    // whole buffer).
    int32_t extraDelayPerMille = 0;

    // The first rate is the current one when the driver is created.
    std::vector<double> sampleRates{44100.0, 48000.0, 96000.0, 192000.0};

    uint32_t failures = 0;  // FailPoint bits
    std::string errorMessage = "Virtual device failure";
    bool timeInfo = true;

    // Staged events, in milliseconds of streaming; 0 or less means never.
    int32_t latencyChangeAtMs = 0;
    int32_t changedInputLatency = 288;
    int32_t changedOutputLatency = 320;
    int32_t rateChangeAtMs = 0;
    int32_t resetAtMs = 0;             // kAsioResetRequest
    int32_t bufferSizeChangeAtMs = 0;  // kAsioBufferSizeChange with changedBufferSize
    int32_t changedBufferSize = 512;
    int32_t stallAtMs = 0;  // the callbacks stop for stallMs, then go on
    int32_t stallMs = 0;
    int32_t clockPpm = 0;  // the clock runs this many millionths fast (negative: slow)

    int32_t dropEvery = 0;  // every Nth buffer half the inputs are zeros; 0 or less: never
    int32_t noiseLsb = 0;   // bits of noise added to the inputs

    // Misrouting. inputSources[k] is the output input k hears (-1: none);
    // inputs past the list hear the output of their own number.
    std::vector<int32_t> inputSources;
    std::vector<int32_t> deadInputs;
    double crosstalkDb = 0.0;  // every other output leaks in at this level; 0 or above: none
    // When above 0, the misrouting applies at this buffer size only.
    int32_t routingAtBufferSize = 0;

    AnalogLoopSettings analog;

    bool fails(FailPoint point) const { return (failures & point) != 0; }
    // Bytes per sample as streamed: 2 for 16-bit integers, 4 for every other code.
    int32_t sampleWidth() const { return sampleType == 16 ? 2 : 4; }
};

// Finds the key under HKEY_LOCAL_MACHINE\SOFTWARE\ASIO whose "CLSID" value
// names clsid and reads its values over the defaults. Missing, mistyped or
// unreadable values keep their defaults.
LoopbackSettings readLoopbackSettings(REFCLSID clsid);

// Text values. A list with no usable entry leaves rates unchanged.
void parseSampleRates(const std::string& text, std::vector<double>& rates);
// Comma-separated operation names, case-insensitive; unknown names are ignored.
uint32_t parseFailures(const std::string& text);
// Comma-separated channel numbers; "-" (or any entry that is no channel
// number) stands for no channel, -1.
std::vector<int32_t> parseChannelList(const std::string& text);
// A level in dB below full scale; anything else, or 0 and above, is 0 (none).
double parseCrosstalkDb(const std::string& text);
// The analog loop's text values by their names; see analogValueNames. A
// value that is no number or lies outside its range leaves the setting
// unchanged; an unknown name changes nothing.
void parseAnalogValue(const std::string& name, const std::string& text, AnalogLoopSettings& analog);
extern const char* const analogValueNames[7];
