// loopcheck-analyse: reads the harness's sample dumps and tells the round
// trip each input measured against what the driver reported, whether the
// loopback is bit-exact, and where glitches happened.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <iostream>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "analysis/channel_verdict.h"
#include "analyse/command_line.h"
#include "analysis/cross_run_summary.h"
#include "analyse/dump_parser.h"
#include "analyse/json_output.h"
#include "analyse/output_names.h"
#include "analyse/plot_output.h"
#include "analysis/recording_analysis.h"
#include "analysis/routed_run.h"
#include "analyse/session_settings.h"
#include "analyse/table_output.h"
#include "analyse/wav_output.h"
#include "control/build_version.h"

namespace {

constexpr int exitPassed = 0;
constexpr int exitFailed = 1;
constexpr int exitUnusable = 2;

int unusable(const std::string& message)
{
    std::cerr << "loopcheck-analyse: " << message << "\n";
    return exitUnusable;
}

// As loopcheck gives it: both come from one build.
std::string versionText()
{
    std::string text = std::string("loopcheck-analyse ") + LOOPCHECK_VERSION;
    const std::string commit = LOOPCHECK_GIT_COMMIT;
    if (!commit.empty()) text += " (commit " + commit + ")";
    return text;
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace analyse;
    // A reader of the table that went away (`| head`) is a write that
    // failed, reported as such, not a signal to die of.
    std::signal(SIGPIPE, SIG_IGN);
    CommandLine line;
    std::string error;
    if (!parseCommandLine(argc, argv, line, error)) {
        std::cerr << "loopcheck-analyse: " << error << "\n\n" << usageText();
        return exitUnusable;
    }
    if (line.help || line.version) {
        if (line.help)
            std::cout << usageText();
        else
            std::cout << versionText() << "\n";
        std::cout.flush();
        if (!std::cout) return unusable("standard output: cannot write");
        return exitPassed;
    }
    if (!checkOutputNames(line, error)) return unusable(error);

    SessionUse session;
    std::vector<std::string> sessionWarnings;
    if (!findSessionRecord(line, session, error, sessionWarnings)) return unusable(error);
    applySessionRecord(session, line, sessionWarnings);
    for (const std::string& w : sessionWarnings) std::cerr << "warning: " << w << "\n";
    const std::optional<RoutingCode> code = session.found ? session.record.signalCode : std::nullopt;
    // Without a coded session there is no routing to hold a map against:
    // passing it silently would vouch for a routing nobody measured.
    if (!code && (line.routeMap.given || line.crosstalkGiven))
        return unusable(std::string(line.routeMap.given ? "--map" : "--max-crosstalk") +
                        " needs a session record that says the outputs played channel codes (loopcheck --coded)");
    if (code && !line.plotFile.empty())
        return unusable("--plot draws one signal's onset, and the outputs of this session played channel codes; "
                        "their routing is in the table and the JSON file");
    RoutingOptions routing;
    if (code) {
        routing.code = *code;
        routing.outputs = std::max(line.firstChannel, 0);
        routing.rate = line.analysis.rate;
        routing.bits = line.analysis.bits != 0 ? line.analysis.bits : 32;
        routing.map = line.routeMap;
        routing.maxCrosstalkDb = line.maxCrosstalkDb;
        routing.maxExtraLatency = line.analysis.maxExtraLatency;
    }

    // Only the picture draws the whole run's envelope.
    line.analysis.plotEnvelope = !line.plotFile.empty();

    ReadStatistics read;
    std::vector<RunResult> runs;
    for (const std::string& file : line.files) {
        std::string stale;
        if (!dumpOfSession(session, file, stale)) {
            std::cerr << "warning: " << stale << "\n";
            continue;
        }
        // One dump in memory at a time: only its findings are kept.
        DumpData dump;
        std::vector<std::string> warnings;
        const auto started = std::chrono::steady_clock::now();
        if (!readDumpFile(file, dump, error, warnings)) return unusable(error);
        read.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        read.bytes += dump.bytes;
        ++read.files;
        for (const std::string& w : warnings) std::cerr << "warning: " << w << "\n";
        if (dump.columns.empty()) return unusable(file + ": the dump holds no input channel");
        if (dump.rows == 0) return unusable(file + ": the dump holds no samples");
        // Channel numbers are 32-bit, as the harness prints them.
        if (line.firstChannel >= 0 && int64_t{line.firstChannel} + static_cast<int64_t>(dump.columns.size()) - 1 >
                                          std::numeric_limits<int32_t>::max())
            return unusable("--outputs " + std::to_string(line.firstChannel) + " numbers the " +
                            std::to_string(dump.columns.size()) + " inputs of " + file + " past " +
                            std::to_string(std::numeric_limits<int32_t>::max()) + ", the largest channel number");

        runs.push_back(code ? routeRun(dump, routing, line.firstChannel)
                            : analyseRun(dump, line.analysis, line.firstChannel));
        failFlaggedRun(runs.back(), sessionFlags(session, runs.back().runNumber));
        if (!line.wavFolder.empty()) {
            std::string written;
            if (!writeRunWav(dump, runs.back().bits, line.analysis.rate, line.wavFolder, written, error))
                return unusable(error);
        }
    }

    if (runs.empty()) return unusable("no dump of the session in " + session.path + " was given");

    const std::vector<ChannelSummary> summary = summariseRuns(runs);
    const Verdict verdict = overallVerdict(runs);
    printTable(std::cout, runs, summary, read, verdict);
    std::cout.flush();
    if (!std::cout) return unusable("standard output: cannot write");

    if (!line.jsonFile.empty() &&
        !writeJsonFile(line.jsonFile, analysisJson(runs, summary, read, verdict, line.analysis, code ? &routing : nullptr), error))
        return unusable(error);
    if (!line.plotFile.empty()) {
        size_t left = 0;
        if (!writePlot(line.plotFile, runs, line.analysis.rate, error, left)) return unusable(error);
        if (left > 0)
            std::cerr << "warning: " << line.plotFile << ": the picture shows the first " << plottedRowsAtMost
                      << " inputs; " << left << " more are in the table and the JSON file\n";
    }
    return verdict.passed() ? exitPassed : exitFailed;
}
