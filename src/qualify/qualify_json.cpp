// report.json: everything the qualification found, for programs. Its layout
// is described in docs/qualify.md; "version" says which layout it is.
#include <cmath>

#include "analysis/fault_list.h"
#include "qualify/qualify_output.h"
#include "stream/accounts_json.h"

using nlohmann::json;

namespace {

// A figure that is not a number has no JSON form; null says it is unknown.
json number(double value) { return std::isfinite(value) ? json(value) : json(nullptr); }

json milliseconds(double samples, double rate) { return rate > 0.0 ? number(samples / rate * 1000.0) : json(nullptr); }

json timingJson(const ProbeStream& t)
{
    return json{{"callbacks", t.callbacks},
                {"timeInfoCallbacks", t.timeInfoCallbacks},
                {"measuredRate", number(t.measuredRate)},
                {"ppm", number(t.ppm)},
                {"periodMs", number(t.periodMs)},
                {"meanIntervalMs", number(t.meanIntervalMs)},
                {"minIntervalMs", number(t.minIntervalMs)},
                {"maxIntervalMs", number(t.maxIntervalMs)},
                {"lateCallbacks", t.lateCallbacks}};
}

json faultJson(const analyse::Fault& f)
{
    return json{{"kind", analyse::faultKindName(f.kind)},
                {"position", f.position},
                {"length", f.length},
                {"count", f.count},
                {"value", number(f.value)}};
}

json channelJson(const analyse::ChannelResult& c, double rate)
{
    json faults = json::array();
    for (const analyse::Fault& f : c.faults.entries()) faults.push_back(faultJson(f));
    json out{{"column", c.column},
             {"label", c.label},
             {"samples", c.samples},
             {"status", analyse::channelStatusName(c.status)},
             {"note", c.note},
             {"peak", c.peak},
             {"peakDbfs", number(c.peakDbfs)},
             {"roundTripKnown", c.roundTripKnown},
             {"faultCount", c.faults.total()},
             {"faultsTruncated", c.faults.truncated()},
             {"faults", faults},
             {"unchecked", c.unchecked},
             {"passed", c.passed},
             {"failures", c.failures}};
    if (c.status == analyse::ChannelStatus::usable) {
        out["onset"] = number(c.onset);
        out["roundTrip"] = number(c.roundTrip);
        out["roundTripMs"] = milliseconds(c.roundTrip, rate);
        out["hiddenLatency"] = number(c.hiddenLatency);
    }
    if (c.bitExact) out["bitExact"] = *c.bitExact;
    if (!c.doubt.empty()) out["doubt"] = c.doubt;
    return out;
}

json runJson(const QualifyRun& run, double rate)
{
    json out{{"run", run.number},
             {"signal", analyse::signalKindName(run.signal)},
             {"interrupted", run.interrupted},
             {"lostSamples", run.lostSamples}};
    if (run.interrupted) return out;
    out["timing"] = timingJson(run.timing);
    out["accounts"] = accountsJson(run.accounts, run.accountWarnings);
    json channels = json::array();
    for (const analyse::ChannelResult& c : run.analysis.channels) channels.push_back(channelJson(c, rate));
    out["rows"] = run.analysis.rows;
    out["leadIn"] = run.analysis.leadIn;
    if (run.analysis.frequency) out["frequency"] = number(*run.analysis.frequency);
    out["inputs"] = channels;
    return out;
}

json cellJson(const QualifyCell& cell)
{
    json out{{"rate", number(cell.rate)}, {"bufferSize", cell.bufferSize}, {"verdict", cellVerdictName(cell.verdict)}};
    if (cell.verdict == CellVerdict::notOffered) {
        out["notOfferedBecause"] = cell.notOfferedBecause;
        return out;
    }
    if (cell.verdict == CellVerdict::notRun) return out;
    json reported{{"inputLatency", cell.inputLatency},
                  {"outputLatency", cell.outputLatency},
                  {"latenciesKnown", cell.latenciesKnown},
                  {"roundTrip", cell.reportedRoundTrip()},
                  {"roundTripMs", milliseconds(static_cast<double>(cell.reportedRoundTrip()), cell.rate)}};
    out["reported"] = reported;
    if (cell.roundTripKnown) {
        out["measured"] = json{{"roundTrip", number(cell.roundTrip)},
                               {"roundTripMs", milliseconds(cell.roundTrip, cell.rate)},
                               {"minRoundTrip", number(cell.minRoundTrip)},
                               {"maxRoundTrip", number(cell.maxRoundTrip)}};
        out["hiddenLatency"] = number(cell.hiddenLatency);
    } else {
        out["measured"] = nullptr;
        out["hiddenLatency"] = nullptr;
    }
    out["glitches"] = cell.glitches;
    out["lateCallbacks"] = cell.lateCallbacks;
    out["failures"] = cell.failures;
    json runs = json::array();
    for (const QualifyRun& run : cell.runs) runs.push_back(runJson(run, cell.rate));
    out["runs"] = runs;
    if (cell.routingMeasured) {
        json inputs = json::array();
        for (size_t k = 0; k < cell.routing.size(); ++k) {
            const analyse::RoutedInput& r = cell.routing[k];
            json levels = json::array();
            for (double db : r.levelsDb) levels.push_back(number(db));
            inputs.push_back(json{{"input", k},
                                  {"dead", r.dead},
                                  {"heard", r.heard >= 0 ? json(r.heard) : json(nullptr)},
                                  {"levelDb", r.dead ? json(nullptr) : number(r.levelDb)},
                                  {"leakFrom", r.leakFrom >= 0 ? json(r.leakFrom) : json(nullptr)},
                                  {"leakDb", r.dead ? json(nullptr) : number(r.leakDb)},
                                  {"noiseFloorDb", r.dead ? json(nullptr) : number(r.noiseFloorDb)},
                                  {"roundTrip", r.roundTripKnown ? number(r.roundTrip) : json(nullptr)},
                                  {"levelsDb", levels}});
        }
        out["routing"] = json{{"code", cell.routingCode == analyse::RoutingCode::staircase ? "staircase" : "tones"},
                              {"seconds", number(cell.routingSeconds)},
                              {"inputs", inputs}};
    }
    return out;
}

const char* signalChoiceName(QualifySignal signal)
{
    switch (signal) {
    case QualifySignal::automatic: return "auto";
    case QualifySignal::staircase: return "staircase";
    case QualifySignal::pulse: return "pulse";
    case QualifySignal::sine: return "sine";
    }
    return "";
}

}  // namespace

json qualifyJson(const QualifyReport& report)
{
    const QualifyOptions& o = report.options;
    json options{{"runs", o.runs},
                 {"seconds", number(o.seconds)},
                 {"signal", signalChoiceName(o.signal)},
                 {"maxHiddenLatency", o.maxHiddenLatency ? json(*o.maxHiddenLatency) : json(nullptr)},
                 {"maxCrosstalkDb", number(o.maxCrosstalkDb)}};
    if (o.map.given) {
        json map = json::array();
        for (int32_t output : o.map.routes) map.push_back(output);
        options["map"] = map;
    }
    if (o.signal == QualifySignal::sine) options["sineHz"] = number(o.sineHz);
    json rates = json::array();
    for (double rate : report.rates) rates.push_back(number(rate));
    json cells = json::array();
    for (const QualifyCell& cell : report.cells) cells.push_back(cellJson(cell));
    json driver{{"index", report.index},
                {"registryName", report.registryName},
                {"name", report.driverName},
                {"opened", report.opened},
                {"initialised", report.initialised},
                {"inputs", report.inputs},
                {"outputs", report.outputs},
                {"sampleType", report.sampleType},
                {"bufferSizes",
                 json{{"min", report.bufferMin},
                      {"max", report.bufferMax},
                      {"preferred", report.bufferPreferred},
                      {"granularity", report.bufferGranularity}}}};
    json out{{"format", "loopcheck-qualification"},
             {"version", qualifyReportVersion},
             {"verdict", report.verdict()},
             {"driver", driver},
             {"options", options},
             {"rates", rates},
             {"bufferSizes", report.sizes},
             {"offeredCells", report.offeredCells()},
             {"failedCells", report.failedCells()},
             {"interrupted", report.interrupted},
             {"cells", cells}};
    if (report.interrupted) out["interruptedBy"] = report.interruptedBy;
    if (!report.error.empty()) out["error"] = report.error;
    return out;
}
