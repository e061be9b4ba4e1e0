// Driver messages may arrive on any of the driver's threads, also from
// inside createBuffers on the main thread. They touch only the atomics of
// the test record (time-info mode and the latencies) and the console.
#include "stream/driver_callbacks.h"

#include "record/console.h"
#include "record/test_state.h"
#include "stream/buffer_switch.h"
#include "stream/run_accounts.h"

void sampleRateDidChange(ASIOSampleRate /*sRate*/)
{
    // Only announced: the run keeps the rate it was set up with.
    runAccounts.onRequest(DriverRequestKind::rateChanged);
    console::line("Sample rate did change");
}

ASIOLong asioMessage(ASIOLong selector, ASIOLong value, void* /*message*/, double* /*opt*/)
{
    TestState& s = testState;
    // Kept before the line is printed: the time is the driver's, not the console's.
    switch (selector) {
    case kAsioResetRequest: runAccounts.onRequest(DriverRequestKind::reset); break;
    case kAsioBufferSizeChange: runAccounts.onRequest(DriverRequestKind::bufferSizeChange); break;
    case kAsioResyncRequest: runAccounts.onRequest(DriverRequestKind::resync); break;
    case kAsioLatenciesChanged: runAccounts.onRequest(DriverRequestKind::latenciesChanged); break;
    default: break;
    }
    console::line("ASIO message selector ", selector, ", value ", value);

    switch (selector) {
    case kAsioSelectorSupported:
        return (value == kAsioEngineVersion || value == kAsioLatenciesChanged || value == kAsioSupportsTimeInfo) ? 1 : 0;
    case kAsioEngineVersion:
        s.timeInfoMode.store(true, std::memory_order_relaxed);
        console::line("Returning ASIO 2");
        return 2;
    case kAsioLatenciesChanged:
        if (s.currentDriver != nullptr) {
            // A driver that fails the query leaves the values as they were.
            ASIOLong input = s.inputLatency.load(std::memory_order_relaxed);
            ASIOLong output = s.outputLatency.load(std::memory_order_relaxed);
            s.currentDriver->getLatencies(&input, &output);
            s.inputLatency.store(input, std::memory_order_relaxed);
            s.outputLatency.store(output, std::memory_order_relaxed);
        } else {
            s.inputLatency.store(0, std::memory_order_relaxed);
            s.outputLatency.store(0, std::memory_order_relaxed);
        }
        return 1;
    case kAsioSupportsTimeInfo:
        s.timeInfoMode.store(true, std::memory_order_relaxed);
        return 1;
    default:
        // Reset, resync and buffer-size requests are declined.
        return 0;
    }
}

ASIOTime* bufferSwitchTimeInfo(ASIOTime* params, ASIOLong doubleBufferIndex, ASIOBool /*directProcess*/)
{
    if (params == nullptr) return nullptr;
    processTimedBufferSwitch(doubleBufferIndex, *params);
    return params;
}
