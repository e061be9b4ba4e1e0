// The harness through the JACK bridge on a private server whose loopback
// ports close the loop, its dumps read by loopcheck-analyse, and the round
// trip cross-checked against jack_iodelay on the same server and loop.
#include <gtest/gtest.h>

#include <jack/jack.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <cmath>
#include <iostream>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "bridge_run.h"
#include "harness_runner.h"
#include "jack_server.h"

namespace {

using Settings = BridgeSettings;

VirtualDriverEntry bridge(const std::string& server, Settings extra = {})
{
    return bridgeEntry(server, "loopback:playback_1,loopback:playback_2", "loopback:capture_1,loopback:capture_2",
                       extra);
}

// Connects two ports from a client of its own once both exist.
bool connectWhenThere(const std::string& server, const std::string& from, const std::string& to)
{
    jack_status_t status;
    jack_client_t* client =
        jack_client_open("wiring", jack_options_t(JackNoStartServer | JackServerName), &status, server.c_str());
    if (client == nullptr)
        return false;
    bool connected = false;
    for (int tries = 0; tries < 200 && !connected; ++tries) {
        connected = jack_port_by_name(client, from.c_str()) != nullptr &&
                    jack_port_by_name(client, to.c_str()) != nullptr &&
                    jack_connect(client, from.c_str(), to.c_str()) == 0;
        if (!connected)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    jack_client_close(client);
    return connected;
}

// jack_iodelay's last measured round trip in frames, through loopback
// pair 1; -1 when it measured none.
double iodelayRoundTrip(const std::string& server, std::string* output)
{
    std::thread wiring([&] {
        connectWhenThere(server, "jack_delay:out", "loopback:playback_1");
        connectWhenThere(server, "loopback:capture_1", "jack_delay:in");
    });
    // It measures continuously and never ends by itself.
    runJackTool(server, {"jack_iodelay"}, 4000, output);
    wiring.join();
    return iodelayFrames(*output);
}

TEST(JackBridge, StaircaseLoopsBackExactlyWithTheRoundTripJackIodelayMeasures)
{
    JackServer server("staircase");
    ASSERT_TRUE(server.ok()) << server.log();
    NativeRunner harness;
    const HarnessResult run = harness.run("2 300 -1 1\n", {bridge(server.name())});  // two 300 ms runs at 48 kHz
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(count(run.out, "Setup playback\n"), 2u) << run.out;
    EXPECT_EQ(count(run.out, "Channel 0 had 0 mismatches"), 2u) << run.out;
    EXPECT_EQ(count(run.out, "Channel 1 had 0 mismatches"), 2u) << run.out;
    // The server's one period is the only buffer size offered.
    EXPECT_NE(run.out.find("Buffer sizes are [256, 256] preferred 256 granularity 0\n"), std::string::npos);

    const nlohmann::json j = analyse(run, 2);
    std::vector<double> roundTrips;
    for (const auto& runJson : j["runs"]) {
        ASSERT_EQ(runJson["channels"].size(), 2u);
        for (const auto& ch : runJson["channels"]) {
            SCOPED_TRACE(ch["label"].get<std::string>());
            EXPECT_EQ(ch["bitExact"], true);
            roundTrips.push_back(ch["roundTripSamples"].get<double>());
        }
    }
    ASSERT_EQ(roundTrips.size(), 4u);
    for (double r : roundTrips)
        EXPECT_EQ(r, roundTrips[0]) << "the round trip changed between channels or runs";

    std::string iodelayOutput;
    const double iodelay = iodelayRoundTrip(server.name(), &iodelayOutput);
    std::cout << "round trip on the dummy loop: loopcheck-analyse " << roundTrips[0] << " samples, jack_iodelay "
              << iodelay << " frames\n";
    ASSERT_GT(iodelay, 0) << iodelayOutput;
    EXPECT_EQ(std::lround(iodelay), std::lround(roundTrips[0])) << iodelayOutput;
}

TEST(JackBridge, ReportsTheServersPortLatencies)
{
    JackServer server("latency");
    ASSERT_TRUE(server.ok()) << server.log();
    NativeRunner harness;
    const HarnessResult run = harness.run("1 100 -1 1\n", {bridge(server.name())});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // What the dummy backend declares for its loopback ports at period 256:
    // one period on capture, two on playback.
    EXPECT_NE(run.file("ASIO Results.txt").find("Input latency is 256, output latency is 512"), std::string::npos)
        << run.file("ASIO Results.txt");
}

TEST(JackBridge, OnlyTheServersRateIsAccepted)
{
    JackServer server("rate");
    ASSERT_TRUE(server.ok()) << server.log();
    NativeRunner harness;
    const HarnessResult run = harness.run("1 100 -1 0\n", {bridge(server.name())});  // 44.1 kHz
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.find("Setup playback\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Could not setup playback\n"), std::string::npos) << run.out;
}

struct FloatCase {
    const char* name;
    const char* frequency;
};

class JackBridgeFloat : public ::testing::TestWithParam<FloatCase> {};

// Type 19 passes the host's float bytes through unchanged both ways.
TEST_P(JackBridgeFloat, SignalComesBackUnchanged)
{
    JackServer server(GetParam().name);
    ASSERT_TRUE(server.ok()) << server.log();
    NativeRunner harness;
    const HarnessResult run = harness.run(std::string("2 300 ") + GetParam().frequency + " 1\n",
                                          {bridge(server.name(), {{"SampleType", "dword:00000013"}})});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(count(run.out, "Setup playback\n"), 2u) << run.out;
    EXPECT_EQ(count(run.out, "Got channel info 19\n"), 2u) << run.out;

    const nlohmann::json j = analyse(run, 2);
    for (const auto& runJson : j["runs"]) {
        for (const auto& ch : runJson["channels"]) {
            SCOPED_TRACE(ch["label"].get<std::string>());
            // The sine's onset is found between samples.
            ASSERT_TRUE(ch["roundTripSamples"].is_number()) << ch.dump();
            EXPECT_NEAR(ch["roundTripSamples"].get<double>(), 256.0, 0.01) << ch.dump();
            EXPECT_EQ(ch["faults"].size(), 0u) << ch.dump();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(PulseAndSine, JackBridgeFloat,
                         ::testing::Values(FloatCase{"pulse", "0"}, FloatCase{"sine", "1000"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(JackBridge, NoServerFailsInitWithTheServersNameAndEndsInSeconds)
{
    const std::string absent = uniqueServerName("absent");
    NativeRunner harness;
    const auto began = std::chrono::steady_clock::now();
    const HarnessResult run = harness.run("2 300 -1 1\n", {bridge(absent)});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_LT(seconds, 10.0);
    EXPECT_GE(count(run.out, "No JACK server is running (server \"" + absent + "\")"), 2u) << run.out;
    EXPECT_EQ(run.out.find("Setup playback"), std::string::npos) << run.out;
    // None of the JACK library's own chatter reaches the host's standard error.
    EXPECT_EQ(run.err, "");
}

// Without a server name the message says where the JACK library looked:
// jackd2's library its default server, PipeWire's JACK library (found
// first on the library path, as pw-jack does it) the PipeWire daemon.
struct DefaultServerCase {
    const char* name;
    const char* libraryPath;  // empty: the system's libjack
    const char* variable;     // names the server the library tries
    const char* expected;     // the message, with %s for the absent name
};

void PrintTo(const DefaultServerCase& c, std::ostream* out) { *out << c.name; }

class JackBridgeDefaultServer : public ::testing::TestWithParam<DefaultServerCase> {};

TEST_P(JackBridgeDefaultServer, NoServerSaysWhichServerWasTried)
{
    const DefaultServerCase& c = GetParam();
    const std::string absent = uniqueServerName("absent");
    char runtime[] = "/tmp/loopcheck-runtime-XXXXXX";
    ASSERT_NE(mkdtemp(runtime), nullptr);
    // The child harness inherits these; each test runs in its own process.
    setenv(c.variable, absent.c_str(), 1);
    setenv("PIPEWIRE_RUNTIME_DIR", runtime, 1);
    setenv("XDG_RUNTIME_DIR", runtime, 1);
    if (*c.libraryPath != '\0') {
        ASSERT_EQ(access((std::string(c.libraryPath) + "/libjack.so.0").c_str(), R_OK), 0)
            << c.libraryPath << ": PipeWire's JACK library is missing (scripts/setup test installs pipewire-jack)";
        setenv("LD_LIBRARY_PATH", c.libraryPath, 1);
    }
    const HarnessResult run = NativeRunner().run("1 300 -1 1\n", {bridge("")});
    unsetenv("LD_LIBRARY_PATH");
    rmdir(runtime);
    std::string expected = c.expected;
    expected.replace(expected.find("%s"), 2, absent);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find(expected), std::string::npos) << run.out;
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, JackBridgeDefaultServer,
    ::testing::Values(DefaultServerCase{"jackd2", "", "JACK_DEFAULT_SERVER",
                                        "No JACK server is running (tried server \"%s\", the JACK library's default)"},
                      DefaultServerCase{"PipeWire", PIPEWIRE_JACK_LIBRARY_DIR, "PIPEWIRE_REMOTE",
                                        "No JACK server is running (tried the PipeWire daemon \"%s\", through "
                                        "PipeWire's JACK library)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JackBridge, ServerKilledMidRunEndsTheRunAndTheHarnessGoesOn)
{
    JackServer server("killed");
    ASSERT_TRUE(server.ok()) << server.log();
    std::thread killer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        server.kill();
    });
    NativeRunner harness;
    const auto began = std::chrono::steady_clock::now();
    const HarnessResult run = harness.run("2 2000 -1 1\n", {bridge(server.name())});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    killer.join();
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_LT(seconds, 30.0);
    // The first run streamed until the server went, and heard of it.
    EXPECT_NE(run.out.find("Setup playback\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("ASIO message selector 3, value 0\n"), std::string::npos) << run.out;
    // The second finds no server.
    EXPECT_NE(run.out.find("No JACK server is running (server \"" + server.name() + "\")"), std::string::npos)
        << run.out;
    // Standard error says what happened to the first: the server's going,
    // with JACK's reason, and the run that fell short for it.
    EXPECT_NE(run.err.find("warning: the JACK server shut down: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("warning: run 0 delivered "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("the driver asked for a reset "), std::string::npos) << run.err;
}

// The registry file the build writes for users: the virtual driver and the
// bridge, which joins the default server (here the private one, named as
// JACK clients find it) and its physical ports.
TEST(JackBridge, TheBuildsRegistryFileOffersTheBridgeOnTheDefaultServer)
{
    JackServer server("default");
    ASSERT_TRUE(server.ok()) << server.log();
    RunStaging staging;
    staging.inHarnessProcess = [&] {
        return setenv("LOOPCHECK_REGISTRY", JACK_REGISTRY_FILE, 1) == 0 &&
               setenv("JACK_DEFAULT_SERVER", server.name().c_str(), 1) == 0;
    };
    NativeRunner harness;
    const HarnessResult run = harness.run("1 200 -1 0 1\n", {}, staging);  // device 0, 48 kHz
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("0 Loopcheck JACK Bridge\n1 Loopcheck Virtual Loopback\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Device is Loopcheck JACK Bridge\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Setup playback\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Channel 1 had 0 mismatches"), std::string::npos) << run.out;
    // The dummy backend's physical ports: playback 512, capture 256.
    EXPECT_NE(run.file("ASIO Results.txt").find("Input latency is 256, output latency is 512"), std::string::npos);
}

// A server that stops answering (its process stopped) must not hold the
// harness: disposing of the buffers, releasing the driver and opening it
// for the next run each give up after a few seconds.
TEST(JackBridge, ServerFrozenMidRunHoldsNothing)
{
    JackServer server("frozen");
    ASSERT_TRUE(server.ok()) << server.log();
    std::thread freezer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        server.freeze();
    });
    NativeRunner harness;
    const auto began = std::chrono::steady_clock::now();
    const HarnessResult run = harness.run("2 2000 -1 1\n", {bridge(server.name())});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    freezer.join();
    server.thaw();
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_LT(seconds, 40.0);
    EXPECT_NE(run.out.find("Setup playback\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Error is The JACK server \"" + server.name() + "\" does not answer\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.err.find("warning: the JACK server did not answer"), std::string::npos) << run.err;
}

TEST(JackBridge, BufferSizeChangedMidRunAsksForAResetAndTheRunEnds)
{
    JackServer server("bufsize");
    ASSERT_TRUE(server.ok()) << server.log();
    std::string bufsizeOutput;
    int bufsizeStatus = -1;
    std::thread changer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        bufsizeStatus = runJackTool(server.name(), {"jack_bufsize", "512"}, 10000, &bufsizeOutput);
    });
    NativeRunner harness;
    const HarnessResult run = harness.run("2 2000 -1 1\n", {bridge(server.name())});
    changer.join();
    EXPECT_EQ(bufsizeStatus, 0) << bufsizeOutput;
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("ASIO message selector 3, value 0\n"), std::string::npos) << run.out;
    // The next run sets up on the new period.
    EXPECT_NE(run.out.find("Buffer sizes are [512, 512] preferred 512 granularity 0\n"), std::string::npos)
        << run.out;
    EXPECT_EQ(count(run.out, "Setup playback\n"), 2u) << run.out;
    EXPECT_NE(run.err.find("warning: the JACK server changed its buffer size from 256 to 512 while streaming\n"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("warning: run 0 delivered "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("the driver asked for a reset "), std::string::npos) << run.err;
}

// What the operator sees on standard error for each thing a server may do
// in the middle of a run; standard output keeps only the driver's messages.
TEST(JackBridge, ServerEventsMidRunAreWarnedOf)
{
    struct Case {
        const char* tag;
        // What happens to the server, about 0.8 s into run 0 of 1 of 3 s.
        void (*event)(JackServer&);
        std::vector<std::string> warnings;
    } cases[] = {
        {"resize-and-back",
         [](JackServer& server) {
             std::string output;
             runJackTool(server.name(), {"jack_bufsize", "512"}, 10000, &output);
             std::this_thread::sleep_for(std::chrono::milliseconds(1000));
             runJackTool(server.name(), {"jack_bufsize", "256"}, 10000, &output);
         },
         {"warning: the JACK server changed its buffer size 2 times while streaming, from 256 at first to 256 at "
          "last\n",
          "warning: run 0 delivered ", "warning: run 0: the longest gap between callbacks was ",
          "the driver asked for a reset "}},
        {"freewheel",
         [](JackServer& server) {
             std::string output;
             runJackTool(server.name(), {"jack_freewheel", "y"}, 10000, &output);
             std::this_thread::sleep_for(std::chrono::milliseconds(1000));
             runJackTool(server.name(), {"jack_freewheel", "n"}, 10000, &output);
         },
         {"warning: the JACK server started freewheeling while streaming (1 time(s))\n",
          "warning: the JACK server stopped freewheeling while streaming (1 time(s))\n", "warning: run 0 delivered ",
          "the driver asked for a resync "}},
        {"terminated", [](JackServer& server) { server.stop(); },
         {"warning: the JACK server shut down: ", "warning: run 0 delivered ", "the driver asked for a reset "}},
        {"stopped-and-continued",
         [](JackServer& server) {
             server.freeze();
             std::this_thread::sleep_for(std::chrono::milliseconds(1200));
             server.thaw();
         },
         {"warning: run 0 delivered ", "warning: run 0: the longest gap between callbacks was "}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag);
        JackServer server(c.tag);
        ASSERT_TRUE(server.ok()) << server.log();
        std::thread event([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(800));
            c.event(server);
        });
        NativeRunner harness;
        const HarnessResult run = harness.run("1 3000 -1 1\n", {bridge(server.name())});
        event.join();
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        EXPECT_NE(run.out.find("Setup playback\n"), std::string::npos) << run.out;
        for (const std::string& warning : c.warnings)
            EXPECT_NE(run.err.find(warning), std::string::npos) << warning << "\n--- in ---\n" << run.err;
    }
}

}  // namespace

// A qualification through the bridge: the server's rate and period make
// the one cell offered, and its round trip is the one jack_iodelay measures.
TEST(JackBridge, QualificationOffersTheServersOneCellWithJackIodelaysRoundTrip)
{
    JackServer server("qualify");
    ASSERT_TRUE(server.ok()) << server.log();
    NativeRunner harness;
    RunStaging staging;
    staging.arguments = {"--qualify", "0", "--rates", "all", "--buffers", "128,256,512", "--runs", "2",
                         "--seconds", "0.3", "--report", "qualified"};
    const HarnessResult run = harness.run("", {bridge(server.name())}, staging);
    // Whether the cell passes is the loop's to say (an xrun of a busy
    // machine is a glitch); that it is the one offered is the bridge's.
    ASSERT_TRUE(run.exitCode == 0 || run.exitCode == 1) << run.out << run.err;
    const nlohmann::json report = nlohmann::json::parse(run.file("qualified/report.json"), nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << run.err;
    ASSERT_EQ(report["cells"].size(), 18u);
    double roundTrip = -1;
    for (const auto& cell : report["cells"]) {
        const bool theOne = cell["rate"] == 48000.0 && cell["bufferSize"] == 256;
        if (!theOne) {
            EXPECT_EQ(cell["verdict"], "not offered") << cell.dump(1);
            continue;
        }
        EXPECT_NE(cell["verdict"], "not offered");
        ASSERT_TRUE(cell["measured"].is_object()) << cell.dump(1);
        roundTrip = cell["measured"]["roundTrip"].get<double>();
    }
    std::string iodelayOutput;
    const double iodelay = iodelayRoundTrip(server.name(), &iodelayOutput);
    ASSERT_GT(iodelay, 0) << iodelayOutput;
    EXPECT_EQ(std::lround(iodelay), std::lround(roundTrip)) << iodelayOutput;
}

// The bridge's inputs wired to the loopback ports crossed, so input 0 hears
// output 1 and input 1 output 0: the qualification must measure that map,
// pass it when it is the one expected and fail it when identity is. The
// server's loop runs on between the cell's starts: a routing start that
// came within a period of the last run's stop heard that run's staircase
// in its lead-in and called every input dead.
TEST(JackBridge, QualificationReportsACrossedLoopAsCrossed)
{
    JackServer server("crossed");
    ASSERT_TRUE(server.ok()) << server.log();
    const VirtualDriverEntry crossed = bridgeEntry(server.name(), "loopback:playback_1,loopback:playback_2",
                                                   "loopback:capture_2,loopback:capture_1");
    struct MapCase {
        std::vector<std::string> map;
        const char* failure;  // the routing's reason, when the map is not met
    };
    const MapCase cases[] = {
        {{}, nullptr},
        {{"--map", "0:1,1:0"}, nullptr},
        {{"--map", "identity"}, "routing, input 0: hears output 1, expected output 0"},
    };
    for (const MapCase& c : cases) {
        SCOPED_TRACE(c.map.empty() ? "no map" : c.map[1]);
        NativeRunner harness;
        RunStaging staging;
        staging.arguments = {"--qualify", "0", "--rates", "48000", "--buffers", "256", "--runs", "1",
                             "--seconds", "0.3", "--report", "qualified"};
        staging.arguments.insert(staging.arguments.end(), c.map.begin(), c.map.end());
        const HarnessResult run = harness.run("", {crossed}, staging);
        ASSERT_TRUE(run.exitCode == 0 || run.exitCode == 1) << run.out << run.err;
        const nlohmann::json report = nlohmann::json::parse(run.file("qualified/report.json"), nullptr, false);
        ASSERT_FALSE(report.is_discarded()) << run.err;
        ASSERT_EQ(report["cells"].size(), 1u);
        const nlohmann::json& cell = report["cells"][0];
        ASSERT_TRUE(cell.contains("routing")) << cell.dump(1);
        const nlohmann::json& inputs = cell["routing"]["inputs"];
        ASSERT_EQ(inputs.size(), 2u) << cell["routing"].dump(1);
        for (int k = 0; k < 2; ++k) {
            SCOPED_TRACE("input " + std::to_string(k));
            EXPECT_EQ(inputs[k]["dead"], false) << inputs[k].dump(1);
            EXPECT_EQ(inputs[k]["heard"], 1 - k) << inputs[k].dump(1);
            EXPECT_NEAR(inputs[k]["levelDb"].get<double>(), 0.0, 0.5) << inputs[k].dump(1);
            // JACK mixes nothing in: no other output above the floor.
            EXPECT_EQ(inputs[k]["leakFrom"], nullptr) << inputs[k].dump(1);
            if (cell["measured"].is_object()) {
                EXPECT_NEAR(inputs[k]["roundTrip"].get<double>(), cell["measured"]["roundTrip"].get<double>(), 0.5);
            }
        }
        // An xrun of a busy machine may fail the cell as a glitch; only the
        // routing's own reasons are the map's to give.
        std::vector<std::string> routingFailures;
        for (const auto& failure : cell["failures"]) {
            const std::string text = failure.get<std::string>();
            if (text.rfind("routing", 0) == 0) routingFailures.push_back(text);
        }
        if (c.failure == nullptr) {
            EXPECT_TRUE(routingFailures.empty()) << cell["failures"].dump(1);
        } else {
            EXPECT_EQ(cell["verdict"], "failed");
            EXPECT_EQ(run.exitCode, 1);
            ASSERT_FALSE(routingFailures.empty()) << cell["failures"].dump(1);
            EXPECT_EQ(routingFailures[0].rfind(c.failure, 0), 0u) << routingFailures[0];
        }
    }
}
