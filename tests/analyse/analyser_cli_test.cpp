// The analyser as a program: the table, the exit status, and the JSON,
// WAV and PNG files it writes.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sndfile.h>

#include "analyser_process.h"
#include "harness_runner.h"
#include "synthetic_dump.h"

namespace {

constexpr int64_t onset = 1253;  // 608 samples of lead-in, then 645 of round trip

class AnalyserProgram : public ::testing::Test {
protected:
    // Two inputs carrying the staircase, `late` samples later than usual.
    std::string staircaseDump(int run, int64_t late = 0, bool dropout = false)
    {
        synthetic::Run r;
        synthetic::Samples s = synthetic::staircase(6000, onset + late, 48000);
        if (dropout) synthetic::zeroSamples(s, 3000, 256);
        r.columns = {s, synthetic::staircase(6000, onset + late, 48000)};
        return synthetic::writeDump(folder.path(), run, r);
    }
    std::string path(const std::string& name) const { return folder.path() + "/" + name; }

    TemporaryFolder folder;
};

TEST_F(AnalyserProgram, PassingRunsGiveTableJsonWavAndPlot)
{
    const std::string dump0 = staircaseDump(0), dump1 = staircaseDump(1);
    const AnalyserResult r = runAnalyser({dump0, dump1, "--json", path("a.json"), "--wav", path("wav"), "--plot",
                                          path("a.png"), "--outputs", "2"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("Run 0 (" + dump0 + "): staircase, 6000 rows, 32-bit\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  reported latency: input 288 + output 320 = 608 samples (the lead-in of silence)\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("  channel 2  -73.1      645         13.438    +37     0       ok  bit-exact\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("  channel 3  2     645       645       645\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Result: PASS (4 of 4 input recordings passed)\n"), std::string::npos);

    const nlohmann::json j = nlohmann::json::parse(readFile(path("a.json")), nullptr, false);
    ASSERT_FALSE(j.is_discarded());
    EXPECT_EQ(j["passed"], true);
    ASSERT_EQ(j["runs"].size(), 2u);
    const auto& ch = j["runs"][1]["channels"][0];
    EXPECT_EQ(ch["label"], "channel 2");
    EXPECT_EQ(ch["roundTripSamples"], 645.0);
    EXPECT_EQ(ch["hiddenLatency"], 37.0);
    EXPECT_EQ(ch["bitExact"], true);
    EXPECT_EQ(j["runs"][1]["reportedLatency"], 608);
    EXPECT_EQ(j["acrossRuns"][0]["distinctRoundTrips"], nlohmann::json::array({645.0}));

    // The recording as a two-channel WAV file, sample for sample.
    SF_INFO info{};
    SNDFILE* wav = sf_open(path("wav/ASIO PCM(Run 1).wav").c_str(), SFM_READ, &info);
    ASSERT_NE(wav, nullptr);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.samplerate, 48000);
    EXPECT_EQ(info.frames, 6000);
    EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_WAV);
    std::vector<int> frames(12000);
    EXPECT_EQ(sf_readf_int(wav, frames.data(), 6000), 6000);
    sf_close(wav);
    EXPECT_EQ(frames[2 * (onset + 10)], 1000);
    EXPECT_EQ(frames[2 * (onset + 10) + 1], 1000);

    const std::string png = readFile(path("a.png"));
    ASSERT_GT(png.size(), 1000u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
}

TEST_F(AnalyserProgram, FaultsHiddenLatencyAndChangingRoundTripsFail)
{
    const std::string exact = staircaseDump(0);
    EXPECT_EQ(runAnalyser({exact, "--max-extra-latency", "37"}).exitCode, 0);
    const AnalyserResult late = runAnalyser({exact, "--max-extra-latency", "36"});
    EXPECT_EQ(late.exitCode, 1);
    EXPECT_NE(late.out.find("      hidden latency 37 beyond 36 samples\n"), std::string::npos) << late.out;

    const AnalyserResult dropout = runAnalyser({staircaseDump(1, 0, true)});
    EXPECT_EQ(dropout.exitCode, 1);
    EXPECT_NE(dropout.out.find("      dropout of 256 samples at 3000\n"), std::string::npos) << dropout.out;

    // A driver whose round trip changes from one start to the next.
    const AnalyserResult changing = runAnalyser({staircaseDump(2), staircaseDump(3, 55), "--json", path("c.json")});
    EXPECT_EQ(changing.exitCode, 0) << "each run on its own is sound";
    EXPECT_NE(changing.out.find("  input 0  2     645       700       645 700  (changes from run to run)\n"),
              std::string::npos)
        << changing.out;
    const nlohmann::json j = nlohmann::json::parse(readFile(path("c.json")), nullptr, false);
    EXPECT_EQ(j["acrossRuns"][0]["consistent"], false);
    EXPECT_EQ(j["acrossRuns"][0]["minRoundTrip"], 645.0);
    EXPECT_EQ(j["acrossRuns"][0]["maxRoundTrip"], 700.0);
}

TEST_F(AnalyserProgram, UnusableInputOrOutputExitsWithTwo)
{
    synthetic::writeText(path("bad.txt"), "Input latency is 1, output latency is 2\n\nPosition\tvalues\n0\tx\n");
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{path("missing.txt")}, "loopcheck-analyse: " + path("missing.txt") + ": cannot open: No such file or directory\n"},
        {{path("bad.txt")}, "loopcheck-analyse: " + path("bad.txt") + ":4: expected the end of the row after its values\n"},
        {{staircaseDump(0), "--json", path("no/such/folder/a.json")},
         "loopcheck-analyse: " + path("no/such/folder/a.json") + ": cannot write: No such file or directory\n"},
        {{staircaseDump(0), "--signal", "square"}, "loopcheck-analyse: --signal must be staircase, pulse, sine or auto, not \"square\"\n"},
        {{}, "loopcheck-analyse: no dump file given\n"},
    };
    for (const Case& c : cases) {
        const AnalyserResult r = runAnalyser(c.arguments);
        EXPECT_EQ(r.exitCode, 2) << c.message;
        EXPECT_EQ(r.err.substr(0, c.message.size()), c.message);
    }
}

}  // namespace
