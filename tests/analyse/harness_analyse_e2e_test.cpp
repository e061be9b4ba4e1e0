// The harness against the virtual driver with a hidden round trip of 37
// samples and a dropped buffer half every so often: the analyser must give
// the round trip as reported + 37 and each dropout where the driver made it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "analyser_process.h"
#include "harness_runner.h"

namespace {

constexpr int64_t reported = 288 + 320;  // the virtual driver's default latencies
constexpr int64_t extraDelay = 37;
constexpr int64_t dropEvery = 8;
constexpr int64_t bufferSize = 256;

TEST(HarnessAndAnalyser, RoundTripAndDropoutsOfTheVirtualDriver)
{
    const VirtualDriverEntry driver{"Loopback",
                                    "{5E1A0000-0000-4000-8000-0000000000A7}",
                                    "",
                                    {{"ExtraDelay", "dword:00000025"}, {"DropEvery", "dword:00000008"}},
                                    true};
    NativeRunner harness;
    const HarnessResult run = harness.run("2 300 -1 1\n", {driver});  // two 300 ms staircase runs at 48 kHz
    ASSERT_EQ(run.exitCode, 0) << run.err;

    const std::string json = run.folder + "/analysis.json";
    const AnalyserResult r = runAnalyser(
        {run.folder + "/ASIO PCM(Run 0).txt", run.folder + "/ASIO PCM(Run 1).txt", "--json", json});
    EXPECT_EQ(r.exitCode, 1) << "the dropouts fail the loopback\n" << r.out << r.err;
    const nlohmann::json j = nlohmann::json::parse(readFile(json), nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << r.out << r.err;

    for (const auto& runJson : j["runs"]) {
        ASSERT_EQ(runJson["signal"], "staircase");
        const int64_t rows = runJson["rows"];
        // The input sample at table position p left the output at p - (the
        // reported latencies + 37): the staircase starts there, after the lead-in.
        const int64_t onset = reported + reported + extraDelay;
        for (const auto& ch : runJson["channels"]) {
            SCOPED_TRACE(ch["label"].get<std::string>());
            EXPECT_EQ(ch["roundTripSamples"], static_cast<double>(reported + extraDelay));
            EXPECT_EQ(ch["hiddenLatency"], static_cast<double>(extraDelay));
            EXPECT_EQ(ch["bitExact"], false);

            // Every dropEvery-th buffer half the inputs received zeros.
            std::vector<std::pair<int64_t, int64_t>> expected;
            for (int64_t half = dropEvery; (half - 1) * bufferSize < rows; half += dropEvery) {
                const int64_t from = std::max((half - 1) * bufferSize, onset + 1);
                const int64_t to = std::min(half * bufferSize, rows);
                if (from < to) expected.emplace_back(from, to - from);
            }
            ASSERT_GE(expected.size(), 5u);
            std::vector<std::pair<int64_t, int64_t>> found;
            for (const auto& f : ch["faults"]) {
                EXPECT_EQ(f["kind"], "dropout");
                found.emplace_back(f["position"].get<int64_t>(), f["length"].get<int64_t>());
            }
            EXPECT_EQ(found, expected);
        }
    }
    EXPECT_EQ(j["acrossRuns"][0]["distinctRoundTrips"], nlohmann::json::array({645.0}));
}

}  // namespace
