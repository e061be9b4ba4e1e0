#include "probe/driver_probe.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "probe/probe_callbacks.h"
#include "stream/run_progress.h"
#include "record/console.h"
#include "record/test_state.h"
#include "driver/driver_registry.h"
#include "platform/interruption.h"

const double probedSampleRates[13] = {8000,  11025, 16000,  22050,  32000,  44100, 48000,
                                      88200, 96000, 176400, 192000, 352800, 384000};

namespace {

// A driver may report any count; asking about more channels than any
// interface has would only make the report useless and the probe slow.
constexpr int32_t maxProbedChannels = 4096;
constexpr int32_t maxClockSources = 64;
// Room for the times of a probe stream: twice the callbacks expected, and
// never more than this many (16 bytes each).
constexpr int64_t maxTimedCallbacks = int64_t{1} << 21;
// future is asked with a selector that names no request, which shows only
// whether the driver answers it at all.
constexpr int32_t probedFutureSelector = 0;

std::string driverErrorMessage(IASIO& driver)
{
    char text[124] = {};
    driver.getErrorMessage(text);
    text[sizeof text - 1] = '\0';
    return text;
}

std::string fixedText(const char* text, size_t size)
{
    return std::string(text, strnlen(text, size));
}

// Times each call and keeps its result, and the driver's error message
// when it failed.
class CallLog {
public:
    CallLog(IASIO& driver, std::vector<ProbeCall>& calls) : driver_(driver), calls_(calls) {}

    template <class Call>
    int32_t error(const char* name, Call call)
    {
        const auto started = std::chrono::steady_clock::now();
        const int32_t result = call();
        return keep(name, result, result == ASE_OK, started);
    }

    template <class Call>
    int32_t boolean(const char* name, Call call)
    {
        const auto started = std::chrono::steady_clock::now();
        const int32_t result = call();
        return keep(name, result, result != ASIOFalse, started);
    }

private:
    int32_t keep(const char* name, int32_t result, bool ok, std::chrono::steady_clock::time_point started)
    {
        ProbeCall entry;
        entry.call = name;
        entry.result = result;
        entry.ok = ok;
        entry.milliseconds =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
        if (!ok)
            entry.errorMessage = driverErrorMessage(driver_);
        calls_.push_back(std::move(entry));
        return result;
    }

    IASIO& driver_;
    std::vector<ProbeCall>& calls_;
};

// Bytes of one sample of a format as it lies in a buffer.
int32_t sampleBytes(int32_t type)
{
    switch (type) {
    case ASIOSTInt16LSB:
    case ASIOSTInt16MSB:
        return 2;
    case ASIOSTInt24LSB:
    case ASIOSTInt24MSB:
        return 3;
    case ASIOSTFloat64LSB:
    case ASIOSTFloat64MSB:
        return 8;
    default:
        return 4;
    }
}

void queryDescription(IASIO& driver, CallLog& log, ProbeReport& report)
{
    char name[32] = {};
    log.error("getDriverName", [&] {
        driver.getDriverName(name);
        return ASE_OK;
    });
    report.driverName = fixedText(name, sizeof name);
    log.error("getDriverVersion", [&] {
        report.driverVersion = driver.getDriverVersion();
        return ASE_OK;
    });

    ASIOLong inputs = 0;
    ASIOLong outputs = 0;
    report.channelsKnown = log.error("getChannels", [&] { return driver.getChannels(&inputs, &outputs); }) == ASE_OK;
    if (report.channelsKnown) {
        report.inputs = inputs;
        report.outputs = outputs;
        for (int direction = 1; direction >= 0; --direction) {
            const int32_t count = std::clamp(direction == 1 ? inputs : outputs, 0, maxProbedChannels);
            for (int32_t channel = 0; channel < count; ++channel) {
                ASIOChannelInfo info{};
                info.channel = channel;
                info.isInput = direction;
                ProbeChannel entry;
                entry.isInput = direction == 1;
                entry.channel = channel;
                entry.result = driver.getChannelInfo(&info);
                if (entry.result != ASE_OK) {
                    entry.errorMessage = driverErrorMessage(driver);
                } else {
                    entry.isActive = info.isActive != ASIOFalse;
                    entry.group = info.channelGroup;
                    entry.type = info.type;
                    entry.name = fixedText(info.name, sizeof info.name);
                }
                report.channels.push_back(std::move(entry));
            }
        }
    }

    ASIOLong minimum = 0, maximum = 0, preferred = 0, granularity = 0;
    report.bufferSizesKnown =
        log.error("getBufferSize", [&] { return driver.getBufferSize(&minimum, &maximum, &preferred, &granularity); }) ==
        ASE_OK;
    if (report.bufferSizesKnown) {
        report.bufferMin = minimum;
        report.bufferMax = maximum;
        report.bufferPreferred = preferred;
        report.bufferGranularity = granularity;
    }

    ASIOSampleRate rate = 0.0;
    report.rateKnown = log.error("getSampleRate", [&] { return driver.getSampleRate(&rate); }) == ASE_OK;
    if (report.rateKnown)
        report.currentRate = rate;
    for (double candidate : probedSampleRates)
        report.rates.push_back(ProbeRate{candidate, driver.canSampleRate(candidate)});

    ASIOClockSource sources[maxClockSources] = {};
    ASIOLong sourceCount = maxClockSources;
    report.clockSourcesKnown =
        log.error("getClockSources", [&] { return driver.getClockSources(sources, &sourceCount); }) == ASE_OK;
    if (report.clockSourcesKnown) {
        for (int32_t i = 0; i < std::clamp(sourceCount, 0, maxClockSources); ++i) {
            const ASIOClockSource& s = sources[i];
            report.clockSources.push_back(ProbeClockSource{s.index, s.associatedChannel, s.associatedGroup,
                                                           s.isCurrentSource != ASIOFalse,
                                                           fixedText(s.name, sizeof s.name)});
        }
    }
}

// Why the stream cannot run, or empty when it can; sets the stream's size
// and nominal rate.
std::string prepareStream(IASIO& driver, CallLog& log, const ProbeOptions& options, ProbeReport& report)
{
    ProbeStream& stream = report.stream;
    stream.seconds = options.seconds;
    stream.bufferSize = options.bufferSize > 0 ? options.bufferSize : report.bufferPreferred;
    if (options.rate > 0.0) {
        if (log.error("setSampleRate", [&] { return driver.setSampleRate(options.rate); }) != ASE_OK)
            return "setSampleRate refused the rate asked for";
        stream.nominalRate = options.rate;
    } else if (report.rateKnown && std::isfinite(report.currentRate) && report.currentRate > 0.0) {
        stream.nominalRate = report.currentRate;
    }
    if (options.bufferSize <= 0 && !report.bufferSizesKnown)
        return "no buffer size: getBufferSize failed";
    if (stream.bufferSize <= 0)
        return "the preferred buffer size is " + std::to_string(stream.bufferSize);
    if (!report.channelsKnown)
        return "no channels: getChannels failed";
    if (std::max(report.inputs, 0) + std::max(report.outputs, 0) == 0)
        return "the driver has no channels";
    return "";
}

void runStream(IASIO& driver, CallLog& log, ProbeReport& report)
{
    ProbeStream& stream = report.stream;
    std::vector<ASIOBufferInfo> infos;
    std::vector<int32_t> bytesPerHalf;
    for (const ProbeChannel& channel : report.channels) {
        infos.push_back(ASIOBufferInfo{channel.isInput ? ASIOTrue : ASIOFalse, channel.channel, {nullptr, nullptr}});
        // Outputs whose format is not known are left as the driver made
        // them: writing a guessed width could pass the buffer's end.
        const bool silence = !channel.isInput && channel.result == ASE_OK;
        bytesPerHalf.push_back(silence ? sampleBytes(channel.type) * stream.bufferSize : 0);
    }
    const double rateForRoom = stream.nominalRate > 0.0 ? stream.nominalRate : 384000.0;
    const double expected = stream.seconds * rateForRoom / stream.bufferSize;
    // The driver's rate may be anything (1e30 Hz): the room is bounded before
    // it becomes an integer, which could not hold it.
    const double wanted = 2.0 * expected + 256.0;
    const int64_t capacity =
        std::isfinite(wanted) && wanted < static_cast<double>(maxTimedCallbacks) ? static_cast<int64_t>(wanted)
                                                                                  : maxTimedCallbacks;
    const auto entryCount = static_cast<ASIOLong>(infos.size());
    ASIOBufferInfo* entries = prepareProbeCallbacks(&driver, std::move(infos), std::move(bytesPerHalf), capacity);
    ASIOCallbacks callbacks = probeCallbacks();

    setProbePhase(ProbePhase::createBuffers);
    const bool created =
        log.error("createBuffers", [&] {
            return driver.createBuffers(entries, entryCount, stream.bufferSize, &callbacks);
        }) == ASE_OK;

    ASIOLong inputLatency = 0;
    ASIOLong outputLatency = 0;
    report.latenciesKnown =
        log.error("getLatencies", [&] { return driver.getLatencies(&inputLatency, &outputLatency); }) == ASE_OK;
    if (report.latenciesKnown) {
        report.inputLatency = inputLatency;
        report.outputLatency = outputLatency;
        report.latencyBufferSize = created ? stream.bufferSize : 0;
    }

    setProbePhase(ProbePhase::outputReady);
    report.outputReadyResult = log.error("outputReady", [&] { return driver.outputReady(); });
    if (!created) {
        stream.notRunBecause = "createBuffers failed";
        collectProbeMessages(report.messages);
        return;
    }
    setProbeOutputReady(report.outputReadyResult == ASE_OK);

    // Ctrl-C while the driver streams stops it before the process ends.
    catchInterruptions();
    setProbePhase(ProbePhase::start);
    setProbeStreaming(true);
    const auto durationMs = static_cast<int32_t>(std::lround(stream.seconds * 1000.0));
    beginProbeAccounts(stream.bufferSize, stream.nominalRate, durationMs);
    const bool started = log.error("start", [&] { return driver.start(); }) == ASE_OK;
    if (started) {
        setProbePhase(ProbePhase::streaming);
        stream.interrupted = !pauseUnlessInterrupted(durationMs);
        setProbePhase(ProbePhase::stop);
        log.error("stop", [&] { return driver.stop(); });
        endProbeAccounts();
        setProbeStreaming(false);
        stream.ran = true;
    } else {
        setProbeStreaming(false);
        stream.notRunBecause = "start failed";
    }
    setProbePhase(ProbePhase::disposeBuffers);
    log.error("disposeBuffers", [&] { return driver.disposeBuffers(); });
    collectProbeCallbacks(stream, report.messages);
    // As after a run; a stream cut short by the operator has nothing to account for.
    if (stream.ran && !stream.interrupted)
        for (const std::string& warning : stream.accountWarnings) console::warning(warning);
}

// A driver may keep its rate beyond this process: the one it had before
// the probe asked for another is set again.
void restoreRate(IASIO& driver, CallLog& log, const ProbeOptions& options, const ProbeReport& report)
{
    const bool rateWasSet = options.rate > 0.0 && report.stream.nominalRate == options.rate;
    if (rateWasSet && report.rateKnown && report.currentRate != options.rate)
        log.error("setSampleRate", [&] { return driver.setSampleRate(report.currentRate); });
}

}  // namespace

bool probeDriver(IASIO& driver, const ProbeOptions& options, ProbeReport& report)
{
    CallLog log(driver, report.calls);
    report.initialised = log.boolean("init", [&] { return driver.init(nullptr); }) != ASIOFalse;
    if (!report.initialised) {
        report.initError = report.calls.back().errorMessage;
        return false;
    }
    queryDescription(driver, log, report);

    report.stream.notRunBecause = prepareStream(driver, log, options, report);
    if (report.stream.notRunBecause.empty()) {
        runStream(driver, log, report);
    } else {
        ASIOLong inputLatency = 0;
        ASIOLong outputLatency = 0;
        report.latenciesKnown =
            log.error("getLatencies", [&] { return driver.getLatencies(&inputLatency, &outputLatency); }) == ASE_OK;
        report.inputLatency = inputLatency;
        report.outputLatency = outputLatency;
        report.outputReadyResult = log.error("outputReady", [&] { return driver.outputReady(); });
    }

    restoreRate(driver, log, options, report);
    report.futureSelector = probedFutureSelector;
    report.futureResult = log.error("future", [&] { return driver.future(probedFutureSelector, nullptr); });
    return true;
}

bool probeInstalledDriver(int32_t index, const ProbeOptions& options, ProbeReport& report)
{
    report.index = index;
    DriverRegistry registry;
    const DriverRecord* record = registry.find(index);
    if (record == nullptr) {
        report.openError = "no driver has the index " + std::to_string(index) + " (" +
                           std::to_string(registry.count()) + " listed)";
        return false;
    }
    report.registryName = record->name;
    report.keyName = record->keyName;
    report.clsidText = record->clsidText;
    report.serverPath = record->serverPath;
    const int opened = registry.openByIndex(index);
    IASIO* driver = testState.currentDriver;
    // The registry's record owns the instance and releases it when the
    // registry goes, at the end of this function.
    testState.currentDriver = nullptr;
    if (opened != 0 || driver == nullptr) {
        report.openError = registry.lastOpenError();
        if (report.openError.empty())
            report.openError = "the driver could not be created (result " + std::to_string(opened) + ")";
        return false;
    }
    report.opened = true;
    return probeDriver(*driver, options, report);
}
