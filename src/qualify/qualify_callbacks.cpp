#include "qualify/qualify_callbacks.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "record/test_state.h"
#include "stream/buffer_switch.h"
#include "stream/run_accounts.h"

namespace {

// Written by the main thread while no stream runs; the audio thread writes
// the elements below the count, read only after stop has returned.
struct CallbackTimes {
    std::vector<int64_t> timesNs;
    int64_t capacity = 0;
    std::atomic<bool> timing{false};
    std::atomic<int64_t> calls{0};
    std::atomic<int64_t> timeInfoCalls{0};
};

CallbackTimes times;

// 16 MiB of times at most, hours of callbacks at the smallest sizes.
constexpr int64_t maxTimedCallbacks = int64_t{1} << 21;

static_assert(std::atomic<int64_t>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the callbacks' counters must be lock-free");

// The audio thread's first step: nothing but a clock read and a store.
void noteCall(bool timeInfo) noexcept
{
    const int64_t now = accountsClockNs();
    if (!times.timing.load(std::memory_order_acquire)) return;
    const int64_t n = times.calls.fetch_add(1, std::memory_order_relaxed);
    if (timeInfo) times.timeInfoCalls.fetch_add(1, std::memory_order_relaxed);
    if (n < times.capacity) times.timesNs[static_cast<size_t>(n)] = now;
}

void timedBufferSwitch(ASIOLong half, ASIOBool directProcess)
{
    noteCall(false);
    processBufferSwitch(half, directProcess);
}

ASIOTime* timedBufferSwitchTimeInfo(ASIOTime* params, ASIOLong half, ASIOBool directProcess)
{
    noteCall(true);
    if (params == nullptr) {
        processBufferSwitch(half, directProcess);
        return nullptr;
    }
    processTimedBufferSwitch(half, *params);
    return params;
}

void quietSampleRateDidChange(ASIOSampleRate) { runAccounts.onRequest(DriverRequestKind::rateChanged); }

// As a run answers: engine version 2, time info and latency changes
// supported, the latencies read again when they change; resets, resyncs
// and buffer-size changes declined (the accounts flag the run). Any thread.
ASIOLong quietAsioMessage(ASIOLong selector, ASIOLong value, void*, double*)
{
    TestState& s = testState;
    switch (selector) {
    case kAsioSelectorSupported:
        return value == kAsioEngineVersion || value == kAsioLatenciesChanged || value == kAsioSupportsTimeInfo;
    case kAsioEngineVersion:
        s.timeInfoMode.store(true, std::memory_order_relaxed);
        return 2;
    case kAsioSupportsTimeInfo:
        s.timeInfoMode.store(true, std::memory_order_relaxed);
        return 1;
    case kAsioLatenciesChanged: {
        runAccounts.onRequest(DriverRequestKind::latenciesChanged);
        ASIOLong input = s.inputLatency.load(std::memory_order_relaxed);
        ASIOLong output = s.outputLatency.load(std::memory_order_relaxed);
        if (s.currentDriver != nullptr) s.currentDriver->getLatencies(&input, &output);
        s.inputLatency.store(input, std::memory_order_relaxed);
        s.outputLatency.store(output, std::memory_order_relaxed);
        return 1;
    }
    case kAsioResetRequest: runAccounts.onRequest(DriverRequestKind::reset); return 0;
    case kAsioBufferSizeChange: runAccounts.onRequest(DriverRequestKind::bufferSizeChange); return 0;
    case kAsioResyncRequest: runAccounts.onRequest(DriverRequestKind::resync); return 0;
    default: return 0;
    }
}

}  // namespace

void prepareCallbackTimes(int64_t capacity)
{
    times.timing.store(false);
    times.capacity = 0;
    times.capacity = std::clamp<int64_t>(capacity, 0, maxTimedCallbacks);
    times.timesNs.assign(static_cast<size_t>(times.capacity), 0);
    clearCallbackTimes();
}

void clearCallbackTimes()
{
    times.calls.store(0);
    times.timeInfoCalls.store(0);
}

void setTimingCallbacks(bool timing) { times.timing.store(timing, std::memory_order_release); }

const int64_t* callbackTimes() { return times.timesNs.data(); }

int64_t keptCallbackTimes() { return std::min(times.calls.load(), times.capacity); }

int64_t countedCallbacks() { return times.calls.load(); }

int64_t timeInfoCallbacks() { return times.timeInfoCalls.load(); }

ASIOCallbacks qualifyCallbacks()
{
    return ASIOCallbacks{timedBufferSwitch, quietSampleRateDidChange, quietAsioMessage, timedBufferSwitchTimeInfo};
}
