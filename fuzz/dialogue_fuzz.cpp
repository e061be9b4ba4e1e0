// Fuzzes the operator's dialogue: each input is what stands on standard
// input. The questions are asked exactly as the harness asks them; when
// the answers get through them, the runs they ask for follow against the
// virtual drivers of dialogue_drivers.reg, with the signal, frequency,
// device and rate as answered.
//
// Only what would make a fuzzer crawl is bounded here, not in the
// harness: at most two runs (the first, with the control panel and the
// fresh start, and a later one), each streaming for 1 ms, and without the
// 500 ms pause after each run. The harness itself takes any number of
// runs of up to 100 s, which is the operator's to ask for.
#include <algorithm>
#include <cfloat>
#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>
#include <fcntl.h>

#include "record/console.h"
#include "control/dialogue.h"
#include "control/run_sequence.h"
#include "record/test_state.h"
#include "platform/posix/registry_file.h"
#include "report/report_files.h"

namespace {

constexpr int32_t maxRuns = 2;
constexpr int32_t runMilliseconds = 1;

// The driver list is built while the program's static objects are made,
// so the registry is named before any of them.
__attribute__((constructor(101))) void nameTheRegistry()
{
    setenv(posix_registry::fileVariable, FUZZ_REGISTRY_FILE, 1);
}

// The console's lines are not looked at; a stream without a buffer takes
// them and drops them.
std::ostream discard(nullptr);

std::string scratchFolder;
int startFolder = -1;  // where the fuzzer was started, for its own paths

void removeScratchFolder()
{
    for (const char* name : {"ASIO Results.txt", "ASIO PCM(Run 0).txt", "ASIO PCM(Run 1).txt"})
        unlink((scratchFolder + "/" + name).c_str());
    rmdir(scratchFolder.c_str());
}

// Crash and leak reports are written by the fuzzer while an input runs,
// that is inside the scratch folder: unless told otherwise they go where
// the fuzzer was started.
void keepArtifactsWhereStarted(int* argc, char*** argv)
{
    for (int i = 1; i < *argc; ++i) {
        const std::string arg = (*argv)[i];
        if (arg.rfind("-artifact_prefix=", 0) == 0 || arg.rfind("-exact_artifact_path=", 0) == 0) return;
    }
    char here[4096];
    if (getcwd(here, sizeof here) == nullptr) return;
    static std::string flag = std::string("-artifact_prefix=") + here + "/";
    static std::vector<char*> args;
    args.assign(*argv, *argv + *argc);
    args.push_back(flag.data());
    args.push_back(nullptr);
    *argc += 1;
    *argv = args.data();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // The report files go to a scratch folder, entered only while an
    // input runs: the fuzzer's own paths stay relative to where it started.
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/loopcheck-fuzz-XXXXXX";
    startFolder = open(".", O_RDONLY | O_DIRECTORY);
    if (startFolder < 0 || mkdtemp(pattern.data()) == nullptr) std::abort();
    scratchFolder = pattern;
    std::atexit(removeScratchFolder);
    keepArtifactsWhereStarted(argc, argv);
    console::redirectOut(&discard);
    console::redirectErr(&discard);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (chdir(scratchFolder.c_str()) != 0) std::abort();
    resetTestState();
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    TestPlan plan;
    if (askTestQuestions(in, plan)) {
        testState.runDurationMs = runMilliseconds;
        const int32_t runs = std::clamp(plan.runCount, int32_t{0}, maxRuns);
        testState.resultsFile = openResultsFile();
        for (int32_t run = 0; run < runs; ++run) runOnce(plan.device, run);
        closeResultsFile();
    }
    if (fchdir(startFolder) != 0) std::abort();
    return 0;
}
