// What a new user or a hostile tester runs into around the runs: drivers
// whose names look alike, registries that hide or cannot give drivers,
// standard streams closed, and the test being interrupted half-way.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "case_helpers.h"
#include "e2e_runner_choice.h"
#include "report_check.h"

namespace {

using Clock = std::chrono::steady_clock;

VirtualDriverEntry driver(const std::string& key, int id, const std::string& description = "",
                          cases::Settings settings = {})
{
    char clsid[64];
    std::snprintf(clsid, sizeof clsid, "{5E1A0000-0000-4000-8000-%012d}", id);
    return VirtualDriverEntry{key, clsid, description, std::move(settings), true};
}

std::string readWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

size_t countOf(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

// Cases staged around the native build's process (its environment, its
// descriptors, its signals) are left out of a run against the Windows
// build.
#define SKIP_UNDER_WINE()                                                                      \
    do {                                                                                       \
        if (wineRunner() != nullptr) GTEST_SKIP() << "staged for the native build's process"; \
    } while (0)

// Waits, up to `limit`, until `ready` holds; false when it never did.
bool waitFor(const std::function<bool()>& ready, std::chrono::milliseconds limit)
{
    const auto end = Clock::now() + limit;
    while (!ready()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// ---------------------------------------------------------------------------
// The operator's choice

struct LookAlikeCase {
    const char* what;
    std::vector<VirtualDriverEntry> drivers;
    std::string listed;  // the two lines of the driver list
};

void PrintTo(const LookAlikeCase& c, std::ostream* os) { *os << c.what; }

class OperatorChoiceEndToEnd : public ::testing::TestWithParam<LookAlikeCase> {};

// Entry 1 must open entry 1's driver, though its name as shown (and as the
// registry compares it) is entry 0's: the driver's own name and its
// channel count say which one streamed.
TEST_P(OperatorChoiceEndToEnd, TheEntryTypedIsTheDriverOpened)
{
    const LookAlikeCase& c = GetParam();
    const HarnessResult r = harnessRunner().run("1 40 -1 1 1\n", c.drivers);
    expected::Setup setup;
    setup.outputs = 4;
    setup.inputs = 4;
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_MATCHES(r.out, expected::questionsUpToDrivers() + c.listed + "Which device (enter number from list)?" +
                              expected::rateList() + cases::streamingRun("Second", true, setup, "",
                                                                         expected::staircaseCheck(4)));
    EXPECT_EQ(r.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    NamesShownAlike, OperatorChoiceEndToEnd,
    ::testing::Values(
        LookAlikeCase{"one description for two keys",
                      {driver("First", 1, "Same Description"),
                       driver("Second", 2, "Same Description", {{"Outputs", cases::dword(4)}, {"Inputs", cases::dword(4)}})},
                      "0 Same Description\n1 Same Description\n"},
        LookAlikeCase{"long names equal in their first 31 characters",
                      {driver("First", 1, "Loopback Interface With A Long Name Number 1"),
                       driver("Second", 2, "Loopback Interface With A Long Name Number 2",
                              {{"Outputs", cases::dword(4)}, {"Inputs", cases::dword(4)}})},
                      "0 Loopback Interface With A Lo...\n1 Loopback Interface With A Lo...\n"}),
    [](const ::testing::TestParamInfo<LookAlikeCase>& info) { return info.index == 0 ? "SameDescription" : "LongNames"; });

// ---------------------------------------------------------------------------
// The registry

// Key names may have up to 255 characters; one past the old 128-byte
// buffer must neither vanish nor hide the drivers after it.
TEST(RegistryEndToEnd, LongKeyNamesHideNoDriver)
{
    const std::string longKey = "A Long Key " + std::string(189, 'k');  // 200 characters
    const HarnessResult r = harnessRunner().run("0 40 220\n", {driver(longKey, 1), driver("B After It", 2)});
    EXPECT_EQ(r.out, expected::questionsUpToDrivers() + "0 A Long Key kkkkkkkkkkkkkkkkk...\n1 B After It\n" +
                         "Which device (enter number from list)?" + "Invalid device number. Vaid values range from 0 to 1\n");
    EXPECT_EQ(r.err, "");
}

// Past the registry's limit a key is skipped by name, in the dialogue (on
// standard error) and in the list's skipped entries and their JSON, and the
// drivers after it stay.
TEST(RegistryEndToEnd, AKeyNamePastTheRegistryLimitIsSkippedByName)
{
    SKIP_UNDER_WINE();
    const std::string tooLong = "A" + std::string(599, 'k');
    const std::string reason = "ASIO driver key \"" + tooLong + "\" skipped: its name is longer than 255 characters";
    const HarnessResult r = NativeRunner().run("0 40 220 1\n", {driver(tooLong, 1), driver("B After It", 2)});
    EXPECT_EQ(r.out, expected::questionsUpToDrivers() + "0 B After It\n" + expected::rateList());
    EXPECT_NE(r.err.find(reason + "\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.exitCode, 0);

    const HarnessResult listed = NativeRunner().runWithArguments({"--list"}, {driver(tooLong, 1), driver("B After It", 2)});
    EXPECT_NE(listed.out.find("  " + reason + "\n"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("B After It"), std::string::npos) << listed.out;
    const HarnessResult json =
        NativeRunner().runWithArguments({"--list", "--json"}, {driver(tooLong, 1), driver("B After It", 2)});
    EXPECT_NE(json.out.find("\"keyName\": \"" + tooLong + "\""), std::string::npos) << json.out;
}

// Standard output stays as it is; standard error says which entry was
// passed over and why.
TEST(RegistryEndToEnd, SkippedEntriesAreNamedOnStandardError)
{
    VirtualDriverEntry unregistered = driver("No Class", 1);
    unregistered.classRegistered = false;
    VirtualDriverEntry badClass = driver("Bad Class", 2);
    badClass.clsid = "not a class";
    badClass.classRegistered = false;
    const HarnessResult r = harnessRunner().run("0 40 220 1\n", {unregistered, badClass, driver("Works", 3)});
    EXPECT_EQ(r.out, expected::questionsUpToDrivers() + "0 Works\n" + expected::rateList());
    // Keys enumerate in name order.
    EXPECT_EQ(r.err,
              "warning: ASIO driver key \"Bad Class\" skipped: class not a class is not registered under "
              "HKEY_CLASSES_ROOT\\clsid\n"
              "warning: ASIO driver key \"No Class\" skipped: class {5e1a0000-0000-4000-8000-000000000001} is not "
              "registered under HKEY_CLASSES_ROOT\\clsid\n");
}

struct UnreadableCase {
    const char* what;
    std::function<std::string(const std::string& folder)> make;  // makes the file, returns its path
    const char* reason;
};

void PrintTo(const UnreadableCase& c, std::ostream* os) { *os << c.what; }

class UnreadableRegistryEndToEnd : public ::testing::TestWithParam<UnreadableCase> {};

// No exception, no hang: one warning, an empty registry, and the dialogue
// ends as on a machine without drivers.
TEST_P(UnreadableRegistryEndToEnd, GivesAWarningAndNoDrivers)
{
    SKIP_UNDER_WINE();
    const UnreadableCase& c = GetParam();
    std::string path;
    RunStaging staging;
    staging.prepareFolder = [&](const std::string& folder) { path = c.make(folder); };
    staging.inHarnessProcess = [&] { return setenv("LOOPCHECK_REGISTRY", path.c_str(), 1) == 0; };
    // A harness that hangs on its registry is ended, so the case fails
    // rather than blocks.
    staging.whileRunning = [](int pid, const std::string& out) {
        if (!waitFor([&] { return readWhole(out).find("available") != std::string::npos; }, std::chrono::seconds(10)))
            kill(pid, SIGKILL);
    };
    const HarnessResult r = NativeRunner().run("1 40 220\n", {driver("Never Seen", 1)}, staging);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, expected::questionsUpToDrivers() + "No ASIO devices are available\n");
    EXPECT_EQ(r.err, "warning: registry file " + path + " cannot be read (" + c.reason + "); no drivers are registered\n");
}

INSTANTIATE_TEST_SUITE_P(
    Files, UnreadableRegistryEndToEnd,
    ::testing::Values(UnreadableCase{"missing", [](const std::string& f) { return f + "/no such registry.reg"; },
                                     "No such file or directory"},
                      UnreadableCase{"folder", [](const std::string& f) { return f; }, "it is a directory"},
                      UnreadableCase{"fifo",
                                     [](const std::string& f) {
                                         const std::string path = f + "/registry.fifo";
                                         mkfifo(path.c_str(), 0600);
                                         return path;
                                     },
                                     "it is not a regular file"}),
    [](const ::testing::TestParamInfo<UnreadableCase>& info) { return std::string(info.param.what); });

// ---------------------------------------------------------------------------
// Standard streams

// With standard error closed, the results file must not take its number:
// the warnings of the run would land in the report.
TEST(StandardStreamsEndToEnd, ClosedStandardErrorKeepsWarningsOutOfTheResults)
{
    SKIP_UNDER_WINE();
    RunStaging staging;
    staging.inHarnessProcess = [] { return close(2) == 0; };
    const HarnessResult r =
        NativeRunner().run("1 40 -1 1\n", {cases::virtualDriver("Failing", {{"Fail", cases::quoted("start")}})},
                           staging);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    ASSERT_TRUE(r.hasFile("ASIO Results.txt"));
    EXPECT_EQ(r.file("ASIO Results.txt").find("warning"), std::string::npos) << r.file("ASIO Results.txt");
    ASSERT_TRUE(reportsConsistent(r, 1, RunShape{}));
}

// ---------------------------------------------------------------------------
// Interruption

struct InterruptCase {
    const char* what;
    int signal;
    int status;
    std::string answers;
    cases::Settings settings;
    // True once the harness is where the case interrupts it.
    std::function<bool(const std::string& out, const std::string& folder)> ready;
    int completedRuns;
    std::string warning;  // the whole line on standard error
};

// The second of three runs of two seconds, some way into its streaming.
bool secondRunStreams(const std::string& out, const std::string&)
{
    static thread_local Clock::time_point seen{};
    if (countOf(out, "Setup playback\n") < 2) {
        seen = Clock::time_point{};
        return false;
    }
    if (seen == Clock::time_point{}) seen = Clock::now();
    return Clock::now() - seen > std::chrono::milliseconds(300);
}

void PrintTo(const InterruptCase& c, std::ostream* os) { *os << c.what; }

class InterruptionEndToEnd : public ::testing::TestWithParam<InterruptCase> {};

// The driver is stopped and released ("Dispose buffers" and "Deinitialised
// device" of the interrupted run), the completed runs' reports are whole,
// no dump is left cut short, and the process ends at once with the
// signal's status.
TEST_P(InterruptionEndToEnd, StopsTheDriverKeepsTheReportsAndEndsAtOnce)
{
    SKIP_UNDER_WINE();
    const InterruptCase& c = GetParam();
    std::string folder;
    RunStaging staging;
    staging.prepareFolder = [&](const std::string& f) { folder = f; };
    bool interrupted = false;
    Clock::time_point sent;
    staging.whileRunning = [&](int pid, const std::string& out) {
        interrupted = waitFor([&] { return c.ready(readWhole(out), folder); }, std::chrono::seconds(60));
        sent = Clock::now();
        kill(pid, interrupted ? c.signal : SIGKILL);
    };
    const HarnessResult r = NativeRunner().run(c.answers, {cases::virtualDriver("Loop", c.settings)}, staging);
    const auto took = Clock::now() - sent;
    ASSERT_TRUE(interrupted) << r.out;

    EXPECT_LT(took, std::chrono::seconds(5));  // a generous bound for "at once"
    EXPECT_EQ(r.exitCode, c.status);
    EXPECT_MATCHES(r.err, c.warning);
    // The interrupted run let its driver go.
    const size_t runsStarted = countOf(r.out, "Setup playback\n");
    EXPECT_EQ(countOf(r.out, "Deinitialised device\n"), runsStarted) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - std::min<size_t>(r.out.size(), 22)), "\nDeinitialised device\n");

    std::vector<std::string> files = {"ASIO Results.txt", "loopcheck-session.json"};
    for (int run = 0; run < c.completedRuns; ++run) files.push_back("ASIO PCM(Run " + std::to_string(run) + ").txt");
    std::sort(files.begin(), files.end());
    EXPECT_EQ(r.files(), files);
    if (c.completedRuns > 0) {
        EXPECT_TRUE(reportsConsistent(r, c.completedRuns, RunShape{}));
    }
}

bool dumpStarted(const std::string& folder)
{
    struct stat info {};
    return stat((folder + "/ASIO PCM(Run 0).txt").c_str(), &info) == 0 && info.st_size > 0;
}

INSTANTIATE_TEST_SUITE_P(
    Signals, InterruptionEndToEnd,
    ::testing::Values(
        // The second of three long runs is streaming.
        InterruptCase{"SigintWhileStreaming", SIGINT, 130, "3 2000 -1 1\n", {}, secondRunStreams, 1,
                      "warning: interrupted by SIGINT during run 1 (runs count from 0); 1 of 3 runs completed\n"},
        InterruptCase{"SigtermWhileStreaming", SIGTERM, 143, "3 2000 -1 1\n", {}, secondRunStreams, 1,
                      "warning: interrupted by SIGTERM during run 1 (runs count from 0); 1 of 3 runs completed\n"},
        // A closed terminal or SSH session.
        InterruptCase{"SighupWhileStreaming", SIGHUP, 129, "3 2000 -1 1\n", {}, secondRunStreams, 1,
                      "warning: interrupted by SIGHUP during run 1 (runs count from 0); 1 of 3 runs completed\n"},
        InterruptCase{"SighupWhileWritingTheDump", SIGHUP, 129, "2 4000 220 3\n",
                      {{"Outputs", cases::dword(32)}, {"Inputs", cases::dword(32)}},
                      [](const std::string&, const std::string& folder) { return dumpStarted(folder); }, 0,
                      "warning: interrupted by SIGHUP while writing the dump file (now removed) of run 0 (runs count "
                      "from 0); 0 of 2 runs completed\n"},
        // Four seconds of 32 inputs at 192 kHz: a dump of some 250 MB,
        // interrupted as soon as it is begun.
        InterruptCase{"SigintWhileWritingTheDump", SIGINT, 130, "2 4000 220 3\n",
                      {{"Outputs", cases::dword(32)}, {"Inputs", cases::dword(32)}},
                      [](const std::string&, const std::string& folder) { return dumpStarted(folder); }, 0,
                      "warning: interrupted by SIGINT while writing the dump file (now removed) of run 0 (runs count "
                      "from 0); 0 of 2 runs completed\n"}),
    [](const ::testing::TestParamInfo<InterruptCase>& info) { return std::string(info.param.what); });

}  // namespace
