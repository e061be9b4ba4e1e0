#include "audio_clock.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#include <sched.h>
#endif

#include <chrono>
#include <functional>
#include <system_error>

namespace {

using Clock = std::chrono::steady_clock;

// Sleeping happens in slices so that a stop is noticed soon even when a
// period is long.
constexpr std::chrono::milliseconds sleepSlice{5};

// A device's audio thread runs ahead of ordinary work, as real drivers
// arrange for theirs. Under ordinary scheduling a sleeping thread can wake
// a millisecond or more late now and then, even on an idle machine, which
// at short periods is a dropout of the clock's own making. Where the
// system refuses (no privilege), the clock runs at ordinary priority.
// Only the lowest real-time levels are asked for: enough to come before
// every ordinary thread, not before the system's own real-time work.
void raiseToAudioPriority()
{
#ifdef _WIN32
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
#else
    sched_param param{};
    const int lowest = sched_get_priority_min(SCHED_FIFO);
    const int highest = sched_get_priority_max(SCHED_FIFO);
    param.sched_priority = lowest + 9 < highest ? lowest + 9 : highest;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
#endif
}

}  // namespace

bool AudioClock::start(int32_t framesPerPeriod, double sampleRate, PeriodHandler& handler)
{
    if (running() || framesPerPeriod < 1 || !(sampleRate > 0.0))
        return false;
    stopRequested_.store(false);
    // std::thread reports a failure to start as an exception; the driver
    // reports it as an error code.
    try {
        thread_ = std::thread(&AudioClock::run, this, framesPerPeriod, sampleRate, std::ref(handler));
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void AudioClock::stop()
{
    if (!running())
        return;
    stopRequested_.store(true);
    thread_.join();
}

void AudioClock::run(int32_t framesPerPeriod, double sampleRate, PeriodHandler& handler)
{
    raiseToAudioPriority();
    const Clock::time_point origin = Clock::now();
    pausedNs_ = 0;
    const double periodNs = static_cast<double>(framesPerPeriod) * 1e9 / sampleRate;
    for (int64_t period = 1;; ++period) {
        // Each deadline is computed from the origin, never from the last
        // wake-up, so rounding and oversleeping do not accumulate.
        const Clock::time_point deadline =
            origin + std::chrono::nanoseconds(static_cast<int64_t>(static_cast<double>(period) * periodNs) + pausedNs_);
        for (;;) {
            if (stopRequested_.load())
                return;
            const Clock::time_point now = Clock::now();
            if (now >= deadline)
                break;
            std::this_thread::sleep_until(deadline - now > sleepSlice ? now + sleepSlice : deadline);
        }
        handler.onPeriod();
    }
}
