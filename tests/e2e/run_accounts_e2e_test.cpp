// Every run accounts for its time: what the harness says on standard error
// about a run that was short, stalled, reset or otherwise disturbed, and
// that it says nothing of a run that kept its time.
#include <gtest/gtest.h>

#include "case_helpers.h"
#include "e2e_runner_choice.h"
#include "report_check.h"

namespace {

using cases::dword;

TEST(RunAccountsEndToEnd, QuietSessionWarnsOfNothing)
{
    // Both kinds of buffer switch, three runs each; standard output is the
    // harness's usual one.
    for (int timeInfo : {1, 0}) {
        SCOPED_TRACE(timeInfo);
        const HarnessResult r =
            harnessRunner().run("3 400 -1 1\n", {cases::virtualDriver("Quiet", {{"TimeInfo", dword(timeInfo)}})});
        EXPECT_TRUE(reportsConsistent(r, 3, RunShape{}));
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.err, "");
    }
}

}  // namespace

namespace {

// One staircase run of `durationMs` on a virtual driver with `settings`;
// what it printed on standard error must match `err`, and its report
// files are whole whatever happened.
void expectWarnings(const std::string& name, const cases::Settings& settings, int durationMs, const std::string& err)
{
    const HarnessResult r = harnessRunner().run("1 " + std::to_string(durationMs) + " -1 1\n",
                                                {cases::virtualDriver(name, settings)});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.hasFile("ASIO Results.txt"));
    EXPECT_TRUE(r.hasFile("ASIO PCM(Run 0).txt"));
    EXPECT_MATCHES(r.err, err);
}

TEST(RunAccountsEndToEnd, EveryMisbehaviourOfTheVirtualDriverIsWarnedOf)
{
    struct Case {
        const char* name;
        cases::Settings settings;
        int durationMs;
        std::string err;
    } cases[] = {
        {"Reset", {{"ResetAtMs", dword(100)}}, 400, "warning: run 0: the driver asked for a reset at 0.{n} s\n"},
        {"Resize",
         {{"BufferSizeChangeAtMs", dword(100)}, {"ChangedBufferSize", dword(1024)}},
         400,
         "warning: run 0: the driver asked for a buffer size change at 0.{n} s\n"},
        // 400 ms of a 1 s run lost: 75 halves of 256 frames skipped.
        {"Stall",
         {{"StallAtMs", dword(200)}, {"StallMs", dword(400)}},
         1000,
         "warning: run 0 delivered {n} of 48000 frames ({n}%)\n"
         "warning: run 0: the driver's sample position jumped 1 time, by +19200 frames at 0.{n} s\n"
         "warning: run 0: the longest gap between callbacks was 0.{n} s ({n} periods) from 0.{n} s\n"},
        {"Slow", {{"ClockPpm", dword(-200000)}}, 2000, "warning: run 0 delivered {n} of 96000 frames ({n}%)\n"},
        {"Fast", {{"ClockPpm", dword(200000)}}, 2000, "warning: run 0 delivered {n} of 96000 frames ({n}%)\n"},
        // A little off is what every real clock is.
        {"Drifting", {{"ClockPpm", dword(-200)}}, 1000, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expectWarnings(c.name, c.settings, c.durationMs, c.err);
    }
}

TEST(RunAccountsEndToEnd, RequestsStillPrintTheirMessageLinesAndTheStreamGoesOn)
{
    const HarnessResult r = harnessRunner().run(
        "1 300 -1 1\n", {cases::virtualDriver("Both", {{"ResetAtMs", dword(50)}, {"BufferSizeChangeAtMs", dword(100)}})});
    EXPECT_NE(r.out.find("ASIO message selector 3, value 0\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("ASIO message selector 4, value 512\n"), std::string::npos) << r.out;
    EXPECT_MATCHES(r.err,
                   "warning: run 0: the driver asked for a reset at 0.{n} s\n"
                   "warning: run 0: the driver asked for a buffer size change at 0.{n} s\n");
    EXPECT_TRUE(reportsConsistent(r, 1, RunShape{}));
}

}  // namespace
