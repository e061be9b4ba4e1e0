#include <nlohmann/json.hpp>

#include "stream/accounts_json.h"
#include "probe/probe_output.h"

namespace {

using nlohmann::json;

json failedCall(const ProbeReport& report, const char* name)
{
    for (const ProbeCall& call : report.calls) {
        if (call.call == name)
            return json{{"failed", name}, {"result", call.result}, {"errorMessage", call.errorMessage}};
    }
    return nullptr;
}

json describe(const ProbeReport& report)
{
    json document;
    document["driver"] = {{"name", report.driverName}, {"version", report.driverVersion}};

    json channels = json::array();
    for (const ProbeChannel& c : report.channels) {
        json channel = {{"input", c.isInput}, {"channel", c.channel}, {"result", c.result}};
        if (c.result == ASE_OK) {
            channel["name"] = c.name;
            channel["type"] = c.type;
            channel["typeName"] = sampleTypeName(c.type);
            channel["group"] = c.group;
            channel["active"] = c.isActive;
        } else {
            channel["errorMessage"] = c.errorMessage;
        }
        channels.push_back(std::move(channel));
    }
    if (report.channelsKnown)
        document["channels"] = {{"inputs", report.inputs}, {"outputs", report.outputs}, {"list", channels}};
    else
        document["channels"] = failedCall(report, "getChannels");

    if (report.bufferSizesKnown)
        document["bufferSizes"] = {{"min", report.bufferMin},
                                   {"max", report.bufferMax},
                                   {"preferred", report.bufferPreferred},
                                   {"granularity", report.bufferGranularity}};
    else
        document["bufferSizes"] = failedCall(report, "getBufferSize");

    json accepted = json::array();
    json checked = json::array();
    for (const ProbeRate& r : report.rates) {
        if (r.result == ASE_OK)
            accepted.push_back(r.rate);
        checked.push_back({{"rate", r.rate}, {"result", r.result}});
    }
    document["sampleRate"] = {{"current", report.rateKnown ? json(report.currentRate) : json(nullptr)},
                              {"accepted", accepted},
                              {"checked", checked}};
    if (!report.rateKnown)
        document["sampleRate"]["currentFailed"] = failedCall(report, "getSampleRate");

    if (report.latenciesKnown) {
        document["latencies"] = {{"input", report.inputLatency},
                                 {"output", report.outputLatency},
                                 {"bufferSize", report.latencyBufferSize}};
        if (const char* note = latencyNote(report))
            document["latencies"]["note"] = note;
    } else {
        document["latencies"] = failedCall(report, "getLatencies");
    }

    if (report.clockSourcesKnown) {
        json sources = json::array();
        for (const ProbeClockSource& s : report.clockSources)
            sources.push_back({{"index", s.index},
                               {"name", s.name},
                               {"associatedChannel", s.associatedChannel},
                               {"associatedGroup", s.associatedGroup},
                               {"current", s.isCurrent}});
        document["clockSources"] = sources;
    } else {
        document["clockSources"] = failedCall(report, "getClockSources");
    }
    document["outputReady"] = {{"supported", report.outputReadyResult == ASE_OK},
                               {"result", report.outputReadyResult}};
    document["future"] = {{"selector", report.futureSelector}, {"result", report.futureResult}};

    json messages = json::array();
    for (const ProbeMessage& m : report.messages)
        messages.push_back({{"phase", m.phase},
                            {"selector", m.selector},
                            {"selectorName", messageSelectorName(m.selector)},
                            {"value", m.value},
                            {"answer", m.answer}});
    document["hostMessages"] = messages;

    const ProbeStream& s = report.stream;
    json stream = {{"ran", s.ran},
                   {"bufferSize", s.bufferSize},
                   {"nominalRate", s.nominalRate > 0.0 ? json(s.nominalRate) : json(nullptr)},
                   {"seconds", s.seconds}};
    if (!s.ran) {
        stream["notRunBecause"] = s.notRunBecause;
    } else {
        const bool timed = s.measuredRate > 0.0;
        stream["interrupted"] = s.interrupted;
        stream["callbacks"] = s.callbacks;
        stream["timeInfoCallbacks"] = s.timeInfoCallbacks;
        stream["plainCallbacks"] = s.plainCallbacks;
        stream["usedTimeInfo"] = s.timeInfoCallbacks > 0;
        stream["measuredRate"] = timed ? json(s.measuredRate) : json(nullptr);
        stream["ppm"] = timed && s.nominalRate > 0.0 ? json(s.ppm) : json(nullptr);
        stream["periodMs"] = s.periodMs;
        stream["meanIntervalMs"] = timed ? json(s.meanIntervalMs) : json(nullptr);
        stream["minIntervalMs"] = timed ? json(s.minIntervalMs) : json(nullptr);
        stream["maxIntervalMs"] = timed ? json(s.maxIntervalMs) : json(nullptr);
        stream["lateCallbacks"] = s.lateCallbacks;
        if (s.positionKnown)
            stream["samplePosition"] = {{"first", s.firstPosition},
                                        {"last", s.lastPosition},
                                        {"framesCounted", s.framesCounted},
                                        {"difference", s.positionDifference}};
        else
            stream["samplePosition"] = nullptr;
        stream["rateChanges"] = s.rateChanges;
        stream["accounts"] = accountsJson(s.accounts, s.accountWarnings);
    }
    document["stream"] = stream;
    return document;
}

}  // namespace

void writeProbeJson(const ProbeReport& report, std::ostream& out)
{
    json document = {{"index", report.index}, {"registryName", report.registryName}};
    document["keyName"] = report.keyName;
    document["clsid"] = report.clsidText;
    document["server"] = report.serverPath;
    document["opened"] = report.opened;
    if (!report.opened)
        document["openError"] = report.openError;
    document["initialised"] = report.initialised;
    if (report.opened && !report.initialised)
        document["initError"] = report.initError;
    if (report.initialised)
        document.update(describe(report));

    json calls = json::array();
    for (const ProbeCall& c : report.calls) {
        json call = {{"call", c.call}, {"result", c.result}, {"ok", c.ok}, {"ms", c.milliseconds}};
        if (!c.errorMessage.empty())
            call["errorMessage"] = c.errorMessage;
        calls.push_back(std::move(call));
    }
    document["calls"] = calls;
    // Driver texts are 8-bit in the system's code page: bytes that are not
    // UTF-8 are replaced rather than ending the output with an exception.
    out << document.dump(2, ' ', false, json::error_handler_t::replace) << '\n';
}
