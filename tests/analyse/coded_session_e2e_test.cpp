// The harness with --coded against a virtual driver that swaps, mixes or
// kills inputs, then the analyser on its dumps: the routing in its table and
// JSON must be the one set in the driver, in 16-bit, 32-bit and float, and
// --map / --max-crosstalk must judge it as the qualification does.
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "analyser_process.h"
#include "harness_runner.h"

namespace {

constexpr double reportedRoundTrip = 288 + 320;  // the virtual driver's default latencies

// The routing the driver was told to make, as the analyser must find it.
struct CodedCase {
    const char* name;
    const char* sampleType;  // registry dword
    std::vector<std::pair<std::string, std::string>> routing;  // the driver's settings
    const char* code;                                          // "staircase" or "tones"
    std::vector<int> heard;  // by input; -1: dead
    bool crosstalk;          // every other output leaks in at -40 dB
    std::vector<std::string> map;  // the analyser's options that judge it
    int mapExit;                   // the analyser's status with them
    const char* mapFailure;        // the first failure they give, when they fail
};

void PrintTo(const CodedCase& c, std::ostream* out) { *out << c.name; }

std::string quoted(const char* text) { return std::string("\"") + text + "\""; }

const std::vector<std::pair<std::string, std::string>> swapped = {{"InputSources", quoted("1,0")}};
const std::vector<std::pair<std::string, std::string>> mixed = {{"CrosstalkDb", quoted("-40")}};
const std::vector<std::pair<std::string, std::string>> deadSecond = {{"DeadInputs", quoted("1")}};

const CodedCase codedCases[] = {
    {"Swap16", "dword:00000010", swapped, "staircase", {1, 0}, false, {"--map", "identity"}, 1,
     "hears output 1, expected output 0"},
    {"Swap32", "dword:00000012", swapped, "staircase", {1, 0}, false, {"--map", "0:1,1:0"}, 0, nullptr},
    {"SwapFloat", "dword:00000013", swapped, "tones", {1, 0}, false, {"--map", "identity"}, 1,
     "hears output 1, expected output 0"},
    {"Mix16", "dword:00000010", mixed, "staircase", {0, 1}, true, {"--map", "identity"}, 1,
     "output 1 leaks in at -40.0 dB, above -60.0 dB"},
    {"Mix32", "dword:00000012", mixed, "staircase", {0, 1}, true, {"--map", "identity", "--max-crosstalk", "-30"}, 0,
     nullptr},
    {"MixFloat", "dword:00000013", mixed, "tones", {0, 1}, true, {"--map", "identity"}, 1,
     "output 1 leaks in at -40.0 dB, above -60.0 dB"},
    {"Dead32", "dword:00000012", deadSecond, "staircase", {0, -1}, false, {"--map", "identity"}, 1, nullptr},
};

std::string padded(const std::string& text, size_t width)
{
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

class CodedSession : public ::testing::TestWithParam<CodedCase> {};

TEST_P(CodedSession, AnalyserReportsTheDriversRouting)
{
    const CodedCase& c = GetParam();
    VirtualDriverEntry driver{"Misrouted", "{5E1A0000-0000-4000-8000-0000000000B3}", "", c.routing, true};
    driver.settings.emplace_back("SampleType", c.sampleType);
    NativeRunner harness;
    RunStaging staging;
    staging.arguments = {"--coded"};
    // One 1.5 s staircase run at 48 kHz: a whole second of code after the
    // lead-in and the round trip.
    const HarnessResult run = harness.run("1 1500 -1 1\n", {driver}, staging);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    const nlohmann::json record = nlohmann::json::parse(run.file("loopcheck-session.json"), nullptr, false);
    ASSERT_FALSE(record.is_discarded());
    EXPECT_EQ(record["version"], 2);
    EXPECT_EQ(record["signalCode"], c.code);
    EXPECT_EQ(record["answers"]["signal"], "staircase");

    const std::string dump = run.folder + "/ASIO PCM(Run 0).txt";
    const std::string json = run.folder + "/analysis.json";
    const AnalyserResult plain = runAnalyser({dump, "--json", json});
    const bool dead = std::find(c.heard.begin(), c.heard.end(), -1) != c.heard.end();
    EXPECT_EQ(plain.exitCode, dead ? 1 : 0) << "without a map only a dead input fails\n" << plain.out << plain.err;
    const nlohmann::json j = nlohmann::json::parse(readFile(json), nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << plain.out << plain.err;
    ASSERT_EQ(j["runs"].size(), 1u);
    const nlohmann::json& routing = j["runs"][0]["routing"];
    EXPECT_EQ(routing["code"], c.code);
    EXPECT_EQ(j["options"]["signalCode"], c.code);
    EXPECT_NE(plain.out.find(std::string("channel-coded, ") + c.code), std::string::npos) << plain.out;
    ASSERT_EQ(routing["inputs"].size(), c.heard.size());

    for (size_t k = 0; k < c.heard.size(); ++k) {
        const nlohmann::json& input = routing["inputs"][k];
        SCOPED_TRACE(input.dump());
        // The harness numbers the inputs after its two outputs.
        const std::string label = "channel " + std::to_string(2 + k);
        EXPECT_EQ(input["label"], label);
        std::string row = "  " + padded(label, 11);
        if (c.heard[k] < 0) {
            EXPECT_EQ(input["dead"], true);
            EXPECT_TRUE(input["heard"].is_null());
            EXPECT_EQ(input["passed"], false);
            EXPECT_EQ(input["failures"], nlohmann::json::array({"hears no output"}));
            EXPECT_NE(plain.out.find(row + padded("nothing", 10)), std::string::npos) << plain.out;
            continue;
        }
        EXPECT_EQ(input["dead"], false);
        EXPECT_EQ(input["heard"], c.heard[k]);
        EXPECT_NEAR(input["levelDb"].get<double>(), 0.0, 0.05);
        ASSERT_TRUE(input["roundTrip"].is_number());
        EXPECT_NEAR(input["roundTrip"].get<double>(), reportedRoundTrip, 0.05);
        EXPECT_LT(input["noiseFloorDb"].get<double>(), -50.0);
        row += padded("output " + std::to_string(c.heard[k]), 10) + padded("0.0", 10);
        if (c.crosstalk) {
            // With two outputs the leak can only be the other one.
            const int other = 1 - c.heard[k];
            EXPECT_EQ(input["leakFrom"], other);
            EXPECT_NEAR(input["leakDb"].get<double>(), -40.0, 0.1);
            EXPECT_LT(input["noiseFloorDb"].get<double>(), input["leakDb"].get<double>() - 10.0);
            row += padded("-40.0", 10) + padded("output " + std::to_string(other), 10);
        } else {
            EXPECT_TRUE(input["leakFrom"].is_null());
            row += padded("-", 10) + padded("-", 10);
        }
        EXPECT_NE(plain.out.find(row), std::string::npos) << row << "\n" << plain.out;
        EXPECT_EQ(input["passed"], true);
    }

    std::vector<std::string> arguments = {dump};
    arguments.insert(arguments.end(), c.map.begin(), c.map.end());
    const AnalyserResult judged = runAnalyser(arguments);
    EXPECT_EQ(judged.exitCode, c.mapExit) << judged.out << judged.err;
    if (c.mapFailure != nullptr) {
        EXPECT_NE(judged.out.find(std::string("      ") + c.mapFailure + "\n"), std::string::npos) << judged.out;
    }
    EXPECT_NE(judged.out.find(c.mapExit == 0 ? "Result: PASS" : "Result: FAIL"), std::string::npos) << judged.out;
}

INSTANTIATE_TEST_SUITE_P(Routings, CodedSession, ::testing::ValuesIn(codedCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Within less than a second the outputs' staircases differ by no more than
// a constant: a fit over less gives some routing, and it must not pass.
TEST(CodedSession, AStaircaseRunShorterThanItsLoopFailsEveryInput)
{
    VirtualDriverEntry driver{"Misrouted", "{5E1A0000-0000-4000-8000-0000000000B5}", "", swapped, true};
    NativeRunner harness;
    RunStaging staging;
    staging.arguments = {"--coded"};
    const HarnessResult run = harness.run("1 900 -1 1\n", {driver}, staging);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    const std::string json = run.folder + "/analysis.json";
    const AnalyserResult r = runAnalyser({run.folder + "/ASIO PCM(Run 0).txt", "--json", json});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    const nlohmann::json j = nlohmann::json::parse(readFile(json), nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << r.out << r.err;
    const nlohmann::json& inputs = j["runs"][0]["routing"]["inputs"];
    ASSERT_EQ(inputs.size(), 2u);
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.dump());
        EXPECT_EQ(input["passed"], false);
        ASSERT_EQ(input["failures"].size(), 1u);
        EXPECT_EQ(input["failures"][0].get<std::string>().rfind("the run holds less than a second of the code", 0), 0u);
    }
}

// The round trip of a coded run is held to --max-extra-latency as a plain
// run's is: a path 37 samples later than reported fails a limit of 10.
TEST(CodedSession, AHiddenLatencyBeyondTheLimitFails)
{
    VirtualDriverEntry driver{"Late", "{5E1A0000-0000-4000-8000-0000000000B6}", "", swapped, true};
    driver.settings.emplace_back("ExtraDelay", "dword:00000025");
    NativeRunner harness;
    RunStaging staging;
    staging.arguments = {"--coded"};
    const HarnessResult run = harness.run("1 1500 -1 1\n", {driver}, staging);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    const std::string dump = run.folder + "/ASIO PCM(Run 0).txt";
    const std::string json = run.folder + "/analysis.json";
    const AnalyserResult within = runAnalyser({dump, "--max-extra-latency", "37"});
    EXPECT_EQ(within.exitCode, 0) << within.out << within.err;
    const AnalyserResult beyond = runAnalyser({dump, "--max-extra-latency", "10", "--json", json});
    EXPECT_EQ(beyond.exitCode, 1) << beyond.out << beyond.err;
    const nlohmann::json j = nlohmann::json::parse(readFile(json), nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << beyond.out << beyond.err;
    for (const auto& input : j["runs"][0]["routing"]["inputs"]) {
        SCOPED_TRACE(input.dump());
        EXPECT_NEAR(input["roundTrip"].get<double>(), reportedRoundTrip + 37, 0.05);
        EXPECT_EQ(input["failures"], nlohmann::json::array({"hidden latency 37 beyond 10 samples"}));
    }
}

// A map or a crosstalk limit for a session whose outputs all played one
// signal would vouch for a routing nobody measured.
TEST(CodedSession, MapWithoutACodedSessionIsUnusable)
{
    const VirtualDriverEntry driver{"Loopback", "{5E1A0000-0000-4000-8000-0000000000B4}", "", {}, true};
    NativeRunner harness;
    const HarnessResult run = harness.run("1 300 -1 1\n", {driver});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.file("loopcheck-session.json").find("signalCode"), std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(run.file("loopcheck-session.json"), nullptr, false)["version"], 1);
    const std::string dump = run.folder + "/ASIO PCM(Run 0).txt";
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"--map", "identity"}, std::vector<std::string>{"--max-crosstalk", "-40"}}) {
        std::vector<std::string> arguments = {dump};
        arguments.insert(arguments.end(), options.begin(), options.end());
        const AnalyserResult r = runAnalyser(arguments);
        EXPECT_EQ(r.exitCode, 2) << options[0] << "\n" << r.out << r.err;
        EXPECT_NE(r.err.find(options[0] + " needs a session record that says the outputs played channel codes"),
                  std::string::npos)
            << r.err;
    }
}

}  // namespace
