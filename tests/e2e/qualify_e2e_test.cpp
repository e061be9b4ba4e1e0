// The qualification of a driver: the virtual driver configured with a
// hidden latency that grows with the buffer size and a dead input at one
// size, qualified over rates and sizes it partly offers. The cells and
// figures are read from report.json; junit.xml and index.html are read by
// a real JUnit reader and a real browser and compared with it.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
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

VirtualDriverEntry driver(const std::string& name, int id, Settings settings = {})
{
    char clsid[64];
    std::snprintf(clsid, sizeof clsid, "{5E1A0000-0000-4000-8000-%012d}", id);
    return VirtualDriverEntry{name, clsid, "", std::move(settings), true};
}

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// A device whose hidden latency is half its buffer size (the loop's delay
// is never shorter than one buffer, so every size here stays above it),
// whose input 1 is dead at 128 samples only, and which offers two rates.
Settings matrixDevice(int sampleType)
{
    return {{"SampleType", dword(sampleType)},      {"SampleRates", quoted("44100,48000")},
            {"BufferMin", dword(64)},               {"BufferMax", dword(512)},
            {"BufferPreferred", dword(256)},        {"ExtraDelayPerMille", dword(500)},
            {"DeadInputs", quoted("1")},            {"RoutingAtBufferSize", dword(128)}};
}

const std::vector<std::string> shortCells = {"--runs", "2", "--seconds", "0.3"};

struct Qualification {
    HarnessResult result;
    json report;  // discarded when report.json is missing or not JSON
};

Qualification qualify(HarnessRunner& runner, const std::vector<VirtualDriverEntry>& drivers,
                      std::vector<std::string> more)
{
    std::vector<std::string> arguments = {"--qualify", "0", "--report", "qualified"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    Qualification q{runner.runWithArguments(arguments, drivers), json()};
    q.report = json::parse(q.result.file("qualified/report.json"), nullptr, false);
    return q;
}

// What a cell of the matrix device must show.
struct ExpectedCell {
    double rate;
    int size;
    const char* verdict;
};

void expectMatrix(const json& report, const std::vector<ExpectedCell>& expected, int runs)
{
    ASSERT_EQ(report["cells"].size(), expected.size()) << report.dump(1);
    for (size_t i = 0; i < expected.size(); ++i) {
        const ExpectedCell& e = expected[i];
        const json& cell = report["cells"][i];
        SCOPED_TRACE(std::to_string(e.rate) + " Hz, " + std::to_string(e.size));
        EXPECT_EQ(cell["rate"], e.rate);
        EXPECT_EQ(cell["bufferSize"], e.size);
        EXPECT_EQ(cell["verdict"], e.verdict) << cell.dump(1);
        if (std::string(e.verdict) == "not offered") {
            EXPECT_FALSE(cell.contains("runs"));
            continue;
        }
        EXPECT_EQ(cell["reported"]["roundTrip"], 608);
        EXPECT_NEAR(cell["reported"]["roundTripMs"].get<double>(), 608.0 / e.rate * 1000.0, 1e-9);
        ASSERT_TRUE(cell["measured"].is_object()) << cell.dump(1);
        // Samples as the driver delays them; a sine's fitted onset is
        // within a hundredth of one.
        EXPECT_NEAR(cell["measured"]["roundTrip"].get<double>(), 608 + e.size / 2, 0.01);
        EXPECT_NEAR(cell["hiddenLatency"].get<double>(), e.size / 2, 0.01);
        EXPECT_EQ(cell["glitches"], 0);
        ASSERT_EQ(cell["runs"].size(), static_cast<size_t>(runs));
        for (const json& run : cell["runs"]) {
            EXPECT_EQ(run["interrupted"], false);
            EXPECT_GT(run["timing"]["callbacks"].get<int>(), 0);
            ASSERT_EQ(run["inputs"].size(), 2u);
            EXPECT_EQ(run["inputs"][0]["passed"], true) << run["inputs"][0].dump(1);
            EXPECT_EQ(run["inputs"][1]["passed"], e.size != 128) << run["inputs"][1].dump(1);
        }
        if (e.size == 128) {
            ASSERT_FALSE(cell["failures"].empty());
            EXPECT_EQ(cell["failures"][0], "run 0, channel 3: no usable signal (silent)");
        } else {
            EXPECT_EQ(cell["failures"], json::array());
        }
    }
}

std::vector<ExpectedCell> matrixCells()
{
    std::vector<ExpectedCell> cells;
    for (double rate : {44100.0, 48000.0, 96000.0})
        for (int size : {64, 128, 256, 512})
            cells.push_back({rate, size, rate == 96000.0 ? "not offered" : size == 128 ? "failed" : "passed"});
    return cells;
}

class QualifyMatrix : public ::testing::TestWithParam<int> {};

TEST_P(QualifyMatrix, FindsExactlyTheConfiguredCellsAndValues)
{
    std::vector<std::string> more = shortCells;
    more.insert(more.end(), {"--rates", "44100,48000,96000"});
    const Qualification q = qualify(harnessRunner(), {driver("Matrix", 1, matrixDevice(GetParam()))}, more);
    EXPECT_EQ(q.result.exitCode, 1) << q.result.err;
    ASSERT_FALSE(q.report.is_discarded()) << q.result.err;
    EXPECT_EQ(q.report["format"], "loopcheck-qualification");
    EXPECT_EQ(q.report["version"], 1);
    EXPECT_EQ(q.report["verdict"], "failed");
    EXPECT_EQ(q.report["offeredCells"], 8);
    EXPECT_EQ(q.report["failedCells"], 2);
    EXPECT_EQ(q.report["driver"]["sampleType"], GetParam());
    expectMatrix(q.report, matrixCells(), 2);
    // The staircase where the format carries it bit for bit; on floats the
    // runs take turns with the pulse and the sine.
    const json& runs = q.report["cells"][0]["runs"];
    EXPECT_EQ(runs[0]["signal"], GetParam() == 19 ? "pulse" : "staircase");
    EXPECT_EQ(runs[1]["signal"], GetParam() == 19 ? "sine" : "staircase");
    // One line per cell and the verdict on standard output.
    EXPECT_NE(q.result.out.find("\n48000     128       608    672.00   64.00         0"), std::string::npos)
        << q.result.out;
    EXPECT_NE(q.result.out.find("qualification of driver 0 (Matrix): failed, 2 of 8 offered cells failed\n"),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Qualify, QualifyMatrix, ::testing::Values(16, 18, 19),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "SampleType" + std::to_string(info.param);
                         });

// junit.xml and index.html read by a JUnit reader and headless Chromium
// against report.json; what differs is said.
void expectPagesTellWhatReportJsonTells(const std::string& folder)
{
    const std::string command =
        std::string(LOOPCHECK_PYTHON3) + " " + LOOPCHECK_REPORT_CHECK + " " + folder + " " + LOOPCHECK_CHROMIUM + " 2>&1";
    std::FILE* checker = popen(command.c_str(), "r");
    ASSERT_NE(checker, nullptr);
    std::string said;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, checker) != nullptr) said += buffer;
    EXPECT_EQ(pclose(checker), 0) << said;
    EXPECT_EQ(said, "");
}

TEST(Qualify, JunitAndPageTellWhatReportJsonTells)
{
    if (wineRunner() != nullptr) GTEST_SKIP() << "the Windows build writes no junit.xml";
    NativeRunner native;
    std::vector<std::string> more = shortCells;
    more.insert(more.end(), {"--rates", "48000,96000", "--buffers", "64,128,100", "--max-hidden-latency", "40"});
    const Qualification q = qualify(native, {driver("Pages", 2, matrixDevice(18))}, more);
    EXPECT_EQ(q.result.exitCode, 1) << q.result.err;
    ASSERT_FALSE(q.report.is_discarded()) << q.result.err;
    // 64 keeps its hidden 32 within 40; 128 has 64 beyond it and the dead
    // input; 100 is no size the driver announces.
    ASSERT_EQ(q.report["cells"].size(), 6u);
    EXPECT_EQ(q.report["cells"][0]["verdict"], "passed");
    EXPECT_EQ(q.report["cells"][1]["verdict"], "not offered");
    EXPECT_EQ(q.report["cells"][2]["verdict"], "failed");
    EXPECT_NE(q.report["cells"][2]["failures"].dump().find("hidden latency 64 beyond 40 samples"), std::string::npos)
        << q.report["cells"][2]["failures"].dump();

    expectPagesTellWhatReportJsonTells(q.result.folder + "/qualified");
    // The page needs nothing from elsewhere.
    const std::string page = q.result.file("qualified/index.html");
    EXPECT_EQ(page.find("src="), std::string::npos);
    EXPECT_EQ(page.find("href="), std::string::npos);
    EXPECT_NE(page.find("<svg id=\"chart\""), std::string::npos);
    EXPECT_NE(page.find("<svg class=\"waveform\""), std::string::npos);
}

TEST(Qualify, EveryOfferedCellPassingEndsWith0)
{
    const Qualification q =
        qualify(harnessRunner(), {driver("Clean", 3)}, {"--runs", "1", "--seconds", "0.3", "--rates", "48000",
                                                        "--buffers", "preferred", "--signal", "pulse"});
    EXPECT_EQ(q.result.exitCode, 0) << q.result.err;
    ASSERT_FALSE(q.report.is_discarded());
    EXPECT_EQ(q.report["verdict"], "passed");
    ASSERT_EQ(q.report["cells"].size(), 1u);
    EXPECT_EQ(q.report["cells"][0]["bufferSize"], 256);
    EXPECT_EQ(q.report["cells"][0]["runs"][0]["signal"], "pulse");
}

TEST(Qualify, TheDefaultsTakeTheRatesTheDriverAcceptsAndTheSizesItAnnounces)
{
    // Of the six rates the driver accepts 44100 and 96000. Its sizes run
    // from 100 to 400 in steps of 50: no power of two between them is one
    // of its steps, which leaves the minimum, the preferred and the maximum.
    const Qualification q = qualify(harnessRunner(),
                                    {driver("Defaults", 4,
                                            {{"SampleRates", quoted("8000,44100,96000")},
                                             {"BufferMin", dword(100)},
                                             {"BufferMax", dword(400)},
                                             {"BufferPreferred", dword(300)},
                                             {"BufferGranularity", dword(50)}})},
                                    {"--runs", "1", "--seconds", "0.2"});
    EXPECT_EQ(q.result.exitCode, 0) << q.result.err;
    ASSERT_FALSE(q.report.is_discarded());
    EXPECT_EQ(q.report["rates"], json::array({44100.0, 96000.0}));
    EXPECT_EQ(q.report["bufferSizes"], json::array({100, 300, 400}));
    EXPECT_EQ(q.report["cells"].size(), 6u);
}

TEST(Qualify, NothingThatCanBeQualifiedEndsWith2)
{
    struct Case {
        const char* name;
        const char* index;
        std::vector<VirtualDriverEntry> drivers;
        std::vector<std::string> more;
        const char* error;
    };
    const std::vector<Case> table = {
        {"no rate offered", "0", {driver("Slow", 5)}, {"--rates", "88200"},
         "error: nothing could be qualified: the driver offers none of the cells tried"},
        {"no such driver", "3", {driver("Alone", 6)}, {},
         "error: nothing could be qualified: no driver has the index 3 (1 listed)"},
        {"init refused", "0", {driver("Refuses", 7, {{"Fail", quoted("init")}})}, {},
         "error: nothing could be qualified: driver 0 could not be initialised: Virtual device failure"},
        {"no inputs", "0", {driver("Mute", 8, {{"Inputs", dword(0)}})}, {},
         "error: nothing could be qualified: the driver has 2 outputs and 0 inputs: a loop needs both"},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> more = {"--runs", "1", "--seconds", "0.2"};
        more.insert(more.end(), c.more.begin(), c.more.end());
        std::vector<std::string> arguments = {"--qualify", c.index, "--report", "qualified"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        const HarnessResult r = harnessRunner().runWithArguments(arguments, c.drivers);
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_EQ(firstLine(r.err).rfind(c.error, 0), 0u) << r.err;
        const json report = json::parse(r.file("qualified/report.json"), nullptr, false);
        ASSERT_FALSE(report.is_discarded());
        EXPECT_EQ(report["verdict"], "not qualified");
    }
}

TEST(Qualify, BadOptionsEndWith2NamingTheOptionAndLeaveNoReport)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--qualify", "0", "--runs", "0"},
        {"--qualify", "0", "--runs", "nan"},
        {"--qualify", "0", "--rates", "nan"},
        {"--qualify", "0", "--rates", "48000,inf"},
        {"--qualify", "0", "--rates", "48000,,44100"},
        {"--qualify", "0", "--buffers", "0"},
        {"--qualify", "0", "--buffers", "1.5"},
        {"--qualify", "0", "--buffers", "nan"},
        {"--qualify", "0", "--signal", "square"},
        {"--qualify", "0", "--signal", "sine:nan"},
        {"--qualify", "0", "--signal", "sine:-5"},
        {"--qualify", "0", "--max-hidden-latency", "-1"},
        {"--qualify", "0", "--max-hidden-latency", "inf"},
        {"--qualify", "0", "--seconds", "inf"},
        {"--qualify", "0", "--map", "swapped"},
        {"--qualify", "0", "--map", "0:1,0:0"},
        {"--qualify", "0", "--map", "0:32"},
        {"--qualify", "0", "--map", "0:1,"},
        {"--qualify", "0", "--max-crosstalk", "nan"},
        {"--qualify", "0", "--max-crosstalk", "6"},
        {"--qualify", "0", "--report", ""},
        {"--qualify", "-1"},
        {"--qualify", "0", "--probe", "0"},
        {"--qualify", "0", "--list"},
        {"--qualify", "0", "--json"},
        {"--runs", "3"},
        {"--probe", "0", "--rates", "48000"},
    };
    for (const auto& arguments : bad) {
        std::string shown;
        for (const std::string& a : arguments) shown += a + " ";
        SCOPED_TRACE(shown);
        const HarnessResult r = harnessRunner().runWithArguments(arguments, {driver("Plain", 9)});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(firstLine(r.err).rfind("error: ", 0), 0u) << r.err;
        const std::string& named = arguments[arguments.size() >= 4 ? 2 : 0];
        EXPECT_NE(firstLine(r.err).find(named), std::string::npos) << r.err;
        EXPECT_EQ(r.files(), std::vector<std::string>{});
    }
}

TEST(Qualify, AReportFolderThatCannotBeMadeEndsWith2BeforeAnythingStreams)
{
    RunStaging staging;
    staging.arguments = {"--qualify", "0", "--report", "taken/report"};
    staging.prepareFolder = [](const std::string& folder) { std::ofstream(folder + "/taken") << "a file\n"; };
    const HarnessResult r = NativeRunner().run("", {driver("Plain", 10)}, staging);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(firstLine(r.err).rfind("error: the report folder cannot be written: taken/report", 0), 0u) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST(Qualify, AProgressLineShowsTheCellTheTimeLeftAndTheRunOnATerminalOnly)
{
    if (wineRunner() != nullptr) GTEST_SKIP() << "the terminal is given to the native build's process";
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    RunStaging staging;
    staging.arguments = {"--qualify", "0", "--report", "qualified", "--rates", "48000", "--buffers", "64,256",
                         "--runs", "2", "--seconds", "0.4"};
    staging.inHarnessProcess = [&] { return dup2(slave, 2) == 2; };
    std::string shown;
    staging.whileRunning = [&](int, const std::string&) {
        // Once the harness has the terminal, the line ends for the reader
        // when the harness's side is gone.
        close(slave);
        slave = -1;
        char buffer[4096];
        for (;;) {
            pollfd ready{master, POLLIN, 0};
            if (poll(&ready, 1, 30000) <= 0) break;
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n <= 0) break;
            shown.append(buffer, static_cast<size_t>(n));
        }
    };
    const HarnessResult r = NativeRunner().run("", {driver("Progress", 12)}, staging);
    if (slave >= 0) close(slave);
    close(master);
    EXPECT_EQ(r.exitCode, 0) << shown;
    EXPECT_NE(shown.find("cell 1 of 2 (48000 Hz, 64 samples), about 2 s left: run 1 of 2 ["), std::string::npos)
        << shown;
    EXPECT_NE(shown.find("cell 2 of 2 (48000 Hz, 256 samples), about 1 s left: run 2 of 2 ["), std::string::npos)
        << shown;
    EXPECT_EQ(r.out.find("cell 1 of 2"), std::string::npos) << r.out;
    // Without a terminal there is no such line.
    NativeRunner native;
    const Qualification plain = qualify(native, {driver("Progress", 12)},
                                        {"--rates", "48000", "--buffers", "64", "--runs", "1", "--seconds", "0.2"});
    EXPECT_EQ(plain.result.err, "");
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

// Threads of process pid: the virtual driver's audio thread is there only
// while it streams.
int threadCount(int pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
    }
    return 0;
}

struct Interruption {
    int signal;
    int status;
    const char* name;
};

class QualifyInterrupted : public ::testing::TestWithParam<Interruption> {};

TEST_P(QualifyInterrupted, StopsTheDriverAndReportsWhatRan)
{
    if (wineRunner() != nullptr) GTEST_SKIP() << "the signal is sent to the native build's process";
    const Interruption c = GetParam();
    RunStaging staging;
    // The first cell's three runs take a minute: the signal comes in its
    // first run, the second cell never starts.
    staging.arguments = {"--qualify", "0", "--report", "qualified", "--rates", "48000", "--buffers", "64,256",
                         "--seconds", "20"};
    staging.whileRunning = [&](int pid, const std::string&) {
        // Once the handler is there and the driver streams, the signal
        // comes in the middle of the first run.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!(catchesInterrupt(pid) && threadCount(pid) > 1) && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kill(pid, c.signal);
    };
    const auto started = std::chrono::steady_clock::now();
    const HarnessResult r = NativeRunner().run("", {driver("Interrupted", 11)}, staging);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
    EXPECT_EQ(r.exitCode, c.status);
    EXPECT_EQ(firstLine(r.err), std::string("error: the qualification of driver 0 was interrupted (") + c.name + ")");
    const json report = json::parse(r.file("qualified/report.json"), nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << r.err;
    EXPECT_EQ(report["verdict"], "interrupted");
    EXPECT_EQ(report["interruptedBy"], c.name);
    ASSERT_EQ(report["cells"].size(), 2u);
    EXPECT_EQ(report["cells"][0]["verdict"], "interrupted");
    ASSERT_EQ(report["cells"][0]["runs"].size(), 1u);
    EXPECT_EQ(report["cells"][0]["runs"][0]["interrupted"], true);
    EXPECT_EQ(report["cells"][1]["verdict"], "not run");
    EXPECT_TRUE(r.hasFile("qualified/index.html"));
}

INSTANTIATE_TEST_SUITE_P(Qualify, QualifyInterrupted,
                         ::testing::Values(Interruption{SIGINT, 130, "SIGINT"}, Interruption{SIGTERM, 143, "SIGTERM"}),
                         [](const ::testing::TestParamInfo<Interruption>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace

namespace {

// A misrouting device and what the routing of its one cell must show.
struct RoutingCase {
    const char* name;
    Settings misrouting;
    std::vector<std::string> options;  // --map, --max-crosstalk
    std::vector<int> heard;            // by input; -1: dead
    bool mixed;                        // every other output leaks in at -40 dB
    const char* verdict;
    const char* failure;  // the start of the first failure, when it fails
};

void expectRouting(const json& cell, const RoutingCase& c)
{
    ASSERT_TRUE(cell.contains("routing")) << cell.dump(1);
    const json& inputs = cell["routing"]["inputs"];
    ASSERT_EQ(inputs.size(), c.heard.size()) << cell["routing"].dump(1);
    for (size_t k = 0; k < c.heard.size(); ++k) {
        SCOPED_TRACE("input " + std::to_string(k));
        const json& input = inputs[k];
        if (c.heard[k] < 0) {
            EXPECT_EQ(input["dead"], true) << input.dump(1);
            continue;
        }
        EXPECT_EQ(input["dead"], false) << input.dump(1);
        EXPECT_EQ(input["heard"], c.heard[k]) << input.dump(1);
        EXPECT_NEAR(input["levelDb"].get<double>(), 0.0, 0.5);
        // The path keeps the loop's round trip whichever output it hears,
        // mixed or not.
        if (cell["measured"].is_object()) {
            EXPECT_NEAR(input["roundTrip"].get<double>(), cell["measured"]["roundTrip"].get<double>(), 0.5);
        }
        if (c.mixed) {
            EXPECT_EQ(input["leakFrom"], 1 - c.heard[k]) << input.dump(1);
            EXPECT_NEAR(input["leakDb"].get<double>(), -40.0, 1.0) << input.dump(1);
        } else {
            EXPECT_EQ(input["leakFrom"], nullptr) << input.dump(1);
            EXPECT_LT(input["leakDb"].get<double>(), -60.0) << input.dump(1);
        }
    }
    // Crosstalk also spoils the runs' own signal (a mixed staircase is not
    // bit for bit): there only the routing's own reasons are checked.
    if (c.verdict != nullptr) {
        EXPECT_EQ(cell["verdict"], c.verdict) << cell["failures"].dump(1);
    }
    bool named = false;
    bool routingFailed = false;
    for (const json& failure : cell["failures"]) {
        const std::string text = failure.get<std::string>();
        routingFailed = routingFailed || text.rfind("routing", 0) == 0;
        named = named || (c.failure != nullptr && text.rfind(c.failure, 0) == 0);
    }
    if (c.failure != nullptr) {
        EXPECT_TRUE(named) << cell["failures"].dump(1);
    }
    if (c.verdict == nullptr || std::string(c.verdict) == "passed") {
        EXPECT_FALSE(routingFailed) << cell["failures"].dump(1);
    }
}

const RoutingCase routingCases[] = {
    {"swapped, expected straight", {{"InputSources", quoted("1,0")}}, {"--map", "identity"}, {1, 0}, false,
     "failed", "routing, input 0: hears output 1, expected output 0"},
    {"swapped, expected swapped", {{"InputSources", quoted("1,0")}}, {"--map", "0:1,1:0"}, {1, 0}, false, "passed",
     nullptr},
    {"swapped, no map", {{"InputSources", quoted("1,0")}}, {}, {1, 0}, false, "passed", nullptr},
    {"mixed at -40 dB, -60 allowed", {{"CrosstalkDb", quoted("-40")}}, {"--map", "identity"}, {0, 1}, true,
     "failed", "routing, input 0: output 1 leaks in at -40"},
    {"mixed at -40 dB, -30 allowed", {{"CrosstalkDb", quoted("-40")}}, {"--map", "identity", "--max-crosstalk", "-30"},
     {0, 1}, true, nullptr, nullptr},
    {"input 1 dead, no map", {{"DeadInputs", quoted("1")}}, {}, {0, -1}, false, "failed", nullptr},
};

struct RoutingFormat {
    int sampleType;
    double rate;
};

class QualifyRouting : public ::testing::TestWithParam<RoutingFormat> {};

TEST_P(QualifyRouting, SwapsMixesAndDeadInputsGiveTheirMatrixAndVerdict)
{
    const RoutingFormat f = GetParam();
    const std::string rate = std::to_string(static_cast<int>(f.rate));
    for (const RoutingCase& c : routingCases) {
        SCOPED_TRACE(c.name);
        Settings settings = {{"SampleType", dword(f.sampleType)}, {"SampleRates", quoted(rate)}};
        settings.insert(settings.end(), c.misrouting.begin(), c.misrouting.end());
        std::vector<std::string> more = {"--runs", "1", "--seconds", "0.5", "--rates", rate, "--buffers", "256"};
        more.insert(more.end(), c.options.begin(), c.options.end());
        const Qualification q = qualify(harnessRunner(), {driver("Routing", 20, settings)}, more);
        ASSERT_FALSE(q.report.is_discarded()) << q.result.err;
        ASSERT_EQ(q.report["cells"].size(), 1u);
        expectRouting(q.report["cells"][0], c);
        if (c.verdict != nullptr) {
            EXPECT_EQ(q.result.exitCode, std::string(c.verdict) == "passed" ? 0 : 1) << q.result.err;
        }
        EXPECT_EQ(q.report["cells"][0]["routing"]["code"], f.sampleType == 19 ? "tones" : "staircase");
    }
}

INSTANTIATE_TEST_SUITE_P(Qualify, QualifyRouting,
                         ::testing::Values(RoutingFormat{16, 44100}, RoutingFormat{16, 192000},
                                           RoutingFormat{18, 44100}, RoutingFormat{18, 192000},
                                           RoutingFormat{19, 44100}, RoutingFormat{19, 192000}),
                         [](const ::testing::TestParamInfo<RoutingFormat>& info) {
                             return "type" + std::to_string(info.param.sampleType) + "_" +
                                    std::to_string(static_cast<int>(info.param.rate));
                         });

// The swap only where the driver builds its buffers at 128 samples: that
// cell fails the map, the other passes it.
TEST(QualifyRouting, ASwapAtOneBufferSizeFailsThatCellOnly)
{
    const Settings settings = {{"SampleRates", quoted("48000")},
                               {"InputSources", quoted("1,0")},
                               {"RoutingAtBufferSize", dword(128)}};
    const Qualification q = qualify(harnessRunner(), {driver("Routing", 21, settings)},
                                    {"--runs", "1", "--seconds", "0.5", "--rates", "48000", "--buffers", "128,256",
                                     "--map", "identity"});
    ASSERT_FALSE(q.report.is_discarded()) << q.result.err;
    ASSERT_EQ(q.report["cells"].size(), 2u);
    expectRouting(q.report["cells"][0], {"at 128", {}, {}, {1, 0}, false, "failed",
                                         "routing, input 0: hears output 1, expected output 0"});
    expectRouting(q.report["cells"][1], {"at 256", {}, {}, {0, 1}, false, "passed", nullptr});
    EXPECT_EQ(q.result.exitCode, 1);
}

// The heat maps as a browser holds them: a swapped pair with every other
// output leaking in at -40 dB at 128 samples, a straight loop at 256, so a
// map shown for the wrong cell, a wrong square outlined or a level read
// from the wrong output shows.
TEST(QualifyRouting, TheHeatMapInTheBrowserShowsTheRoutingOfReportJson)
{
    if (wineRunner() != nullptr) GTEST_SKIP() << "the Windows build writes no junit.xml";
    NativeRunner native;
    const Settings settings = {{"SampleRates", quoted("48000")},
                               {"InputSources", quoted("1,0")},
                               {"CrosstalkDb", quoted("-40")},
                               {"RoutingAtBufferSize", dword(128)}};
    const Qualification q = qualify(native, {driver("Routing", 22, settings)},
                                    {"--runs", "1", "--seconds", "0.5", "--rates", "48000", "--buffers", "128,256",
                                     "--map", "0:1,1:0"});
    ASSERT_FALSE(q.report.is_discarded()) << q.result.err;
    ASSERT_EQ(q.report["cells"].size(), 2u);
    expectRouting(q.report["cells"][0], {"at 128", {}, {}, {1, 0}, true, "failed",
                                         "routing, input 0: output 0 leaks in at -40"});
    expectRouting(q.report["cells"][1], {"at 256", {}, {}, {0, 1}, false, "failed",
                                         "routing, input 0: hears output 0, expected output 1"});
    expectPagesTellWhatReportJsonTells(q.result.folder + "/qualified");
}

}  // namespace
