#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "driver/asio_interface.h"
#include "record/test_state.h"
#include "stream/driver_callbacks.h"
#include "stream/run_accounts.h"
#include "support/test_state_fixture.h"

namespace {

// A summary of a stream at 48 kHz in 256-frame halves that ran 5 s of 5 s
// and kept its time; each case spoils it in one way.
RunAccounts::Summary wholeStream()
{
    RunAccounts::Summary a;
    a.bufferSize = 256;
    a.sampleRate = 48000.0;
    a.seconds = 5.001;
    a.framesExpected = 240000;
    a.callbacks = 937;
    a.framesDelivered = 937 * 256;
    a.longestGapSeconds = 0.006;
    a.longestGapAtSeconds = 1.0;
    return a;
}

TEST(AccountWarnings, EachEventGivesOneLineAndAWholeStreamNone)
{
    struct Case {
        const char* what;
        void (*spoil)(RunAccounts::Summary&);
        std::vector<std::string> lines;
    } cases[] = {
        {"whole", [](RunAccounts::Summary&) {}, {}},
        {"latencies and rate changes are kept, not warned of",
         [](RunAccounts::Summary& a) {
             a.tallies = {{DriverRequestKind::latenciesChanged, 1, 1.0, 1.0},
                          {DriverRequestKind::rateChanged, 1, 2.0, 2.0}};
         },
         {}},
        {"short by 0.2 s: within the allowance",
         [](RunAccounts::Summary& a) { a.framesDelivered = 240000 - 9600; },
         {}},
        {"no callback at all",
         [](RunAccounts::Summary& a) {
             a.callbacks = 0;
             a.framesDelivered = 0;
             a.framesExpected = 4800;
         },
         {"run 0 delivered 0 of 4800 frames (0%)"}},
        {"short, with the reset that ended it",
         [](RunAccounts::Summary& a) {
             a.callbacks = 393;
             a.framesDelivered = 100608;
             a.tallies = {{DriverRequestKind::reset, 1, 2.093, 2.093}};
         },
         {"run 0 delivered 100608 of 240000 frames (42%); the driver asked for a reset at 2.09 s"}},
        {"short: the reset is named before the passing resyncs",
         [](RunAccounts::Summary& a) {
             a.framesDelivered = 100608;
             a.tallies = {{DriverRequestKind::resync, 2, 0.5, 2.5},
                          {DriverRequestKind::reset, 1, 2.093, 2.093}};
         },
         {"run 0 delivered 100608 of 240000 frames (42%); the driver asked for a reset at 2.09 s",
          "run 0: the driver asked for a resync 2 times, first at 0.50 s, last at 2.50 s"}},
        {"short with resyncs alone: the first is named",
         [](RunAccounts::Summary& a) {
             a.framesDelivered = 100608;
             a.tallies = {{DriverRequestKind::resync, 2, 0.5, 2.5}};
         },
         {"run 0 delivered 100608 of 240000 frames (42%); the driver asked for a resync 2 times, first at 0.50 s, "
          "last at 2.50 s"}},
        {"freewheeling: far more than the time allows",
         [](RunAccounts::Summary& a) { a.framesDelivered = 6560512; },
         {"run 0 delivered 6560512 of 240000 frames (2734%)"}},
        {"a stall of 2 s in the middle",
         [](RunAccounts::Summary& a) {
             a.longestGapSeconds = 2.0;
             a.longestGapAtSeconds = 1.5;
         },
         {"run 0: the longest gap between callbacks was 2.000 s (375 periods) from 1.50 s"}},
        {"position jumps",
         [](RunAccounts::Summary& a) {
             a.positionJumps = 2;
             a.firstJumpFrames = -512;
             a.firstJumpAtSeconds = 3.25;
         },
         {"run 0: the driver's sample position jumped 2 times, first by -512 frames at 3.25 s"}},
        {"requests of every disturbing kind, one before the start",
         [](RunAccounts::Summary& a) {
             a.tallies = {{DriverRequestKind::bufferSizeChange, 1, -0.01, -0.01},
                          {DriverRequestKind::latenciesChanged, 1, 0.5, 0.5},
                          {DriverRequestKind::resync, 1, 1.0, 1.0},
                          {DriverRequestKind::reset, 1, 4.999, 4.999}};
         },
         {"run 0: the driver asked for a buffer size change before the start",
          "run 0: the driver asked for a resync at 1.00 s", "run 0: the driver asked for a reset at 5.00 s"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RunAccounts::Summary a = wholeStream();
        c.spoil(a);
        EXPECT_EQ(accountWarnings(a, "run 0"), c.lines);
    }
}

TEST(AccountWarnings, TinyBuffersAreJudgedWithTheSchedulingAllowance)
{
    // One-frame halves: four periods are 83 us, far below what a busy
    // machine keeps a thread waiting; 100 ms late is no event.
    RunAccounts::Summary a = wholeStream();
    a.bufferSize = 1;
    a.framesDelivered = 240000 - 4800;
    a.longestGapSeconds = 0.1;
    EXPECT_TRUE(accountWarnings(a, "run 3").empty());
    a.longestGapSeconds = 0.25;
    a.framesDelivered = 240000 - 12000;
    EXPECT_EQ(accountWarnings(a, "run 3"),
              (std::vector<std::string>{"run 3 delivered 228000 of 240000 frames (95%)",
                                        "run 3: the longest gap between callbacks was 0.250 s (12000 periods) from 1.00 s"}));
}

ASIOTime timeAt(int64_t position)
{
    ASIOTime t{};
    t.timeInfo.flags = kSamplePositionValid;
    t.timeInfo.samplePosition.hi = static_cast<uint32_t>(static_cast<uint64_t>(position) >> 32);
    t.timeInfo.samplePosition.lo = static_cast<uint32_t>(position);
    return t;
}

class RunAccountsTest : public StateTest {
protected:
    void SetUp() override
    {
        StateTest::SetUp();
        testState.bufferSize = 64;
        runAccounts.clear();
        runAccounts.begin(64, 48000.0, 1000);
    }
};

TEST_F(RunAccountsTest, CallbacksCountFramesAndTheTimeRecordsPositionsShowJumps)
{
    // Positions 2^32 - 64, 2^32 (carried into the high half), then one
    // half lost and one repeated.
    const int64_t base = (int64_t{1} << 32) - 64;
    for (int64_t position : {base, base + 64, base + 192, base + 192}) {
        ASIOTime t = timeAt(position);
        EXPECT_EQ(bufferSwitchTimeInfo(&t, 0, ASIOTrue), &t);
    }
    // A record without a valid position neither jumps nor breaks the chain
    // for good: the next valid one starts it afresh.
    ASIOTime unknown = timeAt(0);
    unknown.timeInfo.flags = 0;
    bufferSwitchTimeInfo(&unknown, 1, ASIOTrue);
    ASIOTime later = timeAt(99999);
    bufferSwitchTimeInfo(&later, 0, ASIOTrue);
    runAccounts.end();

    const RunAccounts::Summary a = runAccounts.summary();
    EXPECT_EQ(a.callbacks, 6u);
    EXPECT_EQ(a.framesDelivered, 6u * 64u);
    EXPECT_EQ(a.framesExpected, 48000u);
    EXPECT_EQ(a.positionJumps, 2u);
    EXPECT_EQ(a.firstJumpFrames, 64);
    EXPECT_GE(a.firstJumpAtSeconds, 0.0);
}

TEST_F(RunAccountsTest, TheLongestGapIsMeasuredAndTheStopClosesTheLast)
{
    ASIOTime t = timeAt(0);
    bufferSwitchTimeInfo(&t, 0, ASIOTrue);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    t = timeAt(64);
    bufferSwitchTimeInfo(&t, 1, ASIOTrue);
    runAccounts.end();
    RunAccounts::Summary a = runAccounts.summary();
    EXPECT_GE(a.longestGapSeconds, 0.06);
    EXPECT_LE(a.longestGapAtSeconds, a.seconds - a.longestGapSeconds);

    // A driver that went quiet: only the stop ends its gap.
    runAccounts.clear();
    runAccounts.begin(64, 48000.0, 1000);
    bufferSwitchTimeInfo(&t, 0, ASIOTrue);
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    runAccounts.end();
    a = runAccounts.summary();
    EXPECT_GE(a.longestGapSeconds, 0.12);
}

TEST_F(RunAccountsTest, DriverRequestsAreKeptWithTheirTimeAndStillDeclined)
{
    runAccounts.clear();
    // While the buffers are created: before the start.
    EXPECT_EQ(asioMessage(kAsioResetRequest, 0, nullptr, nullptr), 0);
    runAccounts.begin(64, 48000.0, 1000);
    EXPECT_EQ(asioMessage(kAsioBufferSizeChange, 512, nullptr, nullptr), 0);
    EXPECT_EQ(asioMessage(kAsioResyncRequest, 0, nullptr, nullptr), 0);
    EXPECT_EQ(asioMessage(kAsioLatenciesChanged, 0, nullptr, nullptr), 1);
    sampleRateDidChange(44100.0);
    // Questions and announcements are no requests.
    asioMessage(kAsioSelectorSupported, kAsioResetRequest, nullptr, nullptr);
    asioMessage(kAsioEngineVersion, 0, nullptr, nullptr);
    asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr);
    runAccounts.end();

    const RunAccounts::Summary a = runAccounts.summary();
    ASSERT_EQ(a.requests.size(), 5u);
    const DriverRequestKind kinds[] = {DriverRequestKind::reset, DriverRequestKind::bufferSizeChange,
                                       DriverRequestKind::resync, DriverRequestKind::latenciesChanged,
                                       DriverRequestKind::rateChanged};
    for (size_t k = 0; k < 5; ++k) EXPECT_EQ(a.requests[k].kind, kinds[k]) << k;
    EXPECT_LT(a.requests[0].atSeconds, 0.0);
    for (size_t k = 1; k < 5; ++k) EXPECT_GE(a.requests[k].atSeconds, 0.0) << k;
    ASSERT_EQ(a.tallies.size(), 5u);
    EXPECT_EQ(a.tallies[0].kind, DriverRequestKind::reset);
    EXPECT_LT(a.tallies[0].firstAtSeconds, 0.0);
    for (const RequestTally& t : a.tallies) EXPECT_EQ(t.count, 1u);
    // The console lines stay as they were.
    EXPECT_EQ(err(), "");
}

TEST_F(RunAccountsTest, RequestsBeyondTheSlotsAreCountedFromManyThreads)
{
    std::vector<std::thread> threads;
    for (int k = 0; k < 4; ++k)
        threads.emplace_back([] {
            for (int i = 0; i < 20; ++i) runAccounts.onRequest(DriverRequestKind::resync);
        });
    for (std::thread& t : threads) t.join();
    const RunAccounts::Summary a = runAccounts.summary();
    EXPECT_EQ(a.requests.size(), RunAccounts::requestSlots);
    EXPECT_EQ(a.requestsNotKept, 80u - RunAccounts::requestSlots);
    // The tallies lose none, so a reset after them is still told.
    runAccounts.onRequest(DriverRequestKind::reset);
    const RunAccounts::Summary b = runAccounts.summary();
    ASSERT_EQ(b.tallies.size(), 2u);
    EXPECT_EQ(b.tallies[0].kind, DriverRequestKind::resync);
    EXPECT_EQ(b.tallies[0].count, 80u);
    EXPECT_EQ(b.tallies[1].kind, DriverRequestKind::reset);
    EXPECT_EQ(b.tallies[1].count, 1u);
}

}  // namespace
