#include "analyse/json_output.h"

#include <cmath>
#include <cstring>

#include "analyse/output_file.h"
#include "analysis/signal_detection.h"

namespace analyse {

namespace {

using nlohmann::json;

// Infinite levels (a silent input) have no JSON number: null stands for them.
json number(double value) { return std::isfinite(value) ? json(value) : json(nullptr); }

json faultJson(const Fault& f)
{
    json j = {{"kind", faultKindName(f.kind)}, {"position", f.position}, {"length", f.length}};
    if (f.kind == FaultKind::corrupted || f.kind == FaultKind::discontinuity || f.kind == FaultKind::beforeOnset) {
        j["wrongSamples"] = f.count;
        j["largestDeviation"] = f.value;
    }
    if (f.kind == FaultKind::offset) j["offset"] = f.value;
    return j;
}

json channelJson(const ChannelResult& ch)
{
    json j = {{"column", ch.column},
              {"label", ch.label},
              {"samples", ch.samples},
              {"status", channelStatusName(ch.status)},
              {"peak", ch.peak},
              {"peakDbfs", number(ch.peakDbfs)},
              {"passed", ch.passed},
              {"failures", ch.failures},
              {"unchecked", ch.unchecked}};
    if (!ch.note.empty()) j["note"] = ch.note;
    if (!ch.doubt.empty()) j["doubt"] = ch.doubt;
    if (ch.status == ChannelStatus::usable) {
        j["onset"] = ch.onset;
        if (ch.roundTripKnown) {
            j["roundTripSamples"] = ch.roundTrip;
            j["roundTripMs"] = ch.roundTripMs;
            j["hiddenLatency"] = ch.hiddenLatency;
        }
        j["checkedSamples"] = ch.checkedSamples;
    }
    if (ch.bitExact) j["bitExact"] = *ch.bitExact;
    if (!ch.pulses.empty()) j["pulses"] = ch.pulses;
    if (ch.amplitude > 0.0) j["amplitude"] = ch.amplitude;
    if (ch.snrDb > 0.0) j["snrDb"] = ch.snrDb;
    if (ch.driftPpm) j["driftPpm"] = *ch.driftPpm;

    json counts = json::object();
    for (int k = 0; k < faultKindCount; ++k) {
        const FaultKind kind = static_cast<FaultKind>(k);
        if (ch.faults.count(kind) > 0) counts[faultKindName(kind)] = ch.faults.count(kind);
    }
    j["faultCounts"] = counts;
    json faults = json::array();
    for (const Fault& f : ch.faults.entries()) faults.push_back(faultJson(f));
    j["faults"] = faults;
    j["faultsTruncated"] = ch.faults.truncated();
    return j;
}

const char* codeName(RoutingCode code) { return code == RoutingCode::staircase ? "staircase" : "tones"; }

// The fields of the qualification report's routing, for one run; each
// input with its column and label as the channels have them.
json routingJson(const RunResult& run)
{
    json inputs = json::array();
    for (size_t k = 0; k < run.routing.size(); ++k) {
        const RoutedChannel& ch = run.routing[k];
        const RoutedInput& r = ch.routed;
        json levels = json::array();
        for (double db : r.levelsDb) levels.push_back(number(db));
        inputs.push_back(json{{"input", k},
                              {"column", ch.column},
                              {"label", ch.label},
                              {"dead", r.dead},
                              {"heard", r.heard >= 0 ? json(r.heard) : json(nullptr)},
                              {"levelDb", r.dead ? json(nullptr) : number(r.levelDb)},
                              {"leakFrom", r.leakFrom >= 0 ? json(r.leakFrom) : json(nullptr)},
                              {"leakDb", r.dead ? json(nullptr) : number(r.leakDb)},
                              {"noiseFloorDb", r.dead ? json(nullptr) : number(r.noiseFloorDb)},
                              {"roundTrip", r.roundTripKnown ? number(r.roundTrip) : json(nullptr)},
                              {"levelsDb", levels},
                              {"passed", ch.passed},
                              {"failures", ch.failures}});
    }
    return json{{"code", codeName(run.routingCode)}, {"inputs", inputs}};
}

json runJson(const RunResult& run)
{
    json j = {{"file", run.file},
              {"run", run.runNumber >= 0 ? json(run.runNumber) : json(nullptr)},
              {"inputLatency", run.inputLatency},
              {"outputLatency", run.outputLatency},
              {"reportedLatency", run.reportedLatency()},
              {"leadIn", run.leadIn},
              {"rows", run.rows},
              {"signal", signalKindName(run.signal)},
              {"bits", run.bits},
              {"flaggedByHarness", !run.harnessFlags.empty()},
              {"harnessFlags", run.harnessFlags}};
    if (run.frequency) {
        j["frequency"] = *run.frequency;
        j["frequencyMeasured"] = run.frequencyEstimated;
    }
    json channels = json::array();
    for (const ChannelResult& ch : run.channels) channels.push_back(channelJson(ch));
    j["channels"] = channels;
    if (run.routingMeasured) j["routing"] = routingJson(run);
    return j;
}

json summaryJson(const ChannelSummary& s)
{
    json j = {{"column", s.column},
              {"label", s.label},
              {"usableRuns", s.runs},
              {"unusableRuns", s.unusableRuns},
              {"passedRuns", s.passedRuns},
              {"failedRuns", s.failedRuns},
              {"distinctRoundTrips", s.distinct},
              {"consistent", s.consistent()}};
    if (s.runs > 0) {
        j["minRoundTrip"] = s.minRoundTrip;
        j["maxRoundTrip"] = s.maxRoundTrip;
    }
    return j;
}

}  // namespace

json analysisJson(const std::vector<RunResult>& runs, const std::vector<ChannelSummary>& summary,
                  const ReadStatistics& read, const Verdict& verdict, const AnalysisOptions& options,
                  const RoutingOptions* routing)
{
    json settings = {{"rate", options.rate},
                     {"signal", signalKindName(options.signal)},
                     {"minLevelDbfs", options.minLevelDbfs},
                     {"glitchDb", options.glitchDb},
                     {"allowSilent", options.allowSilent}};
    settings["frequency"] = options.frequency ? json(*options.frequency) : json(nullptr);
    settings["maxExtraLatency"] = options.maxExtraLatency ? json(*options.maxExtraLatency) : json(nullptr);
    settings["bits"] = options.bits != 0 ? json(options.bits) : json(nullptr);
    if (routing != nullptr) {
        settings["signalCode"] = codeName(routing->code);
        settings["maxCrosstalkDb"] = number(routing->maxCrosstalkDb);
        if (routing->map.given) {
            json map = json::array();
            for (int32_t output : routing->map.routes) map.push_back(output);
            settings["map"] = map;
        }
    }

    json runList = json::array();
    for (const RunResult& run : runs) runList.push_back(runJson(run));
    json summaryList = json::array();
    for (const ChannelSummary& s : summary)
        if (!s.label.empty()) summaryList.push_back(summaryJson(s));

    return json{{"tool", "loopcheck-analyse"},
                {"options", settings},
                {"read", {{"files", read.files}, {"bytes", read.bytes}, {"seconds", read.seconds},
                          {"megabytesPerSecond", read.megabytesPerSecond()}}},
                {"runs", runList},
                {"acrossRuns", summaryList},
                {"passed", verdict.passed()},
                {"inputRecordings", verdict.channelRuns},
                {"failedInputRecordings", verdict.failed},
                {"latencyOnlyInputRecordings", verdict.latencyOnly}};
}

bool writeJsonFile(const std::string& path, const json& document, std::string& error)
{
    // File names that are not UTF-8 are written with replacement characters
    // rather than make the library give up.
    const std::string text = document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
    OutputFile out;
    if (!out.open(path, error)) return false;
    out.write(text.data(), text.size());
    return out.commit(error);
}

}  // namespace analyse
