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
#include "qualify/driver_qualification.h"
#include "qualify/qualify_output.h"
#include "platform/interruption.h"
#include "record/test_state.h"

namespace {

struct CommandLine {
    bool version = false;
    bool list = false;
    bool json = false;
    bool coded = false;
    int probe = -1;
    ProbeOptions probeOptions;
    int qualify = -1;
    QualifyOptions qualifyOptions;
    std::string rates;
    std::string buffers;
    std::string signal;
    int64_t maxHiddenLatency = -1;
    std::string map;
    bool secondsGiven = false;
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
        "was interrupted.\n"
        "--qualify ends with 0 when every offered cell passed, 1 when one failed, 2 when\n"
        "nothing could be qualified, 3 when the report could not be written, 129, 130 or\n"
        "143 when interrupted.");
    app.add_flag("--version", line.version, "Print the version and exit");
    CLI::Option* list = app.add_flag("--list", line.list,
                                     "List every driver entry of the registry, and the entries passed over");
    CLI::Option* probe =
        app.add_option("--probe", line.probe, "Query driver N (its index in --list) and time a short stream")
            ->type_name("N")
            ->check(CLI::NonNegativeNumber);
    CLI::Option* qualify =
        app.add_option("--qualify", line.qualify,
                       "Qualify driver N (its index in --list) at every rate and buffer size, with a report")
            ->type_name("N")
            ->check(CLI::NonNegativeNumber);
    CLI::Option* seconds = app.add_option("--seconds", line.probeOptions.seconds,
                                          "Length of the probe's stream, or of each run of a qualification (default 2)")
                               ->type_name("S")
                               ->check(finiteRange(0.1, 600.0));
    seconds->each([&line](const std::string&) { line.secondsGiven = true; });
    app.add_option("--rates", line.rates,
                   "Rates to qualify, e.g. 44100,48000, or all (default: those of 44100 to 192000 the driver accepts)")
        ->type_name("LIST|all")
        ->needs(qualify);
    app.add_option("--buffers", line.buffers,
                   "Buffer sizes to qualify, e.g. 64,256, all or preferred (default: minimum, preferred, maximum\n"
                   "and the powers of two between them)")
        ->type_name("LIST|all|preferred")
        ->needs(qualify);
    app.add_option("--runs", line.qualifyOptions.runs, "Starts and stops of the driver per cell (default 3)")
        ->type_name("K")
        ->check(CLI::Range(1, 1000))
        ->needs(qualify);
    app.add_option("--signal", line.signal, "Test signal of a qualification (default auto)")
        ->type_name("staircase|pulse|sine[:HZ]|auto")
        ->needs(qualify);
    app.add_option("--max-hidden-latency", line.maxHiddenLatency,
                   "Fail a cell whose measured round trip differs from the reported one by more than N samples")
        ->type_name("N")
        ->check(CLI::Range(int64_t{0}, int64_t{1} << 40))
        ->needs(qualify);
    app.add_option("--map", line.map, "Routing the qualification expects: identity, or input:output pairs")
        ->type_name("identity|0:1,1:0,...")
        ->needs(qualify);
    app.add_option("--max-crosstalk", line.qualifyOptions.maxCrosstalkDb,
                   "With --map, fail a cell where another output leaks in louder than this (dB, default -60)")
        ->type_name("DB")
        ->check(finiteRange(-200.0, 0.0))
        ->needs(qualify);
    app.add_option("--report", line.qualifyOptions.reportFolder,
                   "Folder of the qualification's report (default loopcheck-report)")
        ->type_name("DIR")
        ->needs(qualify);
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
    app.add_flag(
        "--coded", line.coded,
        "Ask the questions and run the test with each output playing its own channel code:\n"
        "the staircase's for the staircase in 16- and 32-bit, otherwise a tone per output");
    list->excludes(probe);
    list->excludes(qualify);
    probe->excludes(qualify);
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

int runQualification(const CLI::App& app, CommandLine& line)
{
    QualifyOptions& options = line.qualifyOptions;
    options.seconds = line.probeOptions.seconds;
    if (line.maxHiddenLatency >= 0) options.maxHiddenLatency = line.maxHiddenLatency;
    std::string why;
    if (!line.map.empty() && !analyse::parseRouteMap(line.map, options.map, why)) return usageError(app, why);
    if ((!line.rates.empty() || !line.buffers.empty() || !line.signal.empty()) &&
        !((line.rates.empty() || parseRateList(line.rates, options, why)) &&
          (line.buffers.empty() || parseSizeList(line.buffers, options, why)) &&
          (line.signal.empty() || parseSignal(line.signal, options, why))))
        return usageError(app, why);
    if (options.reportFolder.empty()) return usageError(app, "--report: an empty folder name");
    if (!prepareReportFolder(options.reportFolder, why)) {
        console::err() << "error: the report folder cannot be written: " << why << '\n';
        console::err().flush();
        return exitUsage;
    }

    QualifyReport report;
    qualifyInstalledDriver(line.qualify, options, report);
    if (!report.cells.empty()) writeQualifySummary(report, console::out());
    const int written = finishOutput(exitSuccess);
    const bool saved = writeQualifyReport(report, options.reportFolder, why);
    if (!saved) {
        console::err() << "error: the report could not be written: " << why << '\n';
        console::err().flush();
    }
    if (report.interrupted) {
        console::err() << "error: the qualification of driver " << line.qualify << " was interrupted ("
                       << interruptionName() << ")\n";
        console::err().flush();
        interruptionHandled();
        return interruptionStatus();
    }
    if (report.offeredCells() == 0) {
        console::err() << "error: nothing could be qualified: "
                       << (report.error.empty() ? std::string("the driver offers none of the cells tried")
                                                : report.error)
                       << '\n';
        console::err().flush();
        return exitUsage;
    }
    if (!saved || written != exitSuccess) return exitOutputFailed;
    return report.failedCells() > 0 ? exitDriverFailed : exitSuccess;
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

    if (line.coded && (line.list || line.probe >= 0 || line.qualify >= 0 || line.json))
        return usageError(app, "--coded goes with none of --list, --probe, --qualify and --json");
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
    if (line.secondsGiven && line.probe < 0 && line.qualify < 0)
        return usageError(app, "--seconds needs --probe or --qualify");
    if (line.coded) {
        testState.codedSignal = true;
        return runTestDialogue(in);
    }
    if (line.qualify >= 0) {
        if (line.json)
            return usageError(app, "--json does not go with --qualify, which writes its JSON into the report folder");
        return runQualification(app, line);
    }
    if (line.probe < 0)
        return usageError(app, "nothing to do: give --list, --probe N, --qualify N, --version or --help");

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
