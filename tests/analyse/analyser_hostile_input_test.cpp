// What a user's CI meets: dumps cut short, a dump rewritten while it is
// read, output files that cannot be written, latency lines that do not fit
// the data and option values out of range. None of them may pass, and none
// may end the analyser with a signal.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "analyser_process.h"
#include "harness_runner.h"
#include "synthetic_dump.h"

namespace {

constexpr int64_t onset = 1253;  // 608 samples of lead-in, then 645 of round trip

class HostileInput : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return folder.path() + "/" + name; }

    // Two inputs carrying the staircase, as the harness dumps them.
    static std::string staircaseText(int64_t rows, int64_t start = onset)
    {
        synthetic::Run run;
        run.columns = {synthetic::staircase(rows, start, 48000), synthetic::staircase(rows, start, 48000)};
        return synthetic::dumpText(run);
    }
    // A staircase with a dropout every 100 samples: a long JSON file.
    std::string faultyDump(int runNumber) const
    {
        synthetic::Run run;
        synthetic::Samples s = synthetic::staircase(6000, onset, 48000);
        for (int64_t p = 1500; p + 10 < 6000; p += 100) synthetic::zeroSamples(s, p, 10);
        run.columns = {s, s};
        return synthetic::writeDump(folder.path(), runNumber, run);
    }
    std::set<std::string> folderNames(const std::string& where) const
    {
        std::set<std::string> names;
        if (DIR* d = opendir(where.c_str())) {
            while (const dirent* e = readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.insert(e->d_name);
            closedir(d);
        }
        return names;
    }

    TemporaryFolder folder;
};

std::string firstLines(const std::string& text, size_t lines)
{
    size_t at = 0;
    for (size_t i = 0; i < lines && at != std::string::npos; ++i) {
        at = text.find('\n', at);
        if (at != std::string::npos) ++at;
    }
    return text.substr(0, at);
}

TEST_F(HostileInput, ADumpCutShortIsUnusable)
{
    const std::string whole = staircaseText(6000);
    const std::string wholePath = path("ASIO PCM(Run 0).txt");
    synthetic::writeText(wholePath, whole);
    const AnalyserResult passing = runAnalyser({wholePath});
    ASSERT_EQ(passing.exitCode, 0) << passing.out << passing.err;

    struct Cut {
        std::string name;
        std::string text;
        int64_t rows;
    };
    // The maxima line states 6000 + 608 samples per input: 6000 rows after
    // the lead-in.
    const std::vector<Cut> cuts = {
        {"head of 2003 lines", firstLines(whole, 3 + 2000), 2000},
        {"stopped within a row", firstLines(whole, 3 + 5999) + "5999\t47", 5999},
        {"only the header", firstLines(whole, 3), 0},
    };
    for (const Cut& cut : cuts) {
        const std::string file = path("ASIO PCM(Run 1).txt");
        synthetic::writeText(file, cut.text);
        const AnalyserResult r = runAnalyser({file, "--json", path("cut.json")});
        EXPECT_EQ(r.exitCode, 2) << cut.name << "\n" << r.out << r.err;
        EXPECT_NE(r.err.find("loopcheck-analyse: " + file + ": cut dump: the table ends after " +
                             std::to_string(cut.rows) +
                             " rows where its maxima line states 6000 (6608 samples of input 0 less the lead-in of "
                             "608)\n"),
                  std::string::npos)
            << cut.name << "\n" << r.err;
        EXPECT_EQ(r.out.find("PASS"), std::string::npos) << cut.name;
    }
}

TEST_F(HostileInput, ADumpRewrittenWhileReadIsAnErrorNotASignal)
{
    // Large enough that reading it takes a while; the analyser is stopped
    // while it holds the file open, the harness's next test empties and
    // rewrites it, and the analyser goes on.
    const std::string text = staircaseText(1500000);
    const std::string file = path("ASIO PCM(Run 0).txt");
    const std::string rewritten = firstLines(text, 100);
    bool caught = false;
    for (int attempt = 0; attempt < 8 && !caught; ++attempt) {
        synthetic::writeText(file, text);
        RunningAnalyser analyser({file});
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!analyser.isReading(file, text.size()) && std::chrono::steady_clock::now() < giveUp) {
            // Ended already (too quick to catch): left for wait() to collect.
            siginfo_t ended{};
            if (waitid(P_PID, static_cast<id_t>(analyser.pid()), &ended, WEXITED | WNOHANG | WNOWAIT) != 0 ||
                ended.si_pid != 0)
                break;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ASSERT_EQ(kill(analyser.pid(), SIGSTOP), 0);
        // Only a stop while the file is still being read shows anything.
        caught = analyser.isReading(file, text.size());
        if (caught) synthetic::writeText(file, rewritten);
        kill(analyser.pid(), SIGCONT);
        const AnalyserResult r = analyser.wait();
        if (!caught) continue;
        EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
        EXPECT_NE(r.err.find("loopcheck-analyse: " + file + ": the file changed while it was read (" +
                             std::to_string(text.size()) + " bytes when opened, " +
                             std::to_string(rewritten.size()) + " now)\n"),
                  std::string::npos)
            << r.err;
    }
    EXPECT_TRUE(caught) << "the analyser was never caught reading its file";
}

TEST_F(HostileInput, AnOutputThatCannotBeWrittenIsUnusableAndLeavesNothingBehind)
{
    const std::string dump = faultyDump(0);

    // Devices are written in place and their errors reported.
    for (const std::string option : {"--json", "--plot"}) {
        const AnalyserResult r = runAnalyser({dump, option, "/dev/full"});
        EXPECT_EQ(r.exitCode, 2) << option << "\n" << r.err;
        EXPECT_NE(r.err.find("loopcheck-analyse: /dev/full: cannot write: No space left on device\n"), std::string::npos)
            << option << "\n" << r.err;
        const AnalyserResult quiet = runAnalyser({dump, option, "/dev/null"});
        EXPECT_EQ(quiet.exitCode, 1) << option << "\n" << quiet.err;
        EXPECT_EQ(quiet.err, "") << option;
    }
    struct stat info {};
    ASSERT_EQ(stat("/dev/null", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode)) << "the device node itself was replaced";
    ASSERT_EQ(mkdir(path("wav").c_str(), 0755), 0);
    ASSERT_EQ(symlink("/dev/full", path("wav/ASIO PCM(Run 0).wav").c_str()), 0);
    const AnalyserResult wav = runAnalyser({dump, "--wav", path("wav")});
    EXPECT_EQ(wav.exitCode, 2) << wav.err;
    EXPECT_NE(wav.err.find("loopcheck-analyse: " + path("wav/ASIO PCM(Run 0).wav") + ": cannot write: "),
              std::string::npos)
        << wav.err;
    ASSERT_EQ(lstat(path("wav/ASIO PCM(Run 0).wav").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link to the device was replaced";

    // A full disk: a file that was there keeps what it held, a new one is
    // not left half written, and no temporary file stays behind.
    synthetic::writeText(path("old.png"), "old picture");
    synthetic::writeText(path("old.json"), "{}");
    const std::set<std::string> before = folderNames(folder.path());
    struct Case {
        std::vector<std::string> arguments;
        std::string target;
        std::string kept;  // what the target holds after, "" when it must not exist
    };
    const std::vector<Case> cases = {
        {{dump, "--plot", path("old.png")}, path("old.png"), "old picture"},
        {{dump, "--plot", path("new.png")}, path("new.png"), ""},
        {{dump, "--json", path("old.json")}, path("old.json"), "{}"},
        {{dump, "--json", path("new.json")}, path("new.json"), ""},
        {{dump, "--wav", path("full")}, path("full/ASIO PCM(Run 0).wav"), ""},
    };
    for (const Case& c : cases) {
        const AnalyserResult r = runAnalyserWithFileLimit(c.arguments, 4096);
        EXPECT_EQ(r.exitCode, 2) << c.target << "\n" << r.err;
        EXPECT_NE(r.err.find("loopcheck-analyse: " + c.target + ": cannot write: File too large\n"), std::string::npos)
            << r.err;
        if (c.kept.empty())
            EXPECT_NE(access(c.target.c_str(), F_OK), 0) << c.target << " was left behind";
        else
            EXPECT_EQ(readFile(c.target), c.kept);
    }
    std::set<std::string> after = folderNames(folder.path());
    after.erase("full");
    EXPECT_EQ(after, before);
    EXPECT_TRUE(folderNames(path("full")).empty());

    // Room enough: the files are replaced whole.
    const AnalyserResult written = runAnalyser({dump, "--plot", path("old.png"), "--json", path("old.json")});
    EXPECT_EQ(written.exitCode, 1) << written.err;
    EXPECT_EQ(readFile(path("old.png")).substr(1, 3), "PNG");
    EXPECT_EQ(readFile(path("old.json")).substr(0, 1), "{");
    EXPECT_GT(readFile(path("old.json")).size(), 4096u) << "too short to test a full disk";
}

TEST_F(HostileInput, ARoundTripBelowZeroFailsTheInput)
{
    // The signal starts 208 samples before the lead-in the latency line
    // speaks of ends.
    synthetic::Run run;
    run.columns = {synthetic::staircase(6000, 400, 48000), synthetic::staircase(6000, onset, 48000)};
    const std::string dump = synthetic::writeDump(folder.path(), 0, run);
    const AnalyserResult r = runAnalyser({dump, "--json", path("a.json")});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("  input 0  -71.7      -           -         -       0       FAIL  bit-exact\n"
                         "      the dump's latency line does not fit its data: the signal starts at 400, before "
                         "the lead-in of 608 samples ends\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("  input 1  -73.1      645         13.438    +37     0       ok  bit-exact\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("  input 0  0     -         -         -\n"), std::string::npos) << r.out;
    const std::string json = readFile(path("a.json"));
    EXPECT_EQ(json.find("-208"), std::string::npos) << "a round trip below 0 is no measurement";
}

TEST_F(HostileInput, OptionValuesOutOfRangeAreRefusedNamingTheOption)
{
    synthetic::writeText(path("ASIO PCM(Run 0).txt"), staircaseText(6000));
    const std::string dump = path("ASIO PCM(Run 0).txt");
    struct Case {
        std::vector<std::string> options;
        std::string message;
    };
    const std::vector<Case> cases = {
        // Channel numbers past 32 bits.
        {{"--outputs", "2147483647"},
         "--outputs 2147483647 numbers the 2 inputs of " + dump + " past 2147483647, the largest channel number"},
        {{"--outputs", "4294967298"}, "--outputs needs a number of output channels, not \"4294967298\""},
        {{"--outputs", "-1"}, "--outputs needs a number of output channels, not \"-1\""},
        {{"--outputs", "two"}, "--outputs needs a number of output channels, not \"two\""},
        {{"--rate", "-48000"}, "--rate needs a sample rate in Hz, not \"-48000\""},
        {{"--rate", "48k"}, "--rate needs a sample rate in Hz, not \"48k\""},
        {{"--rate", "nan"}, "--rate needs a sample rate in Hz, not \"nan\""},
        {{"--bits", "24"}, "--bits must be 16 or 32, not \"24\""},
        {{"--frequency", "-1"}, "--frequency needs a frequency in Hz above 0, not \"-1\""},
        {{"--max-extra-latency", "-3"}, "--max-extra-latency needs a number of samples, not \"-3\""},
        {{"--min-level", "3"}, "--min-level needs a level in dB at or below 0, not \"3\""},
        {{"--glitch-db", "inf"}, "--glitch-db needs a level in dB at or below 0, not \"inf\""},
        {{"--json="}, "--json needs a file name"},
        {{"--plot", ""}, "--plot needs a file name"},
        {{"--wav="}, "--wav needs a folder"},
        {{"--allow-silent=no"}, "--allow-silent takes no value"},
        {{"--rate"}, "--rate needs a value"},
        {{"--map", "swapped"}, "--map: \"swapped\" is not a pair input:output of channels 0 to 31"},
        {{"--map", "0:1,0:0"}, "--map: input 0 is named twice"},
        {{"--map", "0:32"}, "--map: \"0:32\" is not a pair input:output of channels 0 to 31"},
        {{"--max-crosstalk", "6"}, "--max-crosstalk needs a level in dB from -200 to 0, not \"6\""},
        {{"--max-crosstalk", "nan"}, "--max-crosstalk needs a level in dB from -200 to 0, not \"nan\""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = {dump};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        const AnalyserResult r = runAnalyser(arguments);
        EXPECT_EQ(r.exitCode, 2) << c.message << "\n" << r.out;
        EXPECT_EQ(r.err.substr(0, c.message.size() + 20), "loopcheck-analyse: " + c.message + "\n")
            << r.err;
        EXPECT_EQ(r.out.find("PASS"), std::string::npos) << c.message;
    }
    // The largest numbering that still fits.
    const AnalyserResult top = runAnalyser({dump, "--outputs", "2147483646"});
    EXPECT_EQ(top.exitCode, 0) << top.err;
    EXPECT_NE(top.out.find("  channel 2147483647  "), std::string::npos) << top.out;
}

TEST_F(HostileInput, AnOutputThatIsAnInputOrAnotherOutputIsRefusedBeforeAnythingIsWritten)
{
    const std::string dump = path("ASIO PCM(Run 0).txt");
    const std::string text = staircaseText(6000);
    synthetic::writeText(dump, text);
    ASSERT_EQ(mkdir(path("sub").c_str(), 0755), 0);
    ASSERT_EQ(symlink(dump.c_str(), path("link.txt").c_str()), 0);
    ASSERT_EQ(link(dump.c_str(), path("hard.txt").c_str()), 0);
    // Two dumps of one run number from two folders: one WAV name.
    ASSERT_EQ(mkdir(path("a").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(path("b").c_str(), 0755), 0);
    synthetic::writeText(path("a/ASIO PCM(Run 0).txt"), text);
    synthetic::writeText(path("b/ASIO PCM(Run 0).txt"), text);

    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{dump, "--json", dump}, "--json " + dump + " is the dump " + dump + ": an output never replaces an input"},
        {{dump, "--plot", path("sub/../ASIO PCM(Run 0).txt")}, "--plot " + path("sub/../ASIO PCM(Run 0).txt") +
                                                                   " is the dump " + dump +
                                                                   ": an output never replaces an input"},
        {{dump, "--json", path("link.txt")},
         "--json " + path("link.txt") + " is the dump " + dump + ": an output never replaces an input"},
        {{path("hard.txt"), "--json", dump},
         "--json " + dump + " is the dump " + path("hard.txt") + ": an output never replaces an input"},
        {{dump, "--json", path("o"), "--plot", path("sub/../o")},
         "--json " + path("o") + " and --plot " + path("sub/../o") + " are one file"},
        {{path("a/ASIO PCM(Run 0).txt"), path("b/ASIO PCM(Run 0).txt"), "--wav", path("w")},
         "the WAV file " + path("w") + "/ASIO PCM(Run 0).wav of " + path("a/ASIO PCM(Run 0).txt") +
             " and the WAV file " + path("w") + "/ASIO PCM(Run 0).wav of " + path("b/ASIO PCM(Run 0).txt") +
             " are one file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const AnalyserResult r = runAnalyser(c.arguments);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.err, "loopcheck-analyse: " + c.message + "\n");
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(readFile(dump), text);
        EXPECT_EQ(folderNames(folder.path()), (std::set<std::string>{"ASIO PCM(Run 0).txt", "a", "b", "hard.txt",
                                                                     "link.txt", "sub"}));
    }
    // Devices may be shared by outputs.
    const AnalyserResult shared = runAnalyser({dump, "--json", "/dev/null", "--plot", "/dev/null"});
    EXPECT_EQ(shared.exitCode, 0) << shared.err;
}

TEST_F(HostileInput, FifosAreRefusedWithoutWaiting)
{
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    const AnalyserResult r = runAnalyser({path("fifo")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "loopcheck-analyse: " + path("fifo") + ": not a regular file\n");

    // An output FIFO that nothing reads: opening it would wait for a reader.
    const std::string dump = path("ASIO PCM(Run 0).txt");
    synthetic::writeText(dump, staircaseText(6000));
    for (const char* option : {"--json", "--plot"}) {
        const AnalyserResult out = runAnalyser({dump, option, path("fifo")});
        EXPECT_EQ(out.exitCode, 2) << option;
        EXPECT_EQ(out.err, "loopcheck-analyse: " + path("fifo") + ": cannot write: a FIFO that nothing reads\n")
            << option;
    }
}

TEST_F(HostileInput, JunkAfterTheLastRowIsNoCutRow)
{
    // Megabytes without a line end: refused, not gathered into memory.
    const std::string dump = path("ASIO PCM(Run 0).txt");
    synthetic::writeText(dump, staircaseText(6000) + std::string(10 << 20, 'x'));
    const AnalyserResult r = runAnalyser({dump});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "loopcheck-analyse: " + dump + ":6004: expected the row's position followed by a tab\n");
    EXPECT_EQ(r.out.find("PASS"), std::string::npos);
}

TEST_F(HostileInput, OptionsAreKnownBeforeTheirValuesAndVersionIsOne)
{
    const std::string dump = path("ASIO PCM(Run 0).txt");
    synthetic::writeText(dump, staircaseText(6000));
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{dump, "--bogus"}, "unknown option --bogus"},
        {{dump, "--bogus=1"}, "unknown option --bogus"},
        {{dump, "--version=1"}, "--version takes no value"},
        {{dump, "--json"}, "--json needs a value"},
    };
    for (const Case& c : cases) {
        const AnalyserResult r = runAnalyser(c.arguments);
        EXPECT_EQ(r.exitCode, 2) << c.message;
        EXPECT_EQ(r.err.substr(0, c.message.size() + 20), "loopcheck-analyse: " + c.message + "\n") << r.err;
    }
    const AnalyserResult version = runAnalyser({"--version"});
    EXPECT_EQ(version.exitCode, 0) << version.err;
    EXPECT_EQ(version.err, "");
    unsigned major = 0, minor = 0, patch = 0;
    EXPECT_EQ(std::sscanf(version.out.c_str(), "loopcheck-analyse %u.%u.%u", &major, &minor, &patch), 3)
        << version.out;
    EXPECT_EQ(version.out.find('\n'), version.out.size() - 1) << "one line";
}

}  // namespace
