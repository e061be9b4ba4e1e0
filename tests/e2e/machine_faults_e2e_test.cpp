// What the machine can do to a test: a working folder that takes no files,
// a report file's name taken by a folder, a full disk, too little address
// space for the recordings. Standard output stays the harness's own, each
// lost file costs a warning on standard error naming it and the reason,
// and the runs go on. Staged around the native build only: these need
// the working folder or the process's limits in hand.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "case_helpers.h"
#include "e2e_runner_choice.h"
#include "report_check.h"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool sanitized = true;  // the harness under test is built as this test is
#else
constexpr bool sanitized = false;
#endif

const std::string name = "Loopback";
const std::vector<VirtualDriverEntry> oneDriver = {cases::virtualDriver(name)};

// Two runs of 40 ms, as every case here asks for them.
const std::string answers = "2 40 -1 1\n";

std::string twoRunsOut()
{
    return cases::head(name) + cases::streamingRun(name, true, {}, "", expected::staircaseCheck(2)) +
           cases::streamingRun(name, false, {}, "", expected::staircaseCheck(2));
}

std::string cannotCreate(const std::string& file, int error)
{
    return "warning: could not create \"" + file + "\": " + std::strerror(error) + "\n";
}

std::string cannotWrite(const std::string& file, int error)
{
    return "warning: could not write \"" + file + "\": " + std::strerror(error) + "\n";
}

// A file system mounted on the working folder for one case, and taken off
// again before the folder is removed.
class FolderMount {
public:
    ~FolderMount()
    {
        if (!mountedOn_.empty()) umount2(mountedOn_.c_str(), MNT_DETACH);
    }
    // A tmpfs of `kilobytes`, read-only when asked. False where the system
    // does not let this process mount.
    bool mountTmpfs(const std::string& folder, int kilobytes, bool readOnly)
    {
        const std::string options = "size=" + std::to_string(kilobytes) + "k";
        if (mount("tmpfs", folder.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0, options.c_str()) != 0) {
            problem_ = std::strerror(errno);
            return false;
        }
        mountedOn_ = folder;
        return true;
    }
    bool mounted() const { return !mountedOn_.empty(); }
    const std::string& problem() const { return problem_; }
    // The case's folder lives at least as long as the mount.
    void keep(const HarnessResult& result) { scratch_ = result.scratch; }

private:
    std::string mountedOn_;
    std::string problem_;
    std::shared_ptr<TemporaryFolder> scratch_;
};

class MachineFaultEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (wineRunner() != nullptr) GTEST_SKIP() << "the working folder and limits are staged for the native build";
    }

    // The dump table of `run`, read back, its rows matching what the
    // staircase check counted for that run.
    void expectDump(const HarnessResult& r, int run)
    {
        DumpTable dump;
        std::string why;
        const std::string file = "ASIO PCM(Run " + std::to_string(run) + ").txt";
        ASSERT_TRUE(parseDumpFile(r.file(file), &dump, &why)) << file << ": " << why;
        const std::vector<long long> counts = staircaseSampleCounts(r.out);
        ASSERT_EQ(counts.size(), 4u);
        EXPECT_EQ(static_cast<long long>(dump.rows.size()), counts[static_cast<size_t>(run) * 2]);
        EXPECT_TRUE(everyInputValue(dump, [](long long p, long long v) { return v == staircaseHeard(p, 1216); }, &why))
            << why;
    }

    NativeRunner native_;
};

TEST_F(MachineFaultEndToEnd, ResultsFileNameTakenByAFolder)
{
    RunStaging staging;
    staging.prepareFolder = [](const std::string& folder) { mkdir((folder + "/ASIO Results.txt").c_str(), 0755); };
    const HarnessResult r = native_.run(answers, oneDriver, staging);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_MATCHES(r.out, twoRunsOut());
    EXPECT_EQ(r.err, cannotCreate("ASIO Results.txt", EISDIR));
    EXPECT_EQ(r.files(), (std::vector<std::string>{"ASIO PCM(Run 0).txt", "ASIO PCM(Run 1).txt", "ASIO Results.txt", "loopcheck-session.json"}));
    expectDump(r, 0);
    expectDump(r, 1);
}

TEST_F(MachineFaultEndToEnd, DumpFileNameTakenByAFolder)
{
    // The first run's block is its counters line alone; the second run
    // reports in full.
    RunStaging staging;
    staging.prepareFolder = [](const std::string& folder) { mkdir((folder + "/ASIO PCM(Run 0).txt").c_str(), 0755); };
    const HarnessResult r = native_.run(answers, oneDriver, staging);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_MATCHES(r.out, twoRunsOut());
    EXPECT_EQ(r.err, cannotCreate("ASIO PCM(Run 0).txt", EISDIR));
    EXPECT_TRUE(reportsConsistent(r, 2, RunShape{}, nullptr, {0}));
    expectDump(r, 1);
}

// A FIFO that nothing reads in place of a report file: refused at once,
// the runs go on and the other file is written whole.
TEST_F(MachineFaultEndToEnd, ReportFileNamesTakenByFifosWithoutAReader)
{
    for (const std::string taken : {"ASIO Results.txt", "ASIO PCM(Run 0).txt"}) {
        SCOPED_TRACE(taken);
        RunStaging staging;
        staging.prepareFolder = [&](const std::string& folder) { mkfifo((folder + "/" + taken).c_str(), 0600); };
        const HarnessResult r = native_.run(answers, oneDriver, staging);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_MATCHES(r.out, twoRunsOut());
        EXPECT_EQ(r.err, "warning: could not create \"" + taken + "\": a FIFO that nothing reads\n");
        expectDump(r, 1);
    }
}

// Console lines that cannot be written are told of on standard error; the
// test and its reports are whole, and the status is the test's.
TEST_F(MachineFaultEndToEnd, StandardOutputLostInTheSession)
{
    for (const bool closedPipe : {false, true}) {
        SCOPED_TRACE(closedPipe ? "a pipe nothing reads" : "a full disk");
        RunStaging staging;
        staging.inHarnessProcess = [closedPipe] {
            int ends[2];
            if (closedPipe && pipe(ends) == 0) {
                close(ends[0]);
                return dup2(ends[1], 1) == 1;
            }
            const int full = open("/dev/full", O_WRONLY);
            return full >= 0 && dup2(full, 1) == 1;
        };
        const HarnessResult r = native_.run(answers, oneDriver, staging);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.err, "warning: standard output: cannot write; the console lines of this session are lost\n");
        EXPECT_EQ(r.files(),
                  (std::vector<std::string>{"ASIO PCM(Run 0).txt", "ASIO PCM(Run 1).txt", "ASIO Results.txt", "loopcheck-session.json"}));
    }
}

TEST_F(MachineFaultEndToEnd, WorkingFolderTakesNoFiles)
{
    // Permissions do not stop root; a read-only file system stops anyone.
    FolderMount readOnly;
    RunStaging staging;
    int error = EACCES;
    staging.prepareFolder = [&](const std::string& folder) {
        if (geteuid() != 0) {
            chmod(folder.c_str(), 0555);
        } else if (readOnly.mountTmpfs(folder, 64, true)) {
            error = EROFS;
        }
    };
    const HarnessResult r = native_.run(answers, oneDriver, staging);
    readOnly.keep(r);
    if (geteuid() == 0 && !readOnly.mounted())
        GTEST_SKIP() << "cannot mount a read-only folder: " << readOnly.problem();
    chmod(r.folder.c_str(), 0755);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_MATCHES(r.out, twoRunsOut());
    // The session record is told of once, not after every run.
    EXPECT_EQ(r.err, cannotCreate("ASIO Results.txt", error) + cannotWrite("loopcheck-session.json", error) +
                         cannotCreate("ASIO PCM(Run 0).txt", error) + cannotCreate("ASIO PCM(Run 1).txt", error));
    EXPECT_TRUE(r.files().empty());
}

TEST_F(MachineFaultEndToEnd, ResultsFileOnAFullDevice)
{
    // Each run's block is lost when it reaches the device, and told once.
    RunStaging staging;
    staging.prepareFolder = [](const std::string& folder) {
        symlink("/dev/full", (folder + "/ASIO Results.txt").c_str());
    };
    const HarnessResult r = native_.run(answers, oneDriver, staging);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_MATCHES(r.out, twoRunsOut());
    EXPECT_EQ(r.err, cannotWrite("ASIO Results.txt", ENOSPC) + cannotWrite("ASIO Results.txt", ENOSPC));
    expectDump(r, 0);
    expectDump(r, 1);
}

TEST_F(MachineFaultEndToEnd, DumpFileOnAFullDevice)
{
    // The dump file could be created, so the block is written in full.
    RunStaging staging;
    staging.prepareFolder = [](const std::string& folder) {
        symlink("/dev/full", (folder + "/ASIO PCM(Run 0).txt").c_str());
    };
    const HarnessResult r = native_.run(answers, oneDriver, staging);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_MATCHES(r.out, twoRunsOut());
    EXPECT_EQ(r.err, cannotWrite("ASIO PCM(Run 0).txt", ENOSPC));
    std::vector<ResultsBlock> blocks;
    std::string why;
    ASSERT_TRUE(parseResultsFile(r.file("ASIO Results.txt"), &blocks, &why)) << why;
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_TRUE(blocks[0].reported);
    DumpTable second;
    ASSERT_TRUE(parseDumpFile(r.file("ASIO PCM(Run 1).txt"), &second, &why)) << why;
    EXPECT_TRUE(runConsistent(blocks[1], second, RunShape{}));
}

TEST_F(MachineFaultEndToEnd, FullDisk)
{
    // A small file system, filled before the test starts: the files can
    // be created but take nothing, every run tells which of them came up
    // short, and both runs are made.
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    FolderMount disk;
    RunStaging staging;
    staging.prepareFolder = [&](const std::string& folder) {
        if (!disk.mountTmpfs(folder, 64, false)) return;
        std::FILE* filler = std::fopen((folder + "/filler").c_str(), "wb");
        const std::vector<char> block(4096, 'x');
        while (filler != nullptr && std::fwrite(block.data(), 1, block.size(), filler) == block.size()) {
        }
        if (filler != nullptr) std::fclose(filler);
    };
    const HarnessResult r = native_.run(answers, oneDriver, staging);
    disk.keep(r);
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small file system: " << disk.problem();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_MATCHES(r.out, twoRunsOut());
    EXPECT_EQ(r.err, cannotWrite("loopcheck-session.json", ENOSPC) + cannotWrite("ASIO PCM(Run 0).txt", ENOSPC) +
                         cannotWrite("ASIO Results.txt", ENOSPC) + cannotWrite("ASIO PCM(Run 1).txt", ENOSPC) +
                         cannotWrite("ASIO Results.txt", ENOSPC));
    EXPECT_EQ(r.files(),
              (std::vector<std::string>{"ASIO PCM(Run 0).txt", "ASIO PCM(Run 1).txt", "ASIO Results.txt", "filler"}));
}

TEST_F(MachineFaultEndToEnd, LargestTestInTheAddressSpaceOfA32BitProcess)
{
    // The dialogue's largest test, 100 s at 192 kHz on 32 + 32 channels,
    // asks 4.9 GB for the recordings: more than a 32-bit Windows process
    // can address. In an address space limited to 1 GiB (which keeps what
    // is touched before the reservation fails small), each run says so in
    // one line and ends.
    if (sanitized) GTEST_SKIP() << "a sanitizer's shadow memory does not fit a 1 GiB address space";
    RunStaging staging;
    staging.inHarnessProcess = [] {
        const rlimit limit{rlim_t{1} << 30, rlim_t{1} << 30};
        return setrlimit(RLIMIT_AS, &limit) == 0;
    };
    const cases::Settings wide = {{"Outputs", cases::dword(40)}, {"Inputs", cases::dword(40)}};
    const HarnessResult r = native_.run("2 100000 -1 3\n", {cases::virtualDriver(name, wide)}, staging);
    expected::Setup setup;
    setup.outputs = 40;
    setup.inputs = 40;
    setup.rate = "192000";
    setup.signalLines = "Buffer length is 192000\n";
    std::string out = cases::head(name);
    for (bool first : {true, false}) {
        std::string run = cases::initialisation(name, first) + "Initialised device\n" + expected::setupLines(setup) +
                          "Could not reserve 4915200000 bytes for the recordings\nCould not setup playback\n" +
                          expected::shutdown("0");
        out += run;
    }
    const std::string clamped = "warning: the driver reports 40 outputs; the first 32 are tested\n"
                                "warning: the driver reports 40 inputs; the first 32 are tested\n";
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.err, clamped + clamped);
    EXPECT_EQ(r.files(), (std::vector<std::string>{"ASIO Results.txt", "loopcheck-session.json"}));
    EXPECT_EQ(r.file("ASIO Results.txt"), "");
}

}  // namespace
