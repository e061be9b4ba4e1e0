// The virtual device's sample clock: a thread that calls its handler once
// per buffer half, on deadlines measured from the start of the stream, so
// that lateness in one period is made up in the next and no drift builds
// up over a long run.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

class PeriodHandler {
public:
    virtual void onPeriod() = 0;

protected:
    ~PeriodHandler() = default;
};

class AudioClock {
public:
    AudioClock() = default;
    AudioClock(const AudioClock&) = delete;
    AudioClock& operator=(const AudioClock&) = delete;
    ~AudioClock() { stop(); }

    // The first call comes one period after the start, when a device would
    // have filled its first half. False when no thread could be started.
    bool start(int32_t framesPerPeriod, double sampleRate, PeriodHandler& handler);
    // Returns once the handler has returned for the last time. Must not be
    // called from the handler.
    void stop();
    bool running() const { return thread_.joinable(); }
    bool onClockThread() const { return running() && std::this_thread::get_id() == thread_.get_id(); }
    // From the handler: the next call comes `nanoseconds` later than it
    // would have, and every one after it too, as after a device that
    // stalled. A stop during the pause is still noticed at once.
    void pauseFor(int64_t nanoseconds) { pausedNs_ += nanoseconds; }

private:
    void run(int32_t framesPerPeriod, double sampleRate, PeriodHandler& handler);

    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    int64_t pausedNs_ = 0;  // the clock's thread only
};
