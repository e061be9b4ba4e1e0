// The analyser with the harness's session record: flagged runs fail with
// the harness's reason, the record's stream sets the defaults, dumps of
// another session are left out, and a broken record is told of.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "analog_loop.h"
#include "analyser_process.h"
#include "harness_runner.h"
#include "synthetic_dump.h"

namespace {

using nlohmann::json;

constexpr int64_t onset = 1253;  // 608 samples of lead-in, then 645 of round trip

json recordedRun(int index, std::vector<std::string> reasons = {})
{
    const bool flagged = !reasons.empty();
    return {{"index", index},
            {"setUp", true},
            {"streamed", true},
            {"accounts", nullptr},
            {"flagged", flagged},
            {"reasons", reasons},
            {"dumpFile", "ASIO PCM(Run " + std::to_string(index) + ").txt"},
            {"dumpWhole", true}};
}

// A record as the harness writes it: 48 kHz, 32-bit integers, 2 outputs.
json sessionRecord(std::vector<json> runs, int sampleType = 18, double rate = 48000.0)
{
    return {{"version", 1},
            {"answers", {{"runs", runs.size()}, {"durationMs", 400}, {"frequencyHz", -1.0}, {"signal", "staircase"},
                         {"device", 0}, {"sampleRate", rate}}},
            {"driver", {{"name", "Virtual"}, {"index", 0}}},
            {"sampleRate", rate},
            {"bufferSize", 256},
            {"sampleType", {{"number", sampleType}, {"name", "whatever"}}},
            {"outputChannels", 2},
            {"inputChannels", 2},
            {"runs", runs}};
}

class AnalyserWithRecord : public ::testing::Test {
protected:
    std::string staircaseDump(int run)
    {
        synthetic::Run r;
        r.columns = {synthetic::staircase(6000, onset, 48000), synthetic::staircase(6000, onset, 48000)};
        return synthetic::writeDump(folder.path(), run, r);
    }
    void writeRecord(const json& record, const std::string& name = "loopcheck-session.json")
    {
        synthetic::writeText(path(name), record.dump(2));
    }
    std::string path(const std::string& name) const { return folder.path() + "/" + name; }

    TemporaryFolder folder;
};

TEST_F(AnalyserWithRecord, AFlaggedRunFailsWithTheHarnessReasonWhateverItsSamples)
{
    const std::string dump0 = staircaseDump(0), dump1 = staircaseDump(1);
    const std::string reason = "run 1: the driver asked for a reset at 0.1 s";
    writeRecord(sessionRecord({recordedRun(0), recordedRun(1, {reason})}));
    const AnalyserResult r = runAnalyser({dump0, dump1, "--json", path("a.json")});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("  FAIL, flagged by the harness: " + reason + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Result: FAIL (2 of 4 input recordings passed)\n"), std::string::npos) << r.out;
    // The numbering comes from the record too.
    EXPECT_NE(r.out.find("  channel 2  "), std::string::npos) << r.out;

    const json j = json::parse(readFile(path("a.json")), nullptr, false);
    ASSERT_FALSE(j.is_discarded());
    EXPECT_EQ(j["passed"], false);
    EXPECT_EQ(j["runs"][0]["flaggedByHarness"], false);
    EXPECT_EQ(j["runs"][1]["flaggedByHarness"], true);
    EXPECT_EQ(j["runs"][1]["harnessFlags"], json::array({reason}));
    for (const json& ch : j["runs"][1]["channels"]) {
        EXPECT_EQ(ch["passed"], false);
        EXPECT_EQ(ch["failures"], json::array({"flagged by the harness: " + reason}));
    }
    for (const json& ch : j["runs"][0]["channels"]) EXPECT_EQ(ch["passed"], true);
}

TEST_F(AnalyserWithRecord, ADumpTheHarnessCouldNotWriteWholeFails)
{
    const std::string dump0 = staircaseDump(0);
    json run = recordedRun(0);
    run["dumpWhole"] = false;
    writeRecord(sessionRecord({run}));
    const AnalyserResult r = runAnalyser({dump0});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("  FAIL, flagged by the harness: the harness could not write the dump whole\n"),
              std::string::npos)
        << r.out;
}

TEST_F(AnalyserWithRecord, TheSampleTypeSetsTheFullScale)
{
    // A quiet sine on a 32-bit device peaks at 30000: from the data alone
    // it reads as a loud 16-bit recording.
    synthetic::Run quiet;
    quiet.columns = {synthetic::sine(9600, onset, 1000.0, 48000.0, 30000.0, 48000)};
    const std::string dump = synthetic::writeDump(folder.path(), 0, quiet);
    struct Case {
        const char* name;
        bool withRecord;
        int sampleType;
        int bits;
        double peakDbfs;
    } cases[] = {
        {"without a record", false, 0, 16, -0.8},
        {"32-bit integers", true, 18, 32, -97.1},
        {"floats", true, 19, 32, -97.1},
        {"16-bit integers", true, 16, 16, -0.8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(path("loopcheck-session.json").c_str());
        if (c.withRecord) writeRecord(sessionRecord({recordedRun(0)}, c.sampleType));
        const AnalyserResult r = runAnalyser({dump, "--json", path("a.json")});
        EXPECT_EQ(r.err, "");
        const json j = json::parse(readFile(path("a.json")), nullptr, false);
        ASSERT_FALSE(j.is_discarded()) << r.out << r.err;
        EXPECT_EQ(j["runs"][0]["bits"], c.bits);
        EXPECT_NEAR(j["runs"][0]["channels"][0]["peakDbfs"].get<double>(), c.peakDbfs, 0.05);
    }
}

TEST_F(AnalyserWithRecord, TheRecordReplacesDefaultsAndOptionsThatDisagreeWinWithAWarning)
{
    const std::string dump = staircaseDump(0);
    writeRecord(sessionRecord({recordedRun(0)}, 18, 44100.0));
    struct Case {
        std::vector<std::string> options;
        double rate;
        std::string err;
    } cases[] = {
        {{}, 44100.0, ""},
        {{"--rate", "44100"}, 44100.0, ""},
        {{"--rate", "48000"},
         48000.0,
         "warning: --rate 48000 disagrees with the session record's 44100 Hz (" + path("loopcheck-session.json") +
             "); --rate is used\n"},
        {{"--outputs", "4"},
         44100.0,
         "warning: --outputs 4 disagrees with the session record's 2 outputs (" + path("loopcheck-session.json") +
             "); --outputs is used\n"},
        {{"--bits", "16"},
         44100.0,
         "warning: --bits 16 disagrees with the session record's sample type 18, 32-bit (" +
             path("loopcheck-session.json") + "); --bits is used\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.err);
        std::vector<std::string> arguments = {dump, "--json", path("a.json")};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        const AnalyserResult r = runAnalyser(arguments);
        EXPECT_EQ(r.err, c.err);
        const json j = json::parse(readFile(path("a.json")), nullptr, false);
        ASSERT_FALSE(j.is_discarded()) << r.out << r.err;
        EXPECT_EQ(j["options"]["rate"], c.rate);
    }
}

// The sine the harness played is told by the record, so a clock difference
// between the loop's two ends is measured against it: a frequency measured
// from the recording would carry the difference and, above 1 kHz, may be
// taken for the wrong whole number of hertz.
TEST_F(AnalyserWithRecord, TheRecordedSineFrequencyIsWhatTheDriftIsToldAgainst)
{
    analog::Loop loop;
    loop.frequency = 2997.0;
    loop.ppm = 300.0;
    loop.rows = 96000;
    loop.snrDb = 60.0;
    const std::string dump = synthetic::writeDump(folder.path(), 0, analog::run(loop));
    json record = sessionRecord({recordedRun(0)});
    record["answers"]["frequencyHz"] = 2997.0;
    record["answers"]["signal"] = "sine";
    writeRecord(record);
    const AnalyserResult r = runAnalyser({dump, "--json", path("a.json")});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    const json j = json::parse(readFile(path("a.json")), nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << r.out << r.err;
    const json& input = j["runs"][0]["channels"][0];
    ASSERT_TRUE(input.contains("driftPpm")) << input.dump();
    EXPECT_NEAR(input["driftPpm"].get<double>(), 300.0, 1.0);
    EXPECT_NE(r.out.find("clock +300.0 ppm"), std::string::npos) << r.out;

    const AnalyserResult given = runAnalyser({dump, "--frequency", "2996", "--json", path("b.json")});
    EXPECT_EQ(given.err, "warning: --frequency 2996 disagrees with the session record's 2997 Hz (" +
                             path("loopcheck-session.json") + "); --frequency is used\n");
}

TEST_F(AnalyserWithRecord, ADumpOfAnotherSessionIsNamedAndLeftOut)
{
    // A 2-run session wrote over runs 0 and 1 of an earlier 4-run one.
    std::vector<std::string> dumps;
    for (int run = 0; run < 4; ++run) dumps.push_back(staircaseDump(run));
    json second = recordedRun(1);
    second["dumpFile"] = nullptr;  // its stream was never set up
    second["setUp"] = false;
    writeRecord(sessionRecord({recordedRun(0), second}));
    const std::string record = path("loopcheck-session.json");
    const AnalyserResult r = runAnalyser({dumps[0], dumps[1], dumps[2], dumps[3], "--json", path("a.json")});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "warning: " + dumps[1] + ": not a dump of the session in " + record +
                         " (its run 1 left no dump); left out\n"
                         "warning: " + dumps[2] + ": not a dump of the session in " + record +
                         " (it has no run 2); left out\n"
                         "warning: " + dumps[3] + ": not a dump of the session in " + record +
                         " (it has no run 3); left out\n");
    const json j = json::parse(readFile(path("a.json")), nullptr, false);
    ASSERT_FALSE(j.is_discarded());
    ASSERT_EQ(j["runs"].size(), 1u);
    EXPECT_EQ(j["runs"][0]["run"], 0);

    // Nothing of the session given: nothing to analyse.
    const AnalyserResult none = runAnalyser({dumps[3]});
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_NE(none.err.find("loopcheck-analyse: no dump of the session in " + record + " was given\n"),
              std::string::npos)
        << none.err;
}

TEST_F(AnalyserWithRecord, ABrokenRecordEndsTheAnalysisWhenNamedAndIsPassedOverWhenFound)
{
    const std::string dump = staircaseDump(0);
    json flagged = sessionRecord({recordedRun(0, {"run 0: the driver asked for a reset at 0.1 s"})});
    json later = flagged;
    later["version"] = 3;
    json wrongType = flagged;
    wrongType["runs"][0]["reasons"] = "a reset";
    json twice = flagged;
    twice["runs"].push_back(recordedRun(0));
    json unknownCode = flagged;
    unknownCode["version"] = 2;
    unknownCode["signalCode"] = "chirp";
    json codedWithoutCode = flagged;
    codedWithoutCode["version"] = 2;
    json hugeIndex = flagged;
    hugeIndex["runs"][0]["index"] = 4294967296LL;
    struct Case {
        const char* name;
        std::string text;
        std::string why;
    } cases[] = {
        {"not JSON", "{\"version\": 1, ", "not JSON"},
        {"empty", "", "not JSON"},
        {"a list", "[1, 2]", "not a JSON object"},
        {"deeply nested", std::string(100000, '[') + std::string(100000, ']'), "nested deeper than any session record"},
        {"a later version", later.dump(), "version 3, and this analyser reads versions 1 and 2"},
        {"an unknown code", unknownCode.dump(), "\"signalCode\" is none of \"staircase\", \"tones\" and null"},
        {"a coded session's record without its code", codedWithoutCode.dump(), "no \"signalCode\""},
        {"reasons not a list", wrongType.dump(), "runs[0]: \"reasons\" is not a list"},
        {"a run twice", twice.dump(), "run 0 is listed twice"},
        {"an index past 32 bits", hugeIndex.dump(), "runs[0]: \"index\" is not a whole number from 0 to 2147483647"},
    };
    const std::string record = path("loopcheck-session.json");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        synthetic::writeText(record, c.text);
        const std::string message = record + ": not a session record this analyser can read: " + c.why;
        // Named on the command line: the analysis cannot go on as asked.
        const AnalyserResult named = runAnalyser({dump, "--session", record});
        EXPECT_EQ(named.exitCode, 2);
        EXPECT_EQ(named.err, "loopcheck-analyse: " + message + "\n");
        EXPECT_EQ(named.out, "");
        // Found beside the dumps: the analysis of old, without the flag.
        const AnalyserResult found = runAnalyser({dump});
        EXPECT_EQ(found.exitCode, 0) << found.out;
        EXPECT_EQ(found.err, "warning: " + message + "; the dumps are analysed without it\n");
    }
    // A record that is not there at all, named.
    const AnalyserResult missing = runAnalyser({dump, "--session", path("nowhere.json")});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find(path("nowhere.json") + ": cannot open: No such file or directory"), std::string::npos)
        << missing.err;
}

TEST_F(AnalyserWithRecord, ARecordNamedOnTheCommandLineServesDumpsElsewhere)
{
    const std::string dump = staircaseDump(0);
    TemporaryFolder elsewhere;
    const std::string record = elsewhere.path() + "/kept.json";
    synthetic::writeText(record, sessionRecord({recordedRun(0, {"run 0 delivered 100 of 19200 frames (0%)"})}).dump());
    const AnalyserResult r = runAnalyser({dump, "--session", record});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("flagged by the harness: run 0 delivered 100 of 19200 frames (0%)\n"), std::string::npos);
    // Without it, the same dump passes.
    EXPECT_EQ(runAnalyser({dump}).exitCode, 0);
}

TEST(HarnessRecordAndAnalyser, TheHarnessFlagsAResetAndTheAnalyserFailsTheRun)
{
    const VirtualDriverEntry driver{
        "Resetting", "{5E1A0000-0000-4000-8000-0000000000A8}", "", {{"ResetAtMs", "dword:00000064"}}, true};
    NativeRunner harness;
    const HarnessResult run = harness.run("1 300 -1 1\n", {driver});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const AnalyserResult r = runAnalyser({run.folder + "/ASIO PCM(Run 0).txt"});
    // The staircase itself came back bit-exact.
    EXPECT_NE(r.out.find("bit-exact"), std::string::npos) << r.out;
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("  FAIL, flagged by the harness: run 0: the driver asked for a reset at 0."),
              std::string::npos)
        << r.out;
}

}  // namespace
