// The harness through the JACK bridge on a private PipeWire daemon, as
// most Linux desktops serve JACK clients: PipeWire's JACK library, a null
// sink whose monitor ports close the loop, the quantum and the rate
// changed by the settings metadata, and the daemon killed.
//
// PipeWire gives no xrun callbacks, and on a loaded machine it lets
// periods go by as zeros; the tests hold it to what it guarantees (the
// runs finish, figures agree where they can be measured, events reach the
// host) and check that the dropouts it had are found by the analysis.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <limits>
#include <sstream>
#include <thread>

#include "analyser_process.h"
#include "bridge_run.h"
#include "harness_runner.h"
#include "pipewire_daemon.h"

namespace {

std::string sinkPlayback() { return std::string(PipeWireDaemon::playback1) + "," + PipeWireDaemon::playback2; }
std::string sinkMonitor() { return std::string(PipeWireDaemon::monitor1) + "," + PipeWireDaemon::monitor2; }

VirtualDriverEntry bridge(const PipeWireDaemon& daemon, const BridgeSettings& extra = {})
{
    return bridgeEntry(daemon.name(), sinkPlayback(), sinkMonitor(), extra);
}

// The harness with PipeWire's JACK library in place of jackd2's, reaching
// `daemon`.
HarnessResult runOn(const PipeWireDaemon& daemon, const std::string& answers, const BridgeSettings& extra = {},
                    std::function<void(int, const std::string&)> whileRunning = nullptr)
{
    RunStaging staging;
    staging.inHarnessProcess = [&daemon] {
        // Read only by a harness built with a sanitizer: what PipeWire's
        // libraries do that the sanitizers cannot tell from a fault of ours.
        auto suppress = [](const char* variable, const char* file) {
            const char* options = std::getenv(variable);
            const std::string value = std::string(options != nullptr ? options : "") + " suppressions=" + file;
            return setenv(variable, value.c_str(), 1) == 0;
        };
        return daemon.enterEnvironment() && suppress("TSAN_OPTIONS", PIPEWIRE_TSAN_SUPPRESSIONS) &&
               suppress("LSAN_OPTIONS", PIPEWIRE_LSAN_SUPPRESSIONS);
    };
    staging.whileRunning = std::move(whileRunning);
    return NativeRunner().run(answers, {bridge(daemon, extra)}, staging);
}

// Samples lost in a column of the dump, read straight from it: zeros
// where the loop should have given the staircase back. Before
// `roundTrip` and at the staircase's own zero (a run of one, once a
// second) zeros are expected; a run of zeros anywhere else is periods
// PipeWire let go by.
int64_t lostSamples(const std::string& dump, int input, int64_t roundTrip)
{
    std::istringstream lines(dump.substr(dump.find("Position\tvalues\n") + 16));
    std::string line;
    bool started = false;
    int64_t zeros = 0;
    int64_t lost = 0;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        long long position = 0;
        long long value = 0;
        fields >> position;
        for (int k = 0; k <= input; ++k)
            fields >> value;
        if (value == 0) {
            ++zeros;
            continue;
        }
        if (!started && zeros > roundTrip + 1)
            lost += zeros - roundTrip - 1;
        else if (started && zeros > 1)
            lost += zeros;
        started = true;
        zeros = 0;
    }
    return lost + (zeros > 1 ? zeros : 0);
}

// The harness's word that run `r` delivered too few frames (on a loaded
// machine PipeWire can leave the bridge out for most of a short run).
std::string shortRun(int r) { return "warning: run " + std::to_string(r) + " delivered "; }

// For every channel of every run: dropouts reported where periods came
// back as zeros, a fault wherever it is not bit-exact, and the round trip
// measured where it is, the round trip through the sink and its monitor
// being one quantum. Returns the round trips of the whole channels.
std::vector<double> checkLoop(const HarnessResult& run, int runs, int quantum)
{
    const nlohmann::json j = analyse(run, runs);
    std::vector<double> whole;
    EXPECT_EQ(j["runs"].size(), static_cast<size_t>(runs)) << j.dump();
    for (const auto& runJson : j["runs"]) {
        const std::string dump = run.file("ASIO PCM(Run " + std::to_string(runJson["run"].get<int>()) + ").txt");
        EXPECT_EQ(runJson["channels"].size(), 2u);
        for (const auto& ch : runJson["channels"]) {
            SCOPED_TRACE(ch["label"].get<std::string>() + " of run " + std::to_string(runJson["run"].get<int>()));
            const int64_t lost = lostSamples(dump, ch["column"].get<int>(), quantum);
            const int64_t dropouts = ch["faultCounts"].value("dropout", int64_t(0));
            std::cout << ch["label"].get<std::string>() << ": " << lost << " samples lost, " << dropouts
                      << " dropout(s) found\n";
            if (ch["status"] == "silent") {
                // Nothing came back: only where the run fell short and said so.
                EXPECT_NE(run.err.find(shortRun(runJson["run"].get<int>())), std::string::npos)
                    << ch.dump() << "\n" << run.err;
            } else if (lost > 0) {
                EXPECT_EQ(ch["bitExact"], false) << ch.dump();
                EXPECT_GE(dropouts, 1) << ch.dump();
            } else if (ch["bitExact"] == true) {
                if (ch["roundTripSamples"].is_number())
                    whole.push_back(ch["roundTripSamples"].get<double>());
                else
                    ADD_FAILURE() << "no round trip on a whole loop: " << ch.dump();
            } else {
                // A period played twice, say, where the bridge missed a cycle.
                EXPECT_GE(ch["faults"].size(), 1u) << ch.dump();
            }
        }
    }
    return whole;
}

struct StaircaseCase {
    const char* name;
    const char* sampleType;  // registry value
    int type;
};

void PrintTo(const StaircaseCase& c, std::ostream* out) { *out << c.name; }

class JackBridgePipeWireStaircase : public ::testing::TestWithParam<StaircaseCase> {};

TEST_P(JackBridgePipeWireStaircase, LoopsBackThroughTheSinksMonitor)
{
    const StaircaseCase& c = GetParam();
    PipeWireDaemon daemon(c.name);
    ASSERT_TRUE(daemon.ok()) << daemon.log();
    const HarnessResult run = runOn(daemon, "2 300 -1 1\n", {{"SampleType", c.sampleType}});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(count(run.out, "Setup playback\n"), 2u) << run.out;
    EXPECT_EQ(count(run.out, "Got channel info " + std::to_string(c.type) + "\n"), 2u) << run.out;
    EXPECT_EQ(count(run.out, "Buffer sizes are [256, 256] preferred 256 granularity 0\n"), 2u) << run.out;
    // What was played followed the staircase.
    EXPECT_EQ(count(run.out, "Channel 0 had 0 mismatches"), 2u) << run.out;
    EXPECT_EQ(count(run.out, "Channel 1 had 0 mismatches"), 2u) << run.out;
    // The sink's ports declare no latency, and the bridge says so.
    EXPECT_NE(run.file("ASIO Results.txt").find("Input latency is 0, output latency is 0"), std::string::npos)
        << run.file("ASIO Results.txt");
    if (c.type == 18) {
        for (double roundTrip : checkLoop(run, 2, 256))
            EXPECT_EQ(roundTrip, 256.0) << "one quantum through the sink and its monitor";
        return;
    }
    // As floats the staircase's integers are denormals, which the dumps
    // record as zeros; what came back shows in each run's range of the
    // inputs: its top is a step of the staircase, not flushed to zero on
    // the way.
    const std::string rangeLine = "Float values are between ";
    int r = 0;
    for (size_t at = run.out.find(rangeLine); at != std::string::npos; at = run.out.find(rangeLine, at + 1), ++r) {
        SCOPED_TRACE(run.out.substr(at, run.out.find('\n', at) - at));
        std::istringstream range(run.out.substr(at + rangeLine.size()));
        double low = 0;
        std::string word;
        double high = 0;
        ASSERT_TRUE(range >> low >> word >> high);
        if (high == 0.0) {
            EXPECT_NE(run.err.find(shortRun(r)), std::string::npos) << run.err;
            continue;
        }
        const double step = high / std::numeric_limits<float>::denorm_min() / 100.0;
        EXPECT_NEAR(step, std::round(step), 0.05);
    }
    EXPECT_EQ(r, 2) << run.out;
}

INSTANTIATE_TEST_SUITE_P(SampleTypes, JackBridgePipeWireStaircase,
                         ::testing::Values(StaircaseCase{"int32", "dword:00000012", 18},
                                           StaircaseCase{"float32", "dword:00000013", 19}),
                         [](const auto& info) { return std::string(info.param.name); });

// jack_iodelay's round trip through the sink's first channel, wired with
// jack_connect as a user would; -1 when it measured none.
double iodelayRoundTrip(const PipeWireDaemon& daemon, std::string* output)
{
    std::thread wiring([&] {
        for (const auto& pair : {std::make_pair("jack_delay:out", PipeWireDaemon::playback1),
                                 std::make_pair(PipeWireDaemon::monitor1, "jack_delay:in")}) {
            std::string text;
            for (int tries = 0; tries < 100; ++tries) {
                if (daemon.runTool({"jack_connect", pair.first, pair.second}, 5000, &text) == 0)
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(25));
            }
        }
    });
    // It measures continuously and never ends by itself.
    daemon.runTool({"jack_iodelay"}, 4000, output);
    wiring.join();
    return iodelayFrames(*output);
}

// The quantum as the daemon starts, and forced to another before the
// stream as an operator does it: the bridge offers that one size, and
// the round trip it measures is jack_iodelay's.
TEST(JackBridgePipeWire, RoundTripIsJackIodelaysAtTheQuantumInForce)
{
    struct Case {
        const char* tag;
        const char* forced;  // clock.force-quantum, "" for none
        int quantum;
    } cases[] = {{"q256", "", 256}, {"q1024", "1024", 1024}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag);
        PipeWireDaemon daemon(c.tag);
        ASSERT_TRUE(daemon.ok()) << daemon.log();
        std::string output;
        if (*c.forced != '\0') {
            ASSERT_TRUE(daemon.setSetting("clock.force-quantum", c.forced, &output)) << output;
        }
        const HarnessResult run = runOn(daemon, "2 500 -1 1\n");
        ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
        const std::string sizes = "Buffer sizes are [" + std::to_string(c.quantum) + ", " +
                                  std::to_string(c.quantum) + "] preferred " + std::to_string(c.quantum) +
                                  " granularity 0\n";
        EXPECT_EQ(count(run.out, sizes), 2u) << run.out;
        EXPECT_EQ(count(run.out, "Setup playback\n"), 2u) << run.out;
        const std::vector<double> whole = checkLoop(run, 2, c.quantum);

        const double iodelay = iodelayRoundTrip(daemon, &output);
        std::cout << "round trip at quantum " << c.quantum << ": jack_iodelay " << iodelay << " frames, "
                  << whole.size() << " whole channel(s) of 4\n";
        ASSERT_GT(iodelay, 0) << output;
        EXPECT_EQ(std::lround(iodelay), c.quantum) << output;
        for (double roundTrip : whole)
            EXPECT_EQ(std::lround(roundTrip), std::lround(iodelay));
    }
}

// What reaches the host when the daemon changes under a running stream,
// half a second into run 0 of 2 of 2 s each (however long the set-up took
// on a loaded machine): the run ends early with a reset request, the next
// one sets up on what is there now.
TEST(JackBridgePipeWire, DaemonEventsMidRunReachTheHost)
{
    struct Case {
        const char* tag;
        void (*event)(PipeWireDaemon&);
        std::vector<std::string> out;  // standard output
        std::vector<std::string> err;  // standard error
    } cases[] = {
        {"quantum",
         [](PipeWireDaemon& daemon) { daemon.setSetting("clock.force-quantum", "512"); },
         {"ASIO message selector 3, value 0\n", "Buffer sizes are [512, 512] preferred 512 granularity 0\n"},
         {"warning: the JACK server changed its buffer size from 256 to 512 while streaming\n",
          "warning: run 0 delivered ", "the driver asked for a reset "}},
        // PipeWire keeps the quantum's length in time: twice the rate, twice
        // the frames. The rate stays forced, so the next run cannot have 48 kHz.
        {"rate",
         [](PipeWireDaemon& daemon) { daemon.setSetting("clock.force-rate", "96000"); },
         {"Sample rate did change\n", "ASIO message selector 3, value 0\n", "Could not set sampling rate to 48000\n"},
         {"warning: the JACK server changed its buffer size from 256 to 512 while streaming\n",
          "warning: run 0 delivered ", "the driver asked for a reset "}},
        {"killed", [](PipeWireDaemon& daemon) { daemon.kill(); },
         {"ASIO message selector 3, value 0\n", "No JACK server is running (server \""},
         // Its JACK library gives the plain notice, without a reason.
         {"warning: the JACK server shut down: no reason given\n", "warning: run 0 delivered ", "the driver asked for a reset "}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag);
        PipeWireDaemon daemon(c.tag);
        ASSERT_TRUE(daemon.ok()) << daemon.log();
        auto midRun = [&](int, const std::string& stdoutPath) {
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (readFile(stdoutPath).find("Setup playback\n") == std::string::npos &&
                   std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            c.event(daemon);
        };
        const auto began = std::chrono::steady_clock::now();
        const HarnessResult run = runOn(daemon, "2 2000 -1 1\n", {}, midRun);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        EXPECT_LT(seconds, 30.0);
        EXPECT_NE(run.out.find("Setup playback\n"), std::string::npos) << run.out;
        for (const std::string& line : c.out)
            EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n--- in ---\n" << run.out;
        for (const std::string& warning : c.err)
            EXPECT_NE(run.err.find(warning), std::string::npos) << warning << "\n--- in ---\n" << run.err;
    }
}

}  // namespace
