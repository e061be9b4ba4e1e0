// Reads a virtual driver's settings from the registry: the one part of the
// driver that touches the registry API.
#include "common/driver_key.h"
#include "loopback_settings.h"

namespace {

void readValues(HKEY key, LoopbackSettings& settings)
{
    readDword(key, "Outputs", settings.outputs);
    readDword(key, "Inputs", settings.inputs);
    readDword(key, "SampleType", settings.sampleType);
    readDword(key, "BufferMin", settings.bufferMin);
    readDword(key, "BufferMax", settings.bufferMax);
    readDword(key, "BufferPreferred", settings.bufferPreferred);
    readDword(key, "BufferGranularity", settings.bufferGranularity);
    readDword(key, "InputLatency", settings.inputLatency);
    readDword(key, "OutputLatency", settings.outputLatency);
    readDword(key, "ExtraDelay", settings.extraDelay);
    readDword(key, "ExtraDelayPerMille", settings.extraDelayPerMille);

    std::string text;
    if (readText(key, "SampleRates", text))
        parseSampleRates(text, settings.sampleRates);
    if (readText(key, "Fail", text))
        settings.failures = parseFailures(text);
    readText(key, "ErrorMessage", settings.errorMessage);

    int32_t timeInfo = settings.timeInfo ? 1 : 0;
    readDword(key, "TimeInfo", timeInfo);
    settings.timeInfo = timeInfo != 0;

    // A latency change that names no new figure keeps the old one.
    settings.changedInputLatency = settings.inputLatency;
    settings.changedOutputLatency = settings.outputLatency;
    readDword(key, "LatencyChangeAtMs", settings.latencyChangeAtMs);
    readDword(key, "ChangedInputLatency", settings.changedInputLatency);
    readDword(key, "ChangedOutputLatency", settings.changedOutputLatency);
    readDword(key, "RateChangeAtMs", settings.rateChangeAtMs);
    readDword(key, "ResetAtMs", settings.resetAtMs);
    readDword(key, "BufferSizeChangeAtMs", settings.bufferSizeChangeAtMs);
    readDword(key, "ChangedBufferSize", settings.changedBufferSize);
    readDword(key, "StallAtMs", settings.stallAtMs);
    readDword(key, "StallMs", settings.stallMs);
    readDword(key, "ClockPpm", settings.clockPpm);
    readDword(key, "DropEvery", settings.dropEvery);
    readDword(key, "NoiseLsb", settings.noiseLsb);

    if (readText(key, "InputSources", text))
        settings.inputSources = parseChannelList(text);
    if (readText(key, "DeadInputs", text))
        settings.deadInputs = parseChannelList(text);
    if (readText(key, "CrosstalkDb", text))
        settings.crosstalkDb = parseCrosstalkDb(text);
    readDword(key, "RoutingAtBufferSize", settings.routingAtBufferSize);

    for (const char* name : analogValueNames) {
        if (readText(key, name, text))
            parseAnalogValue(name, text, settings.analog);
    }
}

}  // namespace

LoopbackSettings readLoopbackSettings(REFCLSID clsid) { return readDriverSettings(clsid, &readValues); }
