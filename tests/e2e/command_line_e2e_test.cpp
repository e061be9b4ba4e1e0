// The command line: usage and version, the list of driver entries, and the
// driver probe against virtual drivers configured to answer unusually.
// Everything runs the real executable (natively, or the Windows build under
// Wine); the probe's figures are read from its JSON document.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "case_helpers.h"
#include "e2e_runner_choice.h"

namespace {

using nlohmann::json;
using cases::dword;
using cases::quoted;
using cases::Settings;

// Short streams keep the suite quick; the clock's accuracy has a case of
// its own at the default length.
const std::vector<std::string> shortStream = {"--seconds", "0.3"};

VirtualDriverEntry driver(const std::string& name, int id, Settings settings = {})
{
    char clsid[64];
    std::snprintf(clsid, sizeof clsid, "{5E1A0000-0000-4000-8000-%012d}", id);
    return VirtualDriverEntry{name, clsid, "", std::move(settings), true};
}

HarnessResult run(std::vector<std::string> arguments, const std::vector<VirtualDriverEntry>& drivers)
{
    return harnessRunner().runWithArguments(arguments, drivers);
}

struct Probe {
    HarnessResult result;
    json report;  // discarded when standard output is not one JSON document
};

Probe probe(const std::vector<VirtualDriverEntry>& drivers, int index, std::vector<std::string> more = shortStream)
{
    std::vector<std::string> arguments = {"--probe", std::to_string(index), "--json"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    Probe p{run(arguments, drivers), json()};
    p.report = json::parse(p.result.out, nullptr, false);
    return p;
}

// The entry of the probe's call list for `name`, or null.
json callOf(const json& report, const std::string& name)
{
    for (const json& call : report["calls"]) {
        if (call["call"] == name)
            return call;
    }
    return nullptr;
}

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

TEST(CommandLineOptions, BadOptionsGiveOneErrorLineAndTheUsageOnStandardErrorAndStatus2)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--bogus"},
        {"--probe"},                                   // a missing value
        {"--probe", "first"},                          // not a number
        {"--probe", "-1"},
        {"--list", "--probe", "0"},                    // one thing at a time
        {"--seconds", "1"},                            // only for a probe
        {"--probe", "0", "--buffer", "0"},
        {"--probe", "0", "--rate", "-48000"},
        {"--json"},                                    // nothing to write
        {"5"},
        {"--coded", "--list"},                         // the coded test is the dialogue's
        {"--coded", "--probe", "0"},
        {"--coded", "--qualify", "0"},
        {"--coded", "--json"},
        {"--coded", "--seconds", "1"},
        {"--coded", "--map", "identity"},              // the analyser judges a coded session's map
    };
    for (const auto& arguments : bad) {
        std::string shown;
        for (const std::string& a : arguments) shown += a + " ";
        SCOPED_TRACE(shown);
        const HarnessResult r = run(arguments, {driver("Plain", 1)});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(firstLine(r.err).rfind("error: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("\nUsage: loopcheck [OPTIONS]"), std::string::npos) << r.err;
        EXPECT_EQ(r.files(), std::vector<std::string>{});
    }
}

TEST(CommandLineOptions, NumbersThatAreNoNumbersAreRefusedNamingTheOption)
{
    // A range check that compares lets NaN through: it compares false.
    const std::vector<std::vector<std::string>> bad = {
        {"--probe", "0", "--seconds", "nan"}, {"--probe", "0", "--seconds", "inf"},
        {"--probe", "0", "--seconds", "-nan"}, {"--probe", "0", "--rate", "nan"},
        {"--probe", "0", "--rate", "inf"},    {"--probe", "0", "--rate", "1e400"},
    };
    for (const auto& arguments : bad) {
        SCOPED_TRACE(arguments[2] + " " + arguments[3]);
        const HarnessResult r = run(arguments, {driver("Plain", 1)});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(firstLine(r.err).rfind("error: ", 0), 0u) << r.err;
        EXPECT_NE(firstLine(r.err).find(arguments[2]), std::string::npos) << r.err;
    }
}

TEST(CommandLineOptions, StandardOutputThatCannotBeWrittenIsAnErrorWithStatus3NotASignal)
{
    if (wineRunner() != nullptr) GTEST_SKIP() << "the descriptor is set up by the native runner";
    const std::vector<std::vector<std::string>> commands = {
        {"--list"}, {"--list", "--json"}, {"--probe", "0", "--seconds", "0.1"},
        {"--probe", "0", "--json", "--seconds", "0.1"}, {"--help"}, {"--version"},
    };
    for (const auto& arguments : commands) {
        SCOPED_TRACE(arguments[0] + (arguments.size() > 1 ? " " + arguments[1] : ""));
        RunStaging staging;
        staging.arguments = arguments;
        for (const bool closedPipe : {false, true}) {
            SCOPED_TRACE(closedPipe ? "a pipe nothing reads" : "a full disk");
            staging.inHarnessProcess = [closedPipe] {
                if (closedPipe) {
                    int ends[2];
                    if (pipe(ends) != 0) return false;
                    close(ends[0]);
                    return dup2(ends[1], 1) == 1;
                }
                const int full = open("/dev/full", O_WRONLY);
                return full >= 0 && dup2(full, 1) == 1;
            };
            const HarnessResult r = NativeRunner().run("", {driver("Plain", 1)}, staging);
            EXPECT_EQ(r.exitCode, 3);
            EXPECT_EQ(r.err, "error: standard output: cannot write\n");
        }
    }
}

TEST(DriverList, ARegistryLineThatCannotBeReadIsWarnedAboutOnce)
{
    // The driver library reads the same registry file as its host.
    if (wineRunner() != nullptr) GTEST_SKIP() << "the registry file is the native stand-in's";
    const HarnessResult r = run({"--list"}, {driver("Plain", 1, {{"Broken", "nonsense"}})});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("yes"), std::string::npos) << r.out;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find(": value data that is neither text, dword: nor hex:, line skipped\n"), std::string::npos)
        << r.err;
}

TEST(CommandLineOptions, HelpAndVersionGoToStandardOutputWithStatus0)
{
    for (const char* help : {"-h", "--help"}) {
        const HarnessResult r = run({help}, {});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.err, "");
        for (const char* option : {"--version", "--list", "--probe", "--seconds", "--rate", "--buffer", "--json"})
            EXPECT_NE(r.out.find(option), std::string::npos) << option;
    }
    const HarnessResult r = run({"--version"}, {});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    unsigned major = 0, minor = 0, patch = 0;
    EXPECT_EQ(std::sscanf(r.out.c_str(), "loopcheck %u.%u.%u", &major, &minor, &patch), 3) << r.out;
    EXPECT_EQ(r.out.back(), '\n');
    EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << "one line";
}

TEST(DriverList, ListsEveryEntryInIndexOrderWithWhetherItCanBeUsedAndTheSkippedKeys)
{
    VirtualDriverEntry unregistered = driver("B Unregistered", 2);
    unregistered.classRegistered = false;
    // Names in alphabetical order: Windows' registry enumerates keys so.
    const std::vector<VirtualDriverEntry> drivers = {
        driver("A Plain", 1),
        unregistered,
        driver("C Not Created", 3, {{"Fail", quoted("create")}}),
        driver("D Refuses Init", 4, {{"Fail", quoted("init")}}),
    };
    const HarnessResult r = run({"--list", "--json"}, drivers);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json list = json::parse(r.out, nullptr, false);
    ASSERT_FALSE(list.is_discarded()) << r.out;

    ASSERT_EQ(list["drivers"].size(), 3u);
    const char* names[] = {"A Plain", "C Not Created", "D Refuses Init"};
    const char* clsids[] = {"{5E1A0000-0000-4000-8000-000000000001}", "{5E1A0000-0000-4000-8000-000000000003}",
                            "{5E1A0000-0000-4000-8000-000000000004}"};
    const bool usable[] = {true, false, true};  // init is not tried: creating is enough
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(names[i]);
        const json& d = list["drivers"][i];
        EXPECT_EQ(d["index"], i);
        EXPECT_EQ(d["name"], names[i]);
        EXPECT_EQ(d["keyName"], names[i]);
        EXPECT_EQ(d["clsid"], clsids[i]);
        EXPECT_NE(d["server"].get<std::string>().find("loopcheck_loopback"), std::string::npos);
        EXPECT_EQ(d["usable"], usable[i]);
    }
    EXPECT_NE(list["drivers"][1]["problem"].get<std::string>().find("could not be created"), std::string::npos);

    ASSERT_EQ(list["skipped"].size(), 1u);
    EXPECT_EQ(list["skipped"][0]["keyName"], "B Unregistered");
    EXPECT_NE(list["skipped"][0]["reason"].get<std::string>().find("not registered"), std::string::npos);

    // The table says the same, one line per entry.
    const HarnessResult table = run({"--list"}, drivers);
    EXPECT_EQ(table.exitCode, 0);
    for (const std::string& line : {std::string("\n  0      A Plain  "), std::string("\n  1      C Not Created  "),
                                    std::string("\n  2      D Refuses Init  "), std::string("\nSkipped\n")})
        EXPECT_NE(table.out.find(line), std::string::npos) << line << "\n" << table.out;
    EXPECT_NE(table.out.find("ASIO driver key \"B Unregistered\" skipped: "), std::string::npos) << table.out;
}

struct ConfiguredCase {
    const char* name;
    Settings settings;
    std::vector<std::string> arguments;
    std::function<void(const json&)> check;
};

void PrintTo(const ConfiguredCase& c, std::ostream* os) { *os << c.name; }

class ProbeReportsTheDriverAsConfigured : public ::testing::TestWithParam<ConfiguredCase> {};

TEST_P(ProbeReportsTheDriverAsConfigured, Case)
{
    const ConfiguredCase& c = GetParam();
    const Probe p = probe({driver(c.name, 7, c.settings)}, 0, c.arguments);
    ASSERT_FALSE(p.report.is_discarded()) << p.result.out << p.result.err;
    EXPECT_EQ(p.result.exitCode, 0) << p.result.err;
    EXPECT_EQ(p.report["driver"]["name"], c.name);
    EXPECT_EQ(p.report["driver"]["version"], 1);
    c.check(p.report);
}

std::vector<double> acceptedRates(const json& report) { return report["sampleRate"]["accepted"]; }

INSTANTIATE_TEST_SUITE_P(
    VirtualDrivers, ProbeReportsTheDriverAsConfigured,
    ::testing::Values(
        ConfiguredCase{"Plain", {}, shortStream,
                       [](const json& r) {
                           EXPECT_EQ(r["channels"]["inputs"], 2);
                           EXPECT_EQ(r["channels"]["outputs"], 2);
                           EXPECT_EQ(r["bufferSizes"],
                                     json({{"min", 64}, {"max", 2048}, {"preferred", 256}, {"granularity", -1}}));
                           EXPECT_EQ(r["sampleRate"]["current"], 44100.0);
                           EXPECT_EQ(acceptedRates(r), (std::vector<double>{44100, 48000, 96000, 192000}));
                           EXPECT_EQ(r["sampleRate"]["checked"].size(), 13u);
                           EXPECT_EQ(r["latencies"], json({{"input", 288}, {"output", 320}, {"bufferSize", 256}}));
                           ASSERT_EQ(r["clockSources"].size(), 1u);
                           EXPECT_EQ(r["clockSources"][0]["name"], "Internal");
                           EXPECT_EQ(r["clockSources"][0]["current"], true);
                           EXPECT_EQ(r["outputReady"], json({{"supported", false}, {"result", -1000}}));
                           EXPECT_EQ(r["future"]["result"], -998);
                           // Asked and told while the buffers are made.
                           const json messages = json::array({
                               {{"phase", "createBuffers"}, {"selector", 1}, {"value", 2}, {"answer", 1}},
                               {{"phase", "createBuffers"}, {"selector", 1}, {"value", 7}, {"answer", 1}},
                               {{"phase", "createBuffers"}, {"selector", 2}, {"value", 0}, {"answer", 2}},
                               {{"phase", "createBuffers"}, {"selector", 7}, {"value", 0}, {"answer", 1}},
                           });
                           ASSERT_EQ(r["hostMessages"].size(), messages.size());
                           for (size_t i = 0; i < messages.size(); ++i)
                               for (const auto& [key, value] : messages[i].items())
                                   EXPECT_EQ(r["hostMessages"][i][key], value) << i << " " << key;
                           const json& s = r["stream"];
                           EXPECT_TRUE(s["ran"].get<bool>());
                           EXPECT_EQ(s["bufferSize"], 256);
                           EXPECT_EQ(s["usedTimeInfo"], true);
                           EXPECT_EQ(s["plainCallbacks"], 0);
                           EXPECT_GT(s["callbacks"].get<int>(), 10);
                           EXPECT_EQ(s["samplePosition"]["first"], 0);
                           EXPECT_EQ(s["samplePosition"]["difference"], 0);
                           for (const char* call : {"init", "createBuffers", "start", "stop", "disposeBuffers"}) {
                               EXPECT_EQ(callOf(r, call)["ok"], true) << call;
                               EXPECT_GE(callOf(r, call)["ms"].get<double>(), 0.0) << call;
                           }
                       }},
        // Latencies of 0 are told as they are, with a note that they cannot be the device's.
        ConfiguredCase{"No Latency", {{"InputLatency", dword(0)}, {"OutputLatency", dword(0)}},
                       shortStream,
                       [](const json& r) {
                           EXPECT_EQ(r["latencies"]["input"], 0);
                           EXPECT_EQ(r["latencies"]["output"], 0);
                           EXPECT_NE(r["latencies"]["note"].get<std::string>().find("both latencies are 0"),
                                     std::string::npos);
                       }},
        ConfiguredCase{"Restricted Rates", {{"SampleRates", quoted("22050,88200")}}, shortStream,
                       [](const json& r) {
                           EXPECT_EQ(r["sampleRate"]["current"], 22050.0);
                           EXPECT_EQ(acceptedRates(r), (std::vector<double>{22050, 88200}));
                           for (const json& checked : r["sampleRate"]["checked"])
                               EXPECT_EQ(checked["result"], checked["rate"] == 22050.0 || checked["rate"] == 88200.0
                                                                ? 0
                                                                : -995);
                           EXPECT_EQ(r["stream"]["nominalRate"], 22050.0);
                       }},
        ConfiguredCase{"Odd Buffers",
                       {{"BufferMin", dword(17)}, {"BufferMax", dword(4099)}, {"BufferPreferred", dword(96)},
                        {"BufferGranularity", dword(3)}},
                       shortStream,
                       [](const json& r) {
                           EXPECT_EQ(r["bufferSizes"],
                                     json({{"min", 17}, {"max", 4099}, {"preferred", 96}, {"granularity", 3}}));
                           EXPECT_EQ(r["stream"]["bufferSize"], 96);
                           EXPECT_EQ(r["latencies"]["bufferSize"], 96);
                           EXPECT_EQ(r["stream"]["samplePosition"]["difference"], 0);
                       }},
        ConfiguredCase{"No Inputs", {{"Inputs", dword(0)}}, shortStream,
                       [](const json& r) {
                           EXPECT_EQ(r["channels"]["inputs"], 0);
                           ASSERT_EQ(r["channels"]["list"].size(), 2u);
                           for (const json& c : r["channels"]["list"]) EXPECT_EQ(c["input"], false);
                           EXPECT_TRUE(r["stream"]["ran"].get<bool>());
                       }},
        ConfiguredCase{"Forty By Forty",
                       {{"Inputs", dword(40)}, {"Outputs", dword(40)}, {"SampleType", dword(16)}},
                       shortStream,
                       [](const json& r) {
                           EXPECT_EQ(r["channels"]["inputs"], 40);
                           EXPECT_EQ(r["channels"]["outputs"], 40);
                           const json& list = r["channels"]["list"];
                           ASSERT_EQ(list.size(), 80u);
                           // Inputs first, then outputs.
                           EXPECT_EQ(list[39]["name"], "Loopback In 40");
                           EXPECT_EQ(list[40]["name"], "Loopback Out 1");
                           EXPECT_EQ(list[79]["name"], "Loopback Out 40");
                           for (const json& c : list) {
                               EXPECT_EQ(c["type"], 16);
                               EXPECT_EQ(c["typeName"], "ASIOSTInt16LSB");
                               EXPECT_EQ(c["group"], 0);
                               // Asked before the probe made any buffers.
                               EXPECT_EQ(c["active"], false);
                           }
                           EXPECT_TRUE(r["stream"]["ran"].get<bool>());
                       }},
        ConfiguredCase{"Time Info Off", {{"TimeInfo", dword(0)}, {"InputLatency", dword(100)},
                                         {"OutputLatency", dword(-5)}},
                       shortStream,
                       [](const json& r) {
                           const json& s = r["stream"];
                           EXPECT_EQ(s["usedTimeInfo"], false);
                           EXPECT_EQ(s["timeInfoCallbacks"], 0);
                           EXPECT_EQ(s["plainCallbacks"], s["callbacks"]);
                           // Asked for with getSamplePosition instead.
                           EXPECT_EQ(s["samplePosition"]["difference"], 0);
                           EXPECT_EQ(r["latencies"]["input"], 100);
                           EXPECT_EQ(r["latencies"]["output"], -5);
                       }},
        ConfiguredCase{"Chosen Rate And Size", {}, {"--rate", "96000", "--buffer", "512", "--seconds", "0.5"},
                       [](const json& r) {
                           EXPECT_EQ(callOf(r, "setSampleRate")["ok"], true);
                           EXPECT_EQ(r["stream"]["nominalRate"], 96000.0);
                           EXPECT_EQ(r["stream"]["bufferSize"], 512);
                           EXPECT_EQ(r["latencies"]["bufferSize"], 512);
                           EXPECT_NEAR(r["stream"]["measuredRate"].get<double>(), 96000.0, 960.0);
                           // The rate it had is set again afterwards.
                           const json& last = r["calls"][r["calls"].size() - 2];
                           EXPECT_EQ(last["call"], "setSampleRate");
                           EXPECT_EQ(last["ok"], true);
                       }},
        ConfiguredCase{"Refused Rate", {}, {"--rate", "12345", "--seconds", "0.3"},
                       [](const json& r) {
                           EXPECT_EQ(callOf(r, "setSampleRate")["result"], -995);
                           EXPECT_FALSE(r["stream"]["ran"].get<bool>());
                           EXPECT_EQ(callOf(r, "createBuffers"), nullptr);
                           // What does not need the stream is all there.
                           EXPECT_EQ(r["bufferSizes"]["preferred"], 256);
                           EXPECT_EQ(r["latencies"]["input"], 288);
                       }}));

struct FailingCase {
    const char* fail;
    std::vector<std::string> arguments;
    std::function<void(const json&)> check;
};

void PrintTo(const FailingCase& c, std::ostream* os) { *os << "Fail=" << c.fail; }

class ProbeShowsFailingCallsAndGoesOn : public ::testing::TestWithParam<FailingCase> {};

TEST_P(ProbeShowsFailingCallsAndGoesOn, Case)
{
    const FailingCase& c = GetParam();
    const Probe p = probe({driver("Failing", 8, {{"Fail", quoted(c.fail)}, {"ErrorMessage", quoted("Clock lost")}})},
                          0, c.arguments);
    ASSERT_FALSE(p.report.is_discarded()) << p.result.out << p.result.err;
    EXPECT_EQ(p.result.exitCode, 0) << p.result.err;
    // Every call named fails with the malfunction code and the driver's text.
    std::string names = c.fail;
    for (size_t start = 0; start < names.size();) {
        const size_t comma = std::min(names.find(',', start), names.size());
        const std::string call = names.substr(start, comma - start);
        start = comma + 1;
        if (call == "getChannelInfo") {
            // Asked once per channel: the channel list shows each answer.
            for (const json& c : p.report["channels"]["list"]) {
                EXPECT_EQ(c["result"], -999);
                EXPECT_EQ(c["errorMessage"], "Clock lost");
            }
            continue;
        }
        const json entry = callOf(p.report, call);
        EXPECT_EQ(entry["result"], -999) << call;
        EXPECT_EQ(entry["ok"], false) << call;
        EXPECT_EQ(entry["errorMessage"], "Clock lost") << call;
    }
    EXPECT_EQ(p.report["sampleRate"]["checked"].size(), 13u);
    c.check(p.report);
}

INSTANTIATE_TEST_SUITE_P(
    FailPoints, ProbeShowsFailingCallsAndGoesOn,
    ::testing::Values(
        FailingCase{"getBufferSize,getLatencies", shortStream,
                    [](const json& r) {
                        EXPECT_EQ(r["bufferSizes"]["failed"], "getBufferSize");
                        EXPECT_EQ(r["latencies"]["failed"], "getLatencies");
                        EXPECT_FALSE(r["stream"]["ran"].get<bool>());
                        EXPECT_EQ(r["channels"]["outputs"], 2);
                    }},
        // A size given on the command line needs no answer from getBufferSize.
        FailingCase{"getBufferSize", {"--buffer", "128", "--seconds", "0.3"},
                    [](const json& r) {
                        EXPECT_TRUE(r["stream"]["ran"].get<bool>());
                        EXPECT_EQ(r["stream"]["bufferSize"], 128);
                    }},
        FailingCase{"getSampleRate", shortStream,
                    [](const json& r) {
                        EXPECT_EQ(r["sampleRate"]["current"], nullptr);
                        EXPECT_EQ(r["stream"]["nominalRate"], nullptr);
                        EXPECT_TRUE(r["stream"]["ran"].get<bool>());
                        EXPECT_GT(r["stream"]["measuredRate"].get<double>(), 0.0);
                        EXPECT_EQ(r["stream"]["ppm"], nullptr);
                    }},
        FailingCase{"setSampleRate", {"--rate", "48000", "--seconds", "0.3"},
                    [](const json& r) {
                        EXPECT_FALSE(r["stream"]["ran"].get<bool>());
                        EXPECT_EQ(r["sampleRate"]["current"], 44100.0);
                        EXPECT_EQ(r["latencies"]["input"], 288);
                    }},
        FailingCase{"getChannels", shortStream,
                    [](const json& r) {
                        EXPECT_EQ(r["channels"]["failed"], "getChannels");
                        EXPECT_FALSE(r["stream"]["ran"].get<bool>());
                        EXPECT_EQ(r["bufferSizes"]["preferred"], 256);
                    }},
        FailingCase{"getChannelInfo", shortStream,
                    [](const json& r) {
                        EXPECT_EQ(r["channels"]["list"].size(), 4u);
                        // Outputs of a format it does not know are left alone, not skipped.
                        EXPECT_TRUE(r["stream"]["ran"].get<bool>());
                    }},
        FailingCase{"createBuffers", shortStream,
                    [](const json& r) {
                        EXPECT_FALSE(r["stream"]["ran"].get<bool>());
                        EXPECT_EQ(r["stream"]["notRunBecause"], "createBuffers failed");
                        EXPECT_EQ(callOf(r, "start"), nullptr);
                        EXPECT_EQ(r["latencies"]["bufferSize"], 0);
                    }},
        FailingCase{"start", shortStream,
                    [](const json& r) {
                        EXPECT_FALSE(r["stream"]["ran"].get<bool>());
                        EXPECT_EQ(callOf(r, "stop"), nullptr);
                        EXPECT_EQ(callOf(r, "disposeBuffers")["ok"], true);
                    }},
        FailingCase{"stop,disposeBuffers", shortStream, [](const json& r) {
                        EXPECT_TRUE(r["stream"]["ran"].get<bool>());
                        EXPECT_GT(r["stream"]["callbacks"].get<int>(), 10);
                    }}));

TEST(DriverProbe, MeasuresTheVirtualClockWithinOnePercentOfNominal)
{
    // The default length, at the driver's own rate and preferred size.
    const Probe p = probe({driver("Clock", 9, {{"SampleRates", quoted("48000")}})}, 0, {});
    ASSERT_FALSE(p.report.is_discarded()) << p.result.out << p.result.err;
    const json& s = p.report["stream"];
    EXPECT_EQ(s["seconds"], 2.0);
    EXPECT_EQ(s["nominalRate"], 48000.0);
    EXPECT_NEAR(s["measuredRate"].get<double>(), 48000.0, 480.0);
    EXPECT_LT(std::fabs(s["ppm"].get<double>()), 10000.0);
    EXPECT_NEAR(s["periodMs"].get<double>(), 256.0 / 48.0, 1e-9);
    EXPECT_NEAR(s["meanIntervalMs"].get<double>(), 256.0 / 48.0, 256.0 / 48.0 / 100.0);
    EXPECT_LE(s["minIntervalMs"].get<double>(), s["meanIntervalMs"].get<double>());
    EXPECT_GE(s["maxIntervalMs"].get<double>(), s["meanIntervalMs"].get<double>());
    // 2 s of 256-sample periods at 48 kHz is 375 of them; the first comes a
    // period after start.
    EXPECT_NEAR(s["callbacks"].get<double>(), 375.0, 20.0);
    EXPECT_EQ(s["samplePosition"]["framesCounted"].get<int64_t>(),
              (s["timeInfoCallbacks"].get<int64_t>() - 1) * 256);
}

TEST(DriverProbe, DriversThatCannotBeOpenedOrInitialisedGiveStatus1)
{
    const std::vector<VirtualDriverEntry> drivers = {
        driver("A Not Created", 11, {{"Fail", quoted("create")}}),
        driver("B Refuses Init", 12, {{"Fail", quoted("init")}, {"ErrorMessage", quoted("Unplugged")}}),
    };
    struct Case {
        int index;
        bool opened;
        const char* error;  // in openError or initError
    } cases[] = {{0, false, "could not be created"}, {1, true, "Unplugged"}, {2, false, "no driver has the index 2"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        const Probe p = probe(drivers, c.index);
        ASSERT_FALSE(p.report.is_discarded()) << p.result.out;
        EXPECT_EQ(p.result.exitCode, 1);
        EXPECT_EQ(p.report["opened"], c.opened);
        EXPECT_EQ(p.report["initialised"], false);
        const std::string error = p.report[c.opened ? "initError" : "openError"];
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        EXPECT_EQ(firstLine(p.result.err).rfind("error: driver " + std::to_string(c.index) + " could not be ", 0), 0u)
            << p.result.err;
        EXPECT_EQ(p.result.files(), std::vector<std::string>{});
    }
}

// Whether process pid has a handler of its own for SIGINT.
bool catchesInterrupt(int pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("SigCgt:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) & (1ull << (SIGINT - 1))) != 0;
    }
    return false;
}

struct ProbeSignal {
    int signal;
    int status;
    const char* name;
};

class ProbeInterrupted : public ::testing::TestWithParam<ProbeSignal> {};

TEST_P(ProbeInterrupted, StopsTheStreamReportsWhatStreamedAndEndsWithTheSignalsStatus)
{
    if (wineRunner() != nullptr) GTEST_SKIP() << "the signal is sent to the native build's process";
    const ProbeSignal c = GetParam();
    RunStaging staging;
    staging.arguments = {"--probe", "0", "--json", "--seconds", "60"};
    staging.whileRunning = [&](int pid, const std::string&) {
        // The handler is installed just before the driver starts.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!catchesInterrupt(pid) && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kill(pid, c.signal);
    };
    const auto started = std::chrono::steady_clock::now();
    const HarnessResult r = NativeRunner().run("", {driver("Interrupted", 14)}, staging);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    EXPECT_EQ(r.exitCode, c.status);
    EXPECT_EQ(firstLine(r.err), std::string("error: the probe of driver 0 was interrupted (") + c.name + ")");
    const json report = json::parse(r.out, nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << r.out;
    EXPECT_EQ(report["stream"]["interrupted"], true);
    EXPECT_GT(report["stream"]["callbacks"].get<int>(), 10);
    EXPECT_EQ(callOf(report, "stop")["ok"], true);
    EXPECT_EQ(callOf(report, "disposeBuffers")["ok"], true);
}

INSTANTIATE_TEST_SUITE_P(DriverProbe, ProbeInterrupted,
                         ::testing::Values(ProbeSignal{SIGINT, 130, "SIGINT"}, ProbeSignal{SIGTERM, 143, "SIGTERM"},
                                           ProbeSignal{SIGHUP, 129, "SIGHUP"}),
                         [](const ::testing::TestParamInfo<ProbeSignal>& info) {
                             return std::string(info.param.name);
                         });

TEST(DriverProbe, ARateNoClockCanRunAtIsReportedAndTheProbeGoesOn)
{
    // The room for the callback times is sized from the rate: 1e30 Hz must
    // not become an integer it cannot be.
    for (const std::vector<std::string>& more :
         {std::vector<std::string>{"--seconds", "0.1"}, std::vector<std::string>{"--buffer", "64", "--seconds", "0.1"}}) {
        SCOPED_TRACE(more.size());
        const Probe p = probe({driver("Huge Rate", 15, {{"SampleRates", quoted("1e30")}})}, 0, more);
        EXPECT_EQ(p.result.exitCode, 0) << p.result.err;
        ASSERT_FALSE(p.report.is_discarded()) << p.result.out;
        EXPECT_EQ(p.report["sampleRate"]["current"], 1e30) << p.report.dump();
        EXPECT_EQ(p.report["stream"]["nominalRate"], 1e30);
    }
}

TEST(DriverProbe, TableShowsTheAnswersAndTheStream)
{
    const HarnessResult r = run({"--probe", "0", "--seconds", "0.3"},
                                {driver("Table", 13, {{"SampleRates", quoted("48000")}, {"Fail", quoted("stop")}})});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    for (const char* line : {"Driver 0: Table\n", "  name     Table\n", "  inputs   2\n", "  outputs  2\n",
                             "  output     1        Loopback Out 2  18 ASIOSTInt32LSB  0      no\n",
                             "  preferred    256\n", "  current   48000\n", "  accepted  48000\n",
                             "    44100   -995 ASE_NoClock\n", "  outputReady  not supported  -1000 ASE_NotPresent\n",
                             "  createBuffers  7 kAsioSupportsTimeInfo   0                        1\n",
                             "  nominal rate     48000\n", "  late callbacks   "})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    EXPECT_NE(r.out.find("  stop              -999 ASE_HWMalfunction  "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Virtual device failure\n"), std::string::npos) << r.out;
    // Latencies the driver gives are no zeros: no note.
    EXPECT_EQ(r.out.find("  note: "), std::string::npos) << r.out;
}

}  // namespace
