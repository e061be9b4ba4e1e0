#include "analyse/table_output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "analysis/fault_text.h"
#include "analysis/signal_detection.h"

namespace analyse {

namespace {

// Faults listed under an input; the JSON file has them all.
constexpr size_t listedFaults = 8;

std::string format(const char* pattern, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

std::string padded(const std::string& text, size_t width)
{
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

std::string signalText(const RunResult& run)
{
    std::string text = signalKindName(run.signal);
    if (run.signal == SignalKind::sine && run.frequency)
        text += " " + format("%g", *run.frequency) + " Hz" + (run.frequencyEstimated ? " (measured)" : "");
    return text;
}

std::string levelText(const ChannelResult& ch)
{
    return std::isfinite(ch.peakDbfs) ? format("%.1f", ch.peakDbfs) : "-inf";
}

void printChannel(std::ostream& out, const ChannelResult& ch, size_t labelWidth)
{
    out << "  " << padded(ch.label, labelWidth) << padded(levelText(ch), 11);
    if (ch.status != ChannelStatus::usable) {
        out << padded("-", 12) << padded("-", 10) << padded("-", 8) << padded("-", 8) << (ch.passed ? "ok" : "FAIL")
            << "  no usable signal: " << ch.note << "\n";
        return;
    }
    if (ch.roundTripKnown)
        out << padded(formatSamples(ch.roundTrip), 12) << padded(format("%.3f", ch.roundTripMs), 10)
            << padded(formatSignedSamples(ch.hiddenLatency), 8);
    else
        out << padded("-", 12) << padded("-", 10) << padded("-", 8);
    out << padded(std::to_string(ch.faults.total()), 8) << (ch.passed ? "ok" : "FAIL");
    if (ch.bitExact) out << (*ch.bitExact ? "  bit-exact" : "  not bit-exact");
    if (!ch.pulses.empty()) out << "  " << ch.pulses.size() << (ch.pulses.size() == 1 ? " pulse" : " pulses");
    if (ch.snrDb > 0.0) out << "  SNR " << format("%.1f", std::min(ch.snrDb, 199.0)) << " dB";
    // A digital loop shares one clock: only a drift that shows is told.
    if (ch.driftPpm && std::fabs(*ch.driftPpm) >= 0.05) out << "  clock " << format("%+.1f", *ch.driftPpm) << " ppm";
    out << "\n";
    const auto& faults = ch.faults.entries();
    for (size_t i = 0; i < faults.size() && i < listedFaults; ++i) out << "      " << describeFault(faults[i]) << "\n";
    const int64_t more = ch.faults.total() - static_cast<int64_t>(std::min(faults.size(), listedFaults));
    if (more > 0) out << "      ... " << more << " more (all of them in the JSON file)\n";
    if (!ch.doubt.empty()) out << "      " << ch.doubt << "\n";
    if (!ch.unchecked.empty()) {
        out << "      not checked:";
        for (size_t i = 0; i < ch.unchecked.size(); ++i) out << (i > 0 ? ", " : " ") << ch.unchecked[i];
        out << "\n";
    }
    for (const std::string& why : ch.failures)
        if (why.find("hidden latency") == 0) out << "      " << why << "\n";
}

size_t labelWidth(const std::vector<RunResult>& runs)
{
    size_t width = 7;
    for (const RunResult& run : runs) {
        for (const ChannelResult& ch : run.channels) width = std::max(width, ch.label.size() + 2);
        for (const RoutedChannel& ch : run.routing) width = std::max(width, ch.label.size() + 2);
    }
    return width;
}

// One decimal, and no "-0.0" for a level a hair below 0.
std::string decibelsText(double db) { return format("%.1f", std::fabs(db) < 0.05 ? 0.0 : db); }

const char* codeName(RoutingCode code) { return code == RoutingCode::staircase ? "staircase" : "tones"; }

// A coded run's inputs: which output each hears, how loud, the loudest
// other output and the floor it stands on, all in dB.
void printRouting(std::ostream& out, const RunResult& run, size_t width)
{
    out << "  " << padded("input", width) << padded("hears", 10) << padded("level dB", 10) << padded("leak dB", 10)
        << padded("from", 10) << padded("floor dB", 10) << padded("round trip", 12) << "result\n";
    for (const RoutedChannel& ch : run.routing) {
        const RoutedInput& r = ch.routed;
        out << "  " << padded(ch.label, width);
        if (r.dead || r.heard < 0) {
            out << padded(r.dead ? "nothing" : "?", 10) << padded("-", 10) << padded("-", 10) << padded("-", 10)
                << padded("-", 10) << padded("-", 12);
        } else {
            out << padded("output " + std::to_string(r.heard), 10) << padded(decibelsText(r.levelDb), 10);
            if (r.leakFrom >= 0)
                out << padded(decibelsText(r.leakDb), 10) << padded("output " + std::to_string(r.leakFrom), 10);
            else
                out << padded("-", 10) << padded("-", 10);
            out << padded(decibelsText(r.noiseFloorDb), 10)
                << padded(r.roundTripKnown ? formatSamples(r.roundTrip) : std::string("-"), 12);
        }
        out << (ch.passed ? "ok" : "FAIL") << "\n";
        for (const std::string& why : ch.failures) out << "      " << why << "\n";
    }
}

std::string runTitle(const RunResult& run)
{
    return (run.runNumber >= 0 ? "Run " + std::to_string(run.runNumber) : std::string("Dump")) + " (" + run.file + ")";
}

void printSummary(std::ostream& out, const std::vector<ChannelSummary>& summary, size_t width)
{
    out << "\nRound trip across runs, in samples\n";
    out << "  " << padded("input", width) << padded("runs", 6) << padded("min", 10) << padded("max", 10)
        << "distinct\n";
    for (const ChannelSummary& s : summary) {
        if (s.label.empty()) continue;
        out << "  " << padded(s.label, width) << padded(std::to_string(s.runs), 6);
        if (s.runs == 0) {
            out << padded("-", 10) << padded("-", 10) << "-\n";
            continue;
        }
        out << padded(formatSamples(s.minRoundTrip), 10) << padded(formatSamples(s.maxRoundTrip), 10);
        for (size_t i = 0; i < s.distinct.size(); ++i) out << (i > 0 ? " " : "") << formatSamples(s.distinct[i]);
        if (!s.consistent()) out << "  (changes from run to run)";
        out << "\n";
    }
}

}  // namespace

void printTable(std::ostream& out, const std::vector<RunResult>& runs, const std::vector<ChannelSummary>& summary,
                const ReadStatistics& read, const Verdict& verdict)
{
    out << "loopcheck-analyse: " << read.files << (read.files == 1 ? " dump, " : " dumps, ")
        << format("%.1f", static_cast<double>(read.bytes) / 1e6) << " MB read at "
        << format("%.0f", read.megabytesPerSecond()) << " MB/s\n";
    const size_t width = labelWidth(runs);
    bool channels = false;
    for (const RunResult& run : runs) {
        channels = channels || !run.channels.empty();
        out << "\n" << runTitle(run) << ": "
            << (run.routingMeasured ? std::string("channel-coded, ") + codeName(run.routingCode) : signalText(run))
            << ", " << run.rows << " rows, " << run.bits << "-bit\n";
        out << "  reported latency: input " << run.inputLatency << " + output " << run.outputLatency << " = "
            << run.reportedLatency() << " samples (the lead-in of silence)\n";
        for (const std::string& flag : run.harnessFlags) out << "  FAIL, flagged by the harness: " << flag << "\n";
        if (run.routingMeasured) {
            printRouting(out, run, width);
            continue;
        }
        out << "  " << padded("input", width) << padded("dBFS", 11) << padded("round trip", 12) << padded("ms", 10)
            << padded("hidden", 8) << padded("faults", 8) << "result\n";
        for (const ChannelResult& ch : run.channels) printChannel(out, ch, width);
    }

    // A coded session's round trips are in its routing.
    if (channels) printSummary(out, summary, width);
    // A pass that could not look for every fault says so.
    const char* result = !verdict.passed() ? "FAIL" : verdict.latencyOnly > 0 ? "PASS (latency only)" : "PASS";
    out << "\nResult: " << result << " (" << verdict.channelRuns - verdict.failed
        << " of " << verdict.channelRuns << " input recordings passed)\n";
}

}  // namespace analyse
