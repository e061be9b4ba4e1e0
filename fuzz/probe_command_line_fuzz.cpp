// Fuzzes loopcheck's command line: each input is its arguments, one a line.
// Whatever they ask for is done as the program does it (the usage, the
// version, the list of drivers, the probe of one of them) against the
// virtual drivers of dialogue_drivers.reg. An empty line list would be the
// operator's dialogue, which the dialogue target covers.
//
// Only what would make a fuzzer crawl is bounded here, not in the program:
// at most 16 arguments of 64 characters, and a probe streams for 0.1 s
// (the shortest the program takes) where --seconds asks for longer or is
// not given (the program's default is 2 s, and it takes up to 600). A
// qualification runs once per cell, at one rate and one size (a list of
// them is cut to its first), and writes its report under the temporary
// folder rather than wherever the fuzzer was started.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "control/command_line.h"
#include "platform/posix/registry_file.h"
#include "record/console.h"

#include "argument_lines.h"

namespace {

constexpr size_t maxArguments = 16;
constexpr size_t maxArgumentChars = 64;
constexpr double shortestSeconds = 0.1;

// The driver list is built while the program's static objects are made,
// so the registry is named before any of them.
__attribute__((constructor(101))) void nameTheRegistry()
{
    setenv(posix_registry::fileVariable, FUZZ_REGISTRY_FILE, 1);
}

// What the program prints is not looked at.
std::ostream discard(nullptr);

const std::string reportFolder = (std::filesystem::temp_directory_path() / "fuzz-qualify-report").string();

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    console::redirectOut(&discard);
    console::redirectErr(&discard);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> arguments;
    if (!argumentLines(data, size, "loopcheck", arguments, maxArguments, maxArgumentChars)) return 0;
    if (arguments.size() < 2) return 0;
    bool probe = false;
    bool secondsGiven = false;
    for (size_t i = 1; i < arguments.size(); ++i) {
        std::string& a = arguments[i];
        if (a == "--probe" || a.rfind("--probe=", 0) == 0) probe = true;
        if (a == "--seconds" && i + 1 < arguments.size()) {
            secondsGiven = true;
            std::string& value = arguments[++i];
            if (std::strtod(value.c_str(), nullptr) > shortestSeconds) value = "0.1";
        } else if (a.rfind("--seconds=", 0) == 0) {
            secondsGiven = true;
            if (std::strtod(a.c_str() + 10, nullptr) > shortestSeconds) a = "--seconds=0.1";
        }
    }
    bool qualify = false, ratesGiven = false, buffersGiven = false, runsGiven = false, reportGiven = false;
    for (size_t i = 1; i < arguments.size(); ++i) {
        std::string& a = arguments[i];
        if (a == "--qualify" || a.rfind("--qualify=", 0) == 0) qualify = true;
        const bool last = i + 1 >= arguments.size();
        if ((a == "--rates" || a == "--buffers") && !last) {
            (a == "--rates" ? ratesGiven : buffersGiven) = true;
            std::string& value = arguments[++i];
            value = value == "all" ? "preferred" : value.substr(0, value.find(','));
        } else if (a == "--runs" && !last) {
            runsGiven = true;
            arguments[++i] = "1";
        } else if (a == "--report" && !last) {
            reportGiven = true;
            arguments[++i] = reportFolder;
        } else if (a.rfind("--rates=", 0) == 0 || a.rfind("--buffers=", 0) == 0 || a.rfind("--runs=", 0) == 0 ||
                   a.rfind("--report=", 0) == 0) {
            a = "--bogus";
        }
    }
    if ((probe || qualify) && !secondsGiven) {
        arguments.push_back("--seconds");
        arguments.push_back("0.1");
    }
    if (qualify) {
        if (!ratesGiven) arguments.insert(arguments.end(), {"--rates", "48000"});
        if (!buffersGiven) arguments.insert(arguments.end(), {"--buffers", "preferred"});
        if (!runsGiven) arguments.insert(arguments.end(), {"--runs", "1"});
        if (!reportGiven) arguments.insert(arguments.end(), {"--report", reportFolder});
    }
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    // Standard input is the dialogue's; the options never read it.
    std::istringstream in;
    runCommandLine(static_cast<int>(arguments.size()), argv.data(), in);
    return 0;
}
