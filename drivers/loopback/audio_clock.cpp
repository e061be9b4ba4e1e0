#include "audio_clock.h"

#include <chrono>
#include <functional>
#include <system_error>

namespace {

using Clock = std::chrono::steady_clock;

// Sleeping happens in slices so that a stop is noticed soon even when a
// period is long.
constexpr std::chrono::milliseconds sleepSlice{5};

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
    const Clock::time_point origin = Clock::now();
    const double periodNs = static_cast<double>(framesPerPeriod) * 1e9 / sampleRate;
    for (int64_t period = 1;; ++period) {
        // Each deadline is computed from the origin, never from the last
        // wake-up, so rounding and oversleeping do not accumulate.
        const Clock::time_point deadline =
            origin + std::chrono::nanoseconds(static_cast<int64_t>(static_cast<double>(period) * periodNs));
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
