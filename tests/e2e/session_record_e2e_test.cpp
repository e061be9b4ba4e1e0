// The session record beside the report files: what it says of every run,
// and that writing it changes nothing else a session leaves.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "case_helpers.h"
#include "e2e_runner_choice.h"
#include "report_check.h"

namespace {

using cases::dword;
using nlohmann::json;

json sessionRecord(const HarnessResult& r)
{
    return json::parse(r.file("loopcheck-session.json"), nullptr, false);
}

TEST(SessionRecordEndToEnd, TwoRunsWithAResetRequestAreBothRecordedAndFlagged)
{
    // The virtual driver asks for a reset 100 ms into each stream.
    const HarnessResult r =
        harnessRunner().run("2 400 -1 1\n", {cases::virtualDriver("Resetting", {{"ResetAtMs", dword(100)}})});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(reportsConsistent(r, 2, RunShape{}));
    // No temporary file is left beside them.
    EXPECT_EQ(r.files(), (std::vector<std::string>{"ASIO PCM(Run 0).txt", "ASIO PCM(Run 1).txt", "ASIO Results.txt",
                                                   "loopcheck-session.json"}));
    EXPECT_EQ(r.out.find("loopcheck-session"), std::string::npos);

    const json record = sessionRecord(r);
    ASSERT_FALSE(record.is_discarded()) << r.file("loopcheck-session.json");
    EXPECT_EQ(record["version"], 1);
    EXPECT_EQ(record["answers"], (json{{"runs", 2},
                                       {"durationMs", 400},
                                       {"frequencyHz", -1.0},
                                       {"signal", "staircase"},
                                       {"device", 0},
                                       {"sampleRate", 48000.0}}));
    EXPECT_EQ(record["driver"], (json{{"name", "Resetting"}, {"index", 0}}));
    EXPECT_EQ(record["sampleRate"], 48000.0);
    EXPECT_EQ(record["bufferSize"], 256);
    EXPECT_EQ(record["sampleType"], (json{{"number", 18}, {"name", "ASIOSTInt32LSB"}}));
    EXPECT_EQ(record["outputChannels"], 2);
    EXPECT_EQ(record["inputChannels"], 2);
    ASSERT_EQ(record["runs"].size(), 2u);
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        const json& entry = record["runs"][static_cast<size_t>(run)];
        EXPECT_EQ(entry["index"], run);
        EXPECT_EQ(entry["setUp"], true);
        EXPECT_EQ(entry["streamed"], true);
        EXPECT_EQ(entry["dumpFile"], "ASIO PCM(Run " + std::to_string(run) + ").txt");
        EXPECT_EQ(entry["dumpWhole"], true);
        EXPECT_EQ(entry["flagged"], true);
        ASSERT_EQ(entry["reasons"].size(), 1u);
        const std::string reason = entry["reasons"][0];
        EXPECT_MATCHES(reason + "\n", "run " + std::to_string(run) + ": the driver asked for a reset at 0.{n} s\n");
        // The same reason as the warning line.
        EXPECT_NE(r.err.find("warning: " + reason + "\n"), std::string::npos) << r.err;
        const json& accounts = entry["accounts"];
        EXPECT_EQ(accounts["framesExpected"], 19200);
        EXPECT_EQ(accounts["framesDelivered"].get<int64_t>(), accounts["callbacks"].get<int64_t>() * 256);
        EXPECT_EQ(accounts["flagged"], true);
        ASSERT_EQ(accounts["requests"].size(), 1u);
        EXPECT_EQ(accounts["requests"][0]["kind"], "reset");
    }
}

TEST(SessionRecordEndToEnd, QuietRunsAreNotFlaggedAndFailedSetUpsLeaveNoDump)
{
    {
        const HarnessResult r = harnessRunner().run("2 300 220 1\n", {cases::virtualDriver("Quiet")});
        const json record = sessionRecord(r);
        ASSERT_FALSE(record.is_discarded());
        ASSERT_EQ(record["runs"].size(), 2u);
        for (const json& entry : record["runs"]) {
            EXPECT_EQ(entry["flagged"], false);
            EXPECT_EQ(entry["reasons"], json::array());
            EXPECT_EQ(entry["accounts"]["flagged"], false);
        }
        EXPECT_EQ(r.err, "");
    }
    {
        // Every set-up fails: the runs are listed, none with a dump.
        const HarnessResult r =
            harnessRunner().run("2 300 220 1\n", {cases::virtualDriver("Refusing", {{"Fail", cases::quoted("createBuffers")}})});
        const json record = sessionRecord(r);
        ASSERT_FALSE(record.is_discarded());
        EXPECT_EQ(record["sampleType"], nullptr);
        EXPECT_EQ(record["bufferSize"], nullptr);
        ASSERT_EQ(record["runs"].size(), 2u);
        for (const json& entry : record["runs"]) {
            EXPECT_EQ(entry["setUp"], false);
            EXPECT_EQ(entry["accounts"], nullptr);
            EXPECT_EQ(entry["dumpFile"], nullptr);
            EXPECT_EQ(entry["dumpWhole"], false);
        }
    }
}

TEST(SessionRecordEndToEnd, ADumpThatCouldNotBeMadeOrWasCutIsSaidSo)
{
    struct Case {
        const char* name;
        std::function<void(const std::string&)> prepare;
        json dumpFile;
        bool whole;
    } cases[] = {
        {"name taken by a folder",
         [](const std::string& folder) { mkdir((folder + "/ASIO PCM(Run 0).txt").c_str(), 0755); },
         nullptr,
         false},
        {"on a full device",
         [](const std::string& folder) { symlink("/dev/full", (folder + "/ASIO PCM(Run 0).txt").c_str()); },
         "ASIO PCM(Run 0).txt",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunStaging staging;
        staging.prepareFolder = c.prepare;
        NativeRunner native;
        const HarnessResult r = native.run("2 300 -1 1\n", {cases::virtualDriver("Quiet")}, staging);
        EXPECT_EQ(r.exitCode, 0);
        const json record = sessionRecord(r);
        ASSERT_FALSE(record.is_discarded()) << r.file("loopcheck-session.json");
        ASSERT_EQ(record["runs"].size(), 2u);
        EXPECT_EQ(record["runs"][0]["dumpFile"], c.dumpFile);
        EXPECT_EQ(record["runs"][0]["dumpWhole"], c.whole);
        EXPECT_EQ(record["runs"][1]["dumpFile"], "ASIO PCM(Run 1).txt");
        EXPECT_EQ(record["runs"][1]["dumpWhole"], true);
    }
}

}  // namespace
