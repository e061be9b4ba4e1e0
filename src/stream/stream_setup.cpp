#include "stream/stream_setup.h"

#include <algorithm>
#include <cstdint>

#include "record/console.h"
#include "record/test_state.h"
#include "stream/buffer_switch.h"
#include "stream/driver_callbacks.h"
#include "stream/coded_signal.h"
#include "stream/test_signal.h"

namespace {

bool acceptedSampleType(int32_t type)
{
    return type == ASIOSTInt16LSB || type == ASIOSTInt32LSB || type == ASIOSTFloat32LSB;
}

// Samples per channel for a whole run: duration x rate / 1000, truncated,
// kept to 32 bits.
uint32_t samplesPerRun(int32_t durationMs, double sampleRate)
{
    const double samples = static_cast<double>(durationMs) * sampleRate / 1000.0;
    if (!(samples >= 0.0) || samples >= 9.2e18) return 0;
    return static_cast<uint32_t>(static_cast<uint64_t>(samples));
}

// Room for a whole run in every recording in use, so the driver's thread
// appends without allocating. All or nothing: when one cannot be had, the
// storage of all is given back so that the next run can try afresh.
bool reserveRecordings(int32_t channels)
{
    TestState& s = testState;
    const uint32_t samples = samplesPerRun(s.runDurationMs, s.sampleRate);
    for (int32_t k = 0; k < channels; ++k) {
        if (s.captures[static_cast<size_t>(k)].reserve(samples)) continue;
        for (int32_t j = 0; j < channels; ++j) s.captures[static_cast<size_t>(j)].release();
        const uint64_t bytes = static_cast<uint64_t>(samples) * sizeof(int32_t) * static_cast<uint64_t>(channels);
        console::line("Could not reserve ", bytes, " bytes for the recordings");
        return false;
    }
    return true;
}

}  // namespace

bool setupStreams()
{
    TestState& s = testState;
    s.signalPosition = 0;
    IASIO* const driver = s.currentDriver;
    if (driver == nullptr) {
        s.reportedOutputChannels = 0;
        s.inputChannelCount = 0;
        return false;
    }

    // A driver that fails the query may leave the counts untouched: they
    // start from nothing rather than from whatever was there.
    ASIOLong inputs = 0;
    ASIOLong outputs = 0;
    const ASIOError channelsResult = driver->getChannels(&inputs, &outputs);
    s.reportedOutputChannels = std::max<ASIOLong>(outputs, 0);
    s.inputChannelCount = std::max<ASIOLong>(inputs, 0);
    if (channelsResult == ASE_OK)
        console::line("There are ", s.reportedOutputChannels, " output channels and ", s.inputChannelCount,
                      " inputs channels");
    if (s.reportedOutputChannels == 0) {
        if (channelsResult == ASE_OK)
            console::line("The driver reports no output channels");
        else
            console::line("Could not read the channel counts");
        return false;
    }

    ASIOChannelInfo channelInfo{};
    channelInfo.channel = 0;
    channelInfo.isInput = ASIOFalse;
    if (driver->getChannelInfo(&channelInfo) != ASE_OK) {
        console::line("Could not read the sample format");
        return false;
    }
    s.sampleType = channelInfo.type;
    console::line("Got channel info ", s.sampleType);
    if (!acceptedSampleType(s.sampleType)) {
        console::line("This app only supports 32 bit integer little endian PCM");
        return false;
    }
    console::line("Format type supported (32 bit integer little endian)");

    // As with the channel counts: a failed query shows zero sizes, not the
    // previous run's.
    ASIOLong minSize = 0, maxSize = 0, preferredSize = 0, granularity = 0;
    const ASIOError sizeResult = driver->getBufferSize(&minSize, &maxSize, &preferredSize, &granularity);
    s.minBufferSize = minSize;
    s.bufferSize = maxSize;
    s.preferredBufferSize = preferredSize;
    s.bufferGranularity = granularity;
    console::line("Buffer size is ", sizeResult);
    console::line("Buffer sizes are [", s.minBufferSize, ", ", s.bufferSize, "] preferred ", s.preferredBufferSize,
                  " granularity ", s.bufferGranularity);
    s.bufferSize = s.preferredBufferSize;
    if (s.bufferSize <= 0) {
        console::line("Preferred buffer size ", s.bufferSize, " is not usable");
        return false;
    }

    // The channel line shows the driver's own counts; that only the first
    // 32 of each are tested would otherwise go unsaid.
    if (s.reportedOutputChannels > maxChannelsPerDirection)
        console::warning("the driver reports ", s.reportedOutputChannels, " outputs; the first ",
                         maxChannelsPerDirection, " are tested");
    if (s.inputChannelCount > maxChannelsPerDirection)
        console::warning("the driver reports ", s.inputChannelCount, " inputs; the first ", maxChannelsPerDirection,
                         " are tested");
    s.outputChannelCount = std::min(s.reportedOutputChannels, maxChannelsPerDirection);
    s.inputChannelCount = std::min(s.inputChannelCount, maxChannelsPerDirection);
    const int32_t outputCount = usedOutputChannels();
    const int32_t inputCount = usedInputChannels();
    for (int32_t k = 0; k < outputCount; ++k) {
        s.bufferInfos[static_cast<size_t>(k)].isInput = ASIOFalse;
        s.bufferInfos[static_cast<size_t>(k)].channelNum = k;
    }
    for (int32_t j = 0; j < inputCount; ++j) {
        s.bufferInfos[static_cast<size_t>(outputCount + j)].isInput = ASIOTrue;
        s.bufferInfos[static_cast<size_t>(outputCount + j)].channelNum = j;
    }

    ASIOSampleRate currentRate = 0.0;
    driver->getSampleRate(&currentRate);
    console::line("Setting sample rate to ", s.sampleRate);
    if (driver->setSampleRate(s.sampleRate) != ASE_OK) {
        console::line("Could not set sampling rate to ", s.sampleRate);
        return false;
    }

    // Cleared before the buffers are created: the driver announces time
    // information from inside createBuffers.
    s.timeInfoMode.store(false, std::memory_order_relaxed);

    // Its own line names what could not be allocated.
    if (!(s.codedSignal ? generateCodedSignal(outputCount) : generateTestSignal())) return false;

    s.callbacks.bufferSwitch = processBufferSwitch;
    s.callbacks.sampleRateDidChange = sampleRateDidChange;
    s.callbacks.asioMessage = asioMessage;
    s.callbacks.bufferSwitchTimeInfo = bufferSwitchTimeInfo;

    const int32_t channels = outputCount + inputCount;
    const ASIOError createResult = driver->createBuffers(s.bufferInfos.data(), channels, s.bufferSize, &s.callbacks);
    if (createResult != ASE_OK) {
        console::line("Failed to initialise stresm ", createResult);
        s.signalBuffer.reset();
        return false;
    }
    console::line("Initialised all streams");

    // Read after the buffers exist, so latencies the driver announced while
    // creating them stand when the query fails.
    ASIOLong inputLatency = s.inputLatency.load(std::memory_order_relaxed);
    ASIOLong outputLatency = s.outputLatency.load(std::memory_order_relaxed);
    driver->getLatencies(&inputLatency, &outputLatency);
    s.inputLatency.store(inputLatency, std::memory_order_relaxed);
    s.outputLatency.store(outputLatency, std::memory_order_relaxed);

    // In 64 bits, so large latencies cannot overflow; a negative total
    // means no silence rather than silence for ever.
    const int64_t leadIn = static_cast<int64_t>(inputLatency) + static_cast<int64_t>(outputLatency);
    s.leadInRemaining = leadIn > 0 ? static_cast<uint64_t>(leadIn) : 0;

    s.callCount = 0;
    s.samplesProcessed = 0;
    s.signalPosition = 0;

    if (!reserveRecordings(channels)) {
        s.signalBuffer.reset();
        return false;
    }
    return true;
}
