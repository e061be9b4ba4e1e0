#include <cstdio>
#include <string>

#include "probe/probe_output.h"
#include "report/text_table.h"

namespace {

std::string decimal(double value, int places)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", places, value);
    return text;
}

std::string signedDecimal(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%+.0f", value);
    return text;
}

// Rates and other figures that are usually whole: no trailing zeros.
std::string figure(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

std::string code(int32_t result) { return std::to_string(result) + " " + errorCodeName(result); }

const ProbeCall* findCall(const ProbeReport& report, const std::string& name)
{
    for (const ProbeCall& call : report.calls) {
        if (call.call == name)
            return &call;
    }
    return nullptr;
}

// "failed (code name: message)" for a query whose section has nothing else
// to show.
std::string failure(const ProbeReport& report, const char* name)
{
    const ProbeCall* call = findCall(report, name);
    if (call == nullptr)
        return "not asked";
    std::string text = "failed (" + code(call->result);
    if (!call->errorMessage.empty())
        text += ": " + call->errorMessage;
    return text + ")";
}

void writeRegistryEntry(const ProbeReport& report, std::ostream& out)
{
    out << "Driver " << report.index;
    if (!report.registryName.empty())
        out << ": " << report.registryName;
    out << '\n';
    TextTable entry;
    if (!report.keyName.empty())
        entry.row({"key", report.keyName});
    if (!report.clsidText.empty())
        entry.row({"class", report.clsidText});
    if (!report.serverPath.empty())
        entry.row({"server", report.serverPath});
    entry.write(out);
}

void writeDescription(const ProbeReport& report, std::ostream& out)
{
    TextTable identity;
    identity.row({"name", report.driverName});
    identity.row({"version", std::to_string(report.driverVersion)});
    if (report.channelsKnown) {
        identity.row({"inputs", std::to_string(report.inputs)});
        identity.row({"outputs", std::to_string(report.outputs)});
    } else {
        identity.row({"channels", failure(report, "getChannels")});
    }
    out << "\nDriver\n";
    identity.write(out);

    if (!report.channels.empty()) {
        out << "\nChannels\n";
        TextTable channels;
        channels.row({"direction", "channel", "name", "type", "group", "active"});
        for (const ProbeChannel& c : report.channels) {
            const std::string direction = c.isInput ? "input" : "output";
            if (c.result != ASE_OK) {
                channels.row({direction, std::to_string(c.channel),
                              "getChannelInfo failed (" + code(c.result) + ": " + c.errorMessage + ")"});
                continue;
            }
            channels.row({direction, std::to_string(c.channel), c.name,
                          std::to_string(c.type) + " " + sampleTypeName(c.type), std::to_string(c.group),
                          c.isActive ? "yes" : "no"});
        }
        channels.write(out);
    }

    out << "\nBuffer sizes\n";
    TextTable sizes;
    if (report.bufferSizesKnown) {
        sizes.row({"min", std::to_string(report.bufferMin)});
        sizes.row({"max", std::to_string(report.bufferMax)});
        sizes.row({"preferred", std::to_string(report.bufferPreferred)});
        sizes.row({"granularity", std::to_string(report.bufferGranularity)});
    } else {
        sizes.row({failure(report, "getBufferSize")});
    }
    sizes.write(out);

    out << "\nSample rate\n";
    TextTable rates;
    rates.row({"current", report.rateKnown ? figure(report.currentRate) : failure(report, "getSampleRate")});
    std::string accepted;
    for (const ProbeRate& r : report.rates) {
        if (r.result == ASE_OK)
            accepted += (accepted.empty() ? "" : " ") + figure(r.rate);
    }
    rates.row({"accepted", accepted.empty() ? "none" : accepted});
    rates.write(out);
    TextTable checked("    ");
    checked.row({"rate", "canSampleRate"});
    for (const ProbeRate& r : report.rates)
        checked.row({figure(r.rate), code(r.result)});
    checked.write(out);

    out << "\nLatencies\n";
    TextTable latencies;
    if (report.latenciesKnown) {
        latencies.row({"input", std::to_string(report.inputLatency)});
        latencies.row({"output", std::to_string(report.outputLatency)});
        latencies.row({"buffer size", report.latencyBufferSize > 0 ? std::to_string(report.latencyBufferSize)
                                                                    : std::string("none (no buffers)")});
    } else {
        latencies.row({failure(report, "getLatencies")});
    }
    latencies.write(out);
    if (const char* note = latencyNote(report))
        out << "  note: " << note << "\n";

    out << "\nClock sources\n";
    TextTable clocks;
    if (report.clockSourcesKnown) {
        clocks.row({"index", "name", "channel", "group", "current"});
        for (const ProbeClockSource& s : report.clockSources)
            clocks.row({std::to_string(s.index), s.name, std::to_string(s.associatedChannel),
                        std::to_string(s.associatedGroup), s.isCurrent ? "yes" : "no"});
    } else {
        clocks.row({failure(report, "getClockSources")});
    }
    clocks.write(out);

    out << "\nOther calls\n";
    TextTable other;
    other.row({"outputReady", report.outputReadyResult == ASE_OK ? "supported" : "not supported",
               code(report.outputReadyResult)});
    other.row({"future", "selector " + std::to_string(report.futureSelector), code(report.futureResult)});
    other.write(out);
}

void writeMessages(const ProbeReport& report, std::ostream& out)
{
    out << "\nHost messages\n";
    TextTable messages;
    if (report.messages.empty()) {
        messages.row({"none"});
    } else {
        messages.row({"during", "selector", "value", "answer"});
        for (const ProbeMessage& m : report.messages) {
            std::string value = std::to_string(m.value);
            if (m.selector == kAsioSelectorSupported)
                value += std::string(" ") + messageSelectorName(m.value);
            messages.row({m.phase, std::to_string(m.selector) + " " + messageSelectorName(m.selector), value,
                          std::to_string(m.answer)});
        }
    }
    messages.write(out);
}

void writeStream(const ProbeStream& s, std::ostream& out)
{
    out << "\nStream\n";
    TextTable stream;
    stream.row({"buffer size", std::to_string(s.bufferSize)});
    stream.row({"nominal rate", s.nominalRate > 0.0 ? figure(s.nominalRate) : std::string("unknown")});
    stream.row({"seconds", figure(s.seconds)});
    if (!s.ran) {
        stream.row({"not run", s.notRunBecause});
        stream.write(out);
        return;
    }
    if (s.interrupted)
        stream.row({"interrupted", "yes: the figures cover the time it streamed"});
    stream.row({"callbacks", std::to_string(s.callbacks)});
    stream.row({"time info", std::string(s.timeInfoCallbacks > 0 ? "yes" : "no") + " (" +
                                 std::to_string(s.timeInfoCallbacks) + " bufferSwitchTimeInfo, " +
                                 std::to_string(s.plainCallbacks) + " bufferSwitch)"});
    if (s.measuredRate > 0.0) {
        std::string rate = decimal(s.measuredRate, 1) + " Hz";
        if (s.nominalRate > 0.0)
            rate += " (" + signedDecimal(s.ppm) + " ppm)";
        stream.row({"measured rate", rate});
        stream.row({"period", decimal(s.periodMs, 3) + " ms"});
        stream.row({"interval", "mean " + decimal(s.meanIntervalMs, 3) + " ms, min " + decimal(s.minIntervalMs, 3) +
                                    " ms, max " + decimal(s.maxIntervalMs, 3) + " ms"});
        stream.row({"late callbacks", std::to_string(s.lateCallbacks)});
    } else {
        stream.row({"measured rate", "unknown (fewer than two callbacks)"});
    }
    if (s.positionKnown) {
        stream.row({"sample position",
                    "first " + std::to_string(s.firstPosition) + ", last " + std::to_string(s.lastPosition)});
        stream.row({"frames counted",
                    std::to_string(s.framesCounted) + " (difference " + std::to_string(s.positionDifference) + ")"});
    } else {
        stream.row({"sample position", "not reported"});
    }
    stream.row({"rate changes", std::to_string(s.rateChanges)});
    const RunAccounts::Summary& a = s.accounts;
    stream.row({"frames", std::to_string(a.framesDelivered) + " delivered of " + std::to_string(a.framesExpected) +
                              " expected"});
    stream.row({"longest gap", decimal(a.longestGapSeconds * 1000.0, 3) + " ms"});
    stream.row({"position jumps", std::to_string(a.positionJumps)});
    std::string requests;
    for (const RequestTally& t : a.tallies)
        requests += (requests.empty() ? "" : ", ") + std::string(requestName(t.kind)) +
                    (t.count == 1 ? " at " : " x" + std::to_string(t.count) + " from ") + decimal(t.firstAtSeconds, 3) +
                    " s";
    stream.row({"driver requests", requests.empty() ? std::string("none") : requests});
    stream.row({"accounts", s.accountWarnings.empty() ? std::string("in order")
                                                     : std::to_string(s.accountWarnings.size()) +
                                                           " warning(s) on standard error"});
    stream.write(out);
}

void writeCalls(const ProbeReport& report, std::ostream& out)
{
    out << "\nCalls\n";
    TextTable calls;
    calls.row({"call", "result", "ms", "error message"});
    for (const ProbeCall& c : report.calls) {
        const std::string result =
            c.call == "init" ? std::to_string(c.result) + (c.ok ? " true" : " false") : code(c.result);
        calls.row({c.call, result, decimal(c.milliseconds, 3), c.errorMessage});
    }
    calls.write(out);
}

}  // namespace

void writeProbeTable(const ProbeReport& report, std::ostream& out)
{
    writeRegistryEntry(report, out);
    if (!report.opened) {
        out << "  not opened: " << report.openError << '\n';
        return;
    }
    if (report.initialised) {
        writeDescription(report, out);
        writeMessages(report, out);
        writeStream(report.stream, out);
    } else {
        out << "  init failed: " << report.initError << '\n';
    }
    writeCalls(report, out);
}
