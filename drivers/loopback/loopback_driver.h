// The virtual driver object: the full driver interface over a loopback
// engine and an audio clock. The host calls it from its main thread; the
// clock calls the host back from its own thread between start and stop.
#pragma once

#include <atomic>
#include <cstdint>

#include "audio_clock.h"
#include "common/driver_object.h"
#include "driver/asio_interface.h"
#include "loopback_engine.h"
#include "loopback_settings.h"

class LoopbackDriver final : public DriverObject, private PeriodHandler {
public:
    // Starts with one reference, owned by the caller.
    LoopbackDriver(REFCLSID clsid, LoopbackSettings settings);
    LoopbackDriver(const LoopbackDriver&) = delete;
    LoopbackDriver& operator=(const LoopbackDriver&) = delete;

    // --- IASIO ---
    ASIOBool init(void* sysHandle) override;
    void getDriverName(char* name) override;
    void getErrorMessage(char* string) override;
    ASIOError start() override;
    ASIOError stop() override;
    ASIOError getChannels(ASIOLong* numInputChannels, ASIOLong* numOutputChannels) override;
    ASIOError getLatencies(ASIOLong* inputLatency, ASIOLong* outputLatency) override;
    ASIOError getBufferSize(ASIOLong* minSize, ASIOLong* maxSize, ASIOLong* preferredSize,
                            ASIOLong* granularity) override;
    ASIOError canSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError getSampleRate(ASIOSampleRate* sampleRate) override;
    ASIOError setSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError getClockSources(ASIOClockSource* clocks, ASIOLong* numSources) override;
    ASIOError setClockSource(ASIOLong reference) override;
    ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) override;
    ASIOError getChannelInfo(ASIOChannelInfo* info) override;
    ASIOError createBuffers(ASIOBufferInfo* bufferInfos, ASIOLong numChannels, ASIOLong bufferSize,
                            ASIOCallbacks* callbacks) override;
    ASIOError disposeBuffers() override;

private:
    ~LoopbackDriver() override;

    // One buffer half, on the clock's thread.
    void onPeriod() override;
    void sendStagedEvents(double elapsedMs, double rate, bool& rateChanged);
    bool supportsRate(double rate) const;

    const LoopbackSettings settings_;

    // Main thread only.
    bool initialised_ = false;

    // Shared with the clock's thread and the host's callbacks.
    std::atomic<double> sampleRate_;
    std::atomic<int32_t> inputLatency_;
    std::atomic<int32_t> outputLatency_;
    std::atomic<bool> streaming_{false};
    std::atomic<int64_t> samplePosition_{0};
    std::atomic<int64_t> systemTimeNs_{0};

    // Set up by the main thread while the clock is stopped, then used by
    // the clock's thread alone until it stops.
    LoopbackEngine engine_;
    ASIOCallbacks callbacks_{};
    bool useTimeInfo_ = false;
    int32_t halfIndex_ = 0;
    int64_t halvesDone_ = 0;
    bool latencyChangeSent_ = false;
    bool rateChangeSent_ = false;
    bool resetSent_ = false;
    bool bufferSizeChangeSent_ = false;
    bool stalled_ = false;
    int64_t skippedFrames_ = 0;  // the device's clock went on while it stalled
    ASIOTime time_{};

    AudioClock clock_;
};
