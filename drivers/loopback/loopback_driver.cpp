#include "loopback_driver.h"

#include <chrono>
#include <cstdio>
#include <utility>

#include "common/driver_answers.h"
#include "common/host_negotiation.h"
#include "common/time_info.h"
#include "platform/bundled_driver.h"

namespace {

int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

LoopbackDriver::LoopbackDriver(REFCLSID clsid, LoopbackSettings settings)
    : DriverObject(clsid),
      settings_(std::move(settings)),
      sampleRate_(settings_.sampleRates.front()),
      inputLatency_(settings_.inputLatency),
      outputLatency_(settings_.outputLatency)
{
}

LoopbackDriver::~LoopbackDriver()
{
    clock_.stop();
    engine_.release();
}

// --- identity ---

ASIOBool LoopbackDriver::init(void*)
{
    if (settings_.fails(failInit))
        return ASIOFalse;
    initialised_ = true;
    return ASIOTrue;
}

void LoopbackDriver::getDriverName(char* name)
{
    if (name != nullptr)
        copyText(name, 32, settings_.keyName.empty() ? LOOPCHECK_BUNDLED_DRIVER_NAME : settings_.keyName.c_str());
}

void LoopbackDriver::getErrorMessage(char* string)
{
    if (string != nullptr)
        copyText(string, 124, settings_.errorMessage.c_str());
}

// --- device description ---

ASIOError LoopbackDriver::getChannels(ASIOLong* numInputChannels, ASIOLong* numOutputChannels)
{
    if (!initialised_)
        return ASE_NotPresent;
    if (settings_.fails(failGetChannels))
        return ASE_HWMalfunction;
    if (numInputChannels == nullptr || numOutputChannels == nullptr)
        return ASE_InvalidParameter;
    *numInputChannels = settings_.inputs;
    *numOutputChannels = settings_.outputs;
    return ASE_OK;
}

ASIOError LoopbackDriver::getLatencies(ASIOLong* inputLatency, ASIOLong* outputLatency)
{
    if (!initialised_)
        return ASE_NotPresent;
    if (settings_.fails(failGetLatencies))
        return ASE_HWMalfunction;
    if (inputLatency == nullptr || outputLatency == nullptr)
        return ASE_InvalidParameter;
    *inputLatency = inputLatency_.load();
    *outputLatency = outputLatency_.load();
    return ASE_OK;
}

ASIOError LoopbackDriver::getBufferSize(ASIOLong* minSize, ASIOLong* maxSize, ASIOLong* preferredSize,
                                        ASIOLong* granularity)
{
    if (!initialised_)
        return ASE_NotPresent;
    if (settings_.fails(failGetBufferSize))
        return ASE_HWMalfunction;
    if (minSize == nullptr || maxSize == nullptr || preferredSize == nullptr || granularity == nullptr)
        return ASE_InvalidParameter;
    *minSize = settings_.bufferMin;
    *maxSize = settings_.bufferMax;
    *preferredSize = settings_.bufferPreferred;
    *granularity = settings_.bufferGranularity;
    return ASE_OK;
}

ASIOError LoopbackDriver::getChannelInfo(ASIOChannelInfo* info)
{
    if (!initialised_)
        return ASE_NotPresent;
    if (settings_.fails(failGetChannelInfo))
        return ASE_HWMalfunction;
    if (info == nullptr)
        return ASE_InvalidParameter;
    const bool isInput = info->isInput != ASIOFalse;
    if (info->channel < 0 || info->channel >= (isInput ? settings_.inputs : settings_.outputs))
        return ASE_InvalidParameter;
    info->isActive = engine_.hasBuffer(isInput, info->channel) ? ASIOTrue : ASIOFalse;
    info->channelGroup = 0;
    info->type = settings_.sampleType;
    std::snprintf(info->name, sizeof info->name, "Loopback %s %d", isInput ? "In" : "Out",
                  static_cast<int>(info->channel) + 1);
    return ASE_OK;
}

// --- clock ---

bool LoopbackDriver::supportsRate(double rate) const
{
    for (double supported : settings_.sampleRates) {
        if (sameRate(supported, rate))
            return true;
    }
    return false;
}

ASIOError LoopbackDriver::canSampleRate(ASIOSampleRate sampleRate)
{
    if (!initialised_)
        return ASE_NotPresent;
    return supportsRate(sampleRate) ? ASE_OK : ASE_NoClock;
}

ASIOError LoopbackDriver::getSampleRate(ASIOSampleRate* sampleRate)
{
    if (!initialised_)
        return ASE_NotPresent;
    if (settings_.fails(failGetSampleRate))
        return ASE_HWMalfunction;
    if (sampleRate == nullptr)
        return ASE_InvalidParameter;
    *sampleRate = sampleRate_.load();
    return ASE_OK;
}

ASIOError LoopbackDriver::setSampleRate(ASIOSampleRate sampleRate)
{
    if (!initialised_)
        return ASE_NotPresent;
    if (settings_.fails(failSetSampleRate))
        return ASE_HWMalfunction;
    if (!supportsRate(sampleRate))
        return ASE_NoClock;
    // The clock's period is fixed for a stream; a new rate needs a new one.
    if (clock_.running() && !sameRate(sampleRate, sampleRate_.load()))
        return ASE_InvalidMode;
    sampleRate_.store(sampleRate);
    return ASE_OK;
}

ASIOError LoopbackDriver::getClockSources(ASIOClockSource* clocks, ASIOLong* numSources)
{
    if (!initialised_)
        return ASE_NotPresent;
    return listSingleClock(clocks, numSources, "Internal");
}

ASIOError LoopbackDriver::setClockSource(ASIOLong reference)
{
    if (!initialised_)
        return ASE_NotPresent;
    return selectSingleClock(reference);
}

ASIOError LoopbackDriver::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp)
{
    if (!initialised_)
        return ASE_NotPresent;
    return readSamplePosition(streaming_, samplePosition_, systemTimeNs_, sPos, tStamp);
}

// --- buffers and streaming ---

ASIOError LoopbackDriver::createBuffers(ASIOBufferInfo* bufferInfos, ASIOLong numChannels, ASIOLong bufferSize,
                                        ASIOCallbacks* callbacks)
{
    if (!initialised_)
        return ASE_NotPresent;
    if (settings_.fails(failCreateBuffers))
        return ASE_HWMalfunction;
    if (engine_.created())
        return ASE_InvalidMode;
    if (callbacks == nullptr || (callbacks->bufferSwitch == nullptr && callbacks->bufferSwitchTimeInfo == nullptr))
        return ASE_InvalidParameter;

    LoopbackFormat format;
    format.sampleType = settings_.sampleType;
    format.outputs = settings_.outputs;
    format.inputs = settings_.inputs;
    const int64_t roundTrip = int64_t(settings_.inputLatency) + settings_.outputLatency + settings_.extraDelay +
                              int64_t(settings_.extraDelayPerMille) * bufferSize / 1000;
    format.roundTrip = roundTrip > INT32_MAX ? INT32_MAX : static_cast<int32_t>(roundTrip < 0 ? 0 : roundTrip);
    format.dropEvery = settings_.dropEvery;
    format.noiseLsb = settings_.noiseLsb;
    format.inputSources = settings_.inputSources;
    format.deadInputs = settings_.deadInputs;
    format.crosstalkDb = settings_.crosstalkDb;
    format.routingAtBufferSize = settings_.routingAtBufferSize;
    format.analog = settings_.analog;
    format.sampleRate = sampleRate_.load();
    const ASIOError created = engine_.create(format, bufferInfos, numChannels, bufferSize);
    if (created != ASE_OK)
        return created;

    callbacks_ = *callbacks;
    const bool hostTakesTimeInfo = negotiateWithHost(callbacks_);
    useTimeInfo_ = settings_.timeInfo && hostTakesTimeInfo && callbacks_.bufferSwitchTimeInfo != nullptr;
    if (callbacks_.bufferSwitch == nullptr)
        useTimeInfo_ = true;
    return ASE_OK;
}

ASIOError LoopbackDriver::disposeBuffers()
{
    if (!initialised_)
        return ASE_NotPresent;
    const bool hadBuffers = engine_.created();
    // Freeing buffers under a running clock would pull them from under the
    // host's callback; a device stops first.
    clock_.stop();
    streaming_.store(false);
    engine_.release();
    callbacks_ = ASIOCallbacks{};
    if (settings_.fails(failDisposeBuffers))
        return ASE_HWMalfunction;
    return hadBuffers ? ASE_OK : ASE_InvalidMode;
}

ASIOError LoopbackDriver::start()
{
    if (!initialised_)
        return ASE_NotPresent;
    if (settings_.fails(failStart))
        return ASE_HWMalfunction;
    if (!engine_.created())
        return ASE_InvalidMode;
    if (clock_.running())
        return ASE_OK;

    // The rate may have been set since the buffers were made.
    engine_.setRate(sampleRate_.load());
    engine_.restart();
    halfIndex_ = 0;
    halvesDone_ = 0;
    latencyChangeSent_ = false;
    rateChangeSent_ = false;
    resetSent_ = false;
    bufferSizeChangeSent_ = false;
    stalled_ = false;
    skippedFrames_ = 0;
    samplePosition_.store(0);
    systemTimeNs_.store(nowNs());
    streaming_.store(true);
    // A clock off nominal runs its periods at a rate a little off the one set.
    const double clockRate = sampleRate_.load() * (1.0 + static_cast<double>(settings_.clockPpm) * 1e-6);
    if (!clock_.start(engine_.bufferSize(), clockRate, *this)) {
        streaming_.store(false);
        return ASE_HWMalfunction;
    }
    return ASE_OK;
}

ASIOError LoopbackDriver::stop()
{
    if (!initialised_)
        return ASE_NotPresent;
    // Joining the clock from its own thread cannot end.
    if (clock_.onClockThread())
        return ASE_InvalidMode;
    // Even a failing stop leaves no callback behind: the host reads what
    // the callbacks wrote as soon as stop returns.
    clock_.stop();
    streaming_.store(false);
    return settings_.fails(failStop) ? ASE_HWMalfunction : ASE_OK;
}

void LoopbackDriver::sendStagedEvents(double elapsedMs, double rate, bool& rateChanged)
{
    if (!latencyChangeSent_ && settings_.latencyChangeAtMs > 0 && elapsedMs >= settings_.latencyChangeAtMs) {
        latencyChangeSent_ = true;
        inputLatency_.store(settings_.changedInputLatency);
        outputLatency_.store(settings_.changedOutputLatency);
        if (callbacks_.asioMessage != nullptr)
            callbacks_.asioMessage(kAsioLatenciesChanged, 0, nullptr, nullptr);
    }
    if (!rateChangeSent_ && settings_.rateChangeAtMs > 0 && elapsedMs >= settings_.rateChangeAtMs) {
        rateChangeSent_ = true;
        rateChanged = true;
        if (callbacks_.sampleRateDidChange != nullptr)
            callbacks_.sampleRateDidChange(rate);
    }
    if (!resetSent_ && settings_.resetAtMs > 0 && elapsedMs >= settings_.resetAtMs) {
        resetSent_ = true;
        if (callbacks_.asioMessage != nullptr)
            callbacks_.asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
    }
    if (!bufferSizeChangeSent_ && settings_.bufferSizeChangeAtMs > 0 && elapsedMs >= settings_.bufferSizeChangeAtMs) {
        bufferSizeChangeSent_ = true;
        if (callbacks_.asioMessage != nullptr)
            callbacks_.asioMessage(kAsioBufferSizeChange, settings_.changedBufferSize, nullptr, nullptr);
    }
    if (!stalled_ && settings_.stallAtMs > 0 && settings_.stallMs > 0 && elapsedMs >= settings_.stallAtMs) {
        // The host is not called for the stall's length, but the device's
        // clock runs on: the halves it missed are skipped, so the position
        // after the stall jumps as a real device's would.
        stalled_ = true;
        const double periodMs = engine_.bufferSize() * 1000.0 / rate;
        const int64_t missed = static_cast<int64_t>(settings_.stallMs / periodMs);
        clock_.pauseFor(static_cast<int64_t>(static_cast<double>(missed) * periodMs * 1e6));
        skippedFrames_ += missed * engine_.bufferSize();
    }
}

void LoopbackDriver::onPeriod()
{
    const int64_t position = halvesDone_ * engine_.bufferSize() + skippedFrames_;
    const double rate = sampleRate_.load();
    bool rateChanged = false;
    sendStagedEvents(static_cast<double>(position) * 1000.0 / rate, rate, rateChanged);

    engine_.beginHalf(halfIndex_);
    const int64_t switchTime = nowNs();
    samplePosition_.store(position);
    systemTimeNs_.store(switchTime);
    if (useTimeInfo_) {
        fillTimeInfo(time_, position, switchTime, rate, rateChanged);
        callbacks_.bufferSwitchTimeInfo(&time_, halfIndex_, ASIOTrue);
    } else {
        callbacks_.bufferSwitch(halfIndex_, ASIOTrue);
    }
    engine_.endHalf(halfIndex_);

    halfIndex_ ^= 1;
    ++halvesDone_;
}
