// Every run accounts for its time: what the harness says on standard error
// about a run that was short, stalled, reset or otherwise disturbed, and
// that it says nothing of a run that kept its time.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

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

namespace {

// The probe keeps the same accounts of its stream: in its report, and as
// warnings on standard error.
TEST(RunAccountsEndToEnd, TheProbeReportsTheSameAccounts)
{
    struct Case {
        const char* name;
        cases::Settings settings;
        std::string err;
        int positionJumps;
        std::vector<std::string> requests;
    } cases[] = {
        {"Quiet Probe", {}, "", 0, {}},
        {"Stalling Probe",
         {{"StallAtMs", dword(300)}, {"StallMs", dword(500)}, {"ResetAtMs", dword(200)}},
         "warning: the probe's stream delivered {n} of 88200 frames ({n}%); the driver asked for a reset at 0.{n} s\n"
         "warning: the probe's stream: the driver's sample position jumped 1 time, by +{n} frames at 0.{n} s\n"
         "warning: the probe's stream: the longest gap between callbacks was 0.{n} s ({n} periods) from 0.{n} s\n",
         1,
         {"reset"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const HarnessResult r = harnessRunner().runWithArguments({"--probe", "0", "--json", "--seconds", "2"},
                                                                 {cases::virtualDriver(c.name, c.settings)});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_MATCHES(r.err, c.err);
        const nlohmann::json report = nlohmann::json::parse(r.out, nullptr, false);
        ASSERT_FALSE(report.is_discarded()) << r.out;
        const nlohmann::json& accounts = report["stream"]["accounts"];
        EXPECT_EQ(accounts["framesExpected"], 88200);  // 2 s at the driver's 44.1 kHz
        EXPECT_EQ(accounts["framesDelivered"].get<int64_t>(), accounts["callbacks"].get<int64_t>() * 256);
        EXPECT_EQ(accounts["positionJumps"], c.positionJumps);
        EXPECT_EQ(accounts["flagged"], !c.err.empty());
        std::vector<std::string> kinds;
        for (const nlohmann::json& request : accounts["requests"]) kinds.push_back(request["kind"]);
        EXPECT_EQ(kinds, c.requests);
    }
}

}  // namespace

