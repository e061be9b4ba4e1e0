#include "control/command_line.h"

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdlib>
#include <string>

#include "control/build_version.h"
#include "record/console.h"
#include "control/dialogue.h"
#include "control/driver_list.h"
#include "probe/driver_probe.h"
#include "probe/probe_output.h"
#include "platform/interruption.h"

namespace {

struct CommandLine {
    bool version = false;
    bool list = false;
    bool json = false;
    int probe = -1;
    ProbeOptions probeOptions;
};

std::string versionText()
{
    std::string text = std::string("loopcheck ") + LOOPCHECK_VERSION;
    const std::string commit = LOOPCHECK_GIT_COMMIT;
    if (!commit.empty())
        text += " (commit " + commit + ")";
    return text;
}

// The library's range check compares, and NaN compares false with
// everything: "nan" would pass any range and reach the probe.
CLI::Validator finiteRange(double low, double high)
{
    return CLI::Validator(
        [low, high](std::string& text) -> std::string {
            const char* begin = text.c_str();
            char* end = nullptr;
            const double value = std::strtod(begin, &end);
            if (end == begin || *end != '\0' || !std::isfinite(value) || value < low || value > high)
                return "Value " + text + " not in range [" + CLI::detail::to_string(low) + " - " +
                       CLI::detail::to_string(high) + "]";
            return "";
        },
        "FLOAT in [" + CLI::detail::to_string(low) + " - " + CLI::detail::to_string(high) + "]");
}

void describeOptions(CLI::App& app, CommandLine& line)
{
    app.footer(
        "Without options loopcheck asks its questions on the console and runs the test.\n"
        "Exit status: 0 done, 1 the probed driver could not be opened or initialised,\n"
        "2 a bad option, 3 standard output could not be written, 129, 130 or 143 the probe\n"
        "was interrupted.");
    app.add_flag("--version", line.version, "Print the version and exit");
    CLI::Option* list = app.add_flag("--list", line.list,
                                     "List every driver entry of the registry, and the entries passed over");
    CLI::Option* probe =
        app.add_option("--probe", line.probe, "Query driver N (its index in --list) and time a short stream")
            ->type_name("N")
            ->check(CLI::NonNegativeNumber);
    app.add_option("--seconds", line.probeOptions.seconds, "Length of the probe's stream (default 2)")
        ->type_name("S")
        ->check(finiteRange(0.1, 600.0))
        ->needs(probe);
    app.add_option("--rate", line.probeOptions.rate, "Sample rate of the probe's stream (default: the driver's)")
        ->type_name("HZ")
        ->check(finiteRange(1.0, 10000000.0))
        ->needs(probe);
    app.add_option("--buffer", line.probeOptions.bufferSize,
                   "Buffer size of the probe's stream (default: the driver's preferred size)")
        ->type_name("N")
        ->check(CLI::Range(1, 1 << 24))
        ->needs(probe);
    app.add_flag("--json", line.json, "Write the list or the probe as one JSON document");
    list->excludes(probe);
}

// Output that did not reach standard output (a full disk, a closed pipe) is
// a failure, not a success with nothing shown.
int finishOutput(int status)
{
    console::out().flush();
    if (console::out())
        return status;
    // The stream keeps no reason, and errno is long gone by now when an
    // earlier line's flush failed.
    console::err() << "error: standard output: cannot write\n";
    console::err().flush();
    return status == exitSuccess ? exitOutputFailed : status;
}

int usageError(const CLI::App& app, const std::string& message)
{
    console::err() << "error: " << message << '\n' << app.help();
    console::err().flush();
    return exitUsage;
}

}  // namespace

int runCommandLine(int argc, char** argv, std::istream& in)
{
    // What is written goes to standard output, whose reader may be gone
    // (`loopcheck --list | head -1`): that is a failed write to report, not
    // a signal to die of, least of all with a driver running.
    ignoreBrokenPipes();
    if (argc <= 1)
        return runTestDialogue(in);

    CLI::App app("Test harness for ASIO audio interfaces: streams a test signal on every output and\n"
                 "records every input.",
                 "loopcheck");
    CommandLine line;
    describeOptions(app, line);
    // The library reports a bad command line by throwing; nothing of ours
    // does, and nothing of it leaves this function.
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        console::out() << app.help();
        return finishOutput(exitSuccess);
    } catch (const CLI::ParseError& e) {
        return usageError(app, e.what());
    }

    if (line.version) {
        console::line(versionText());
        return finishOutput(exitSuccess);
    }
    if (line.list) {
        const DriverListing listing = listInstalledDrivers();
        if (line.json)
            writeDriverListJson(listing, console::out());
        else
            writeDriverListTable(listing, console::out());
        return finishOutput(exitSuccess);
    }
    if (line.probe < 0)
        return usageError(app, "nothing to do: give --list, --probe N, --version or --help");

    ProbeReport report;
    const bool probed = probeInstalledDriver(line.probe, line.probeOptions, report);
    if (line.json)
        writeProbeJson(report, console::out());
    else
        writeProbeTable(report, console::out());
    const int written = finishOutput(exitSuccess);
    if (report.stream.interrupted) {
        console::err() << "error: the probe of driver " << line.probe << " was interrupted (" << interruptionName()
                       << ")\n";
        console::err().flush();
        interruptionHandled();
        return interruptionStatus();
    }
    if (!probed) {
        console::err() << "error: driver " << line.probe << " could not be "
                       << (report.opened ? "initialised: " + report.initError : "opened: " + report.openError)
                       << '\n';
        console::err().flush();
        return exitDriverFailed;
    }
    return written;
}
