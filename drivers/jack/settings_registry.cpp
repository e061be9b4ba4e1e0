// Reads a bridge driver's settings from the registry: the one part of the
// driver that touches the registry API.
#include <algorithm>
#include <vector>

#include "common/driver_key.h"
#include "jack_settings.h"

namespace {

void readValues(HKEY key, JackSettings& settings)
{
    readText(key, "Server", settings.server);
    std::string clientName;
    if (readText(key, "ClientName", clientName) && !clientName.empty())
        settings.clientName = clientName;
    readDword(key, "Outputs", settings.outputs);
    readDword(key, "Inputs", settings.inputs);
    settings.outputs = std::clamp(settings.outputs, int32_t{0}, maxJackPorts);
    settings.inputs = std::clamp(settings.inputs, int32_t{0}, maxJackPorts);
    readDword(key, "SampleType", settings.sampleType);

    std::string text;
    if (readText(key, "ConnectOutputs", text)) {
        settings.connectOutputsGiven = true;
        settings.connectOutputs = splitPortList(text);
    }
    if (readText(key, "ConnectInputs", text)) {
        settings.connectInputsGiven = true;
        settings.connectInputs = splitPortList(text);
    }
}

}  // namespace

std::vector<std::string> splitPortList(const std::string& text)
{
    std::vector<std::string> names;
    size_t from = 0;
    while (from <= text.size()) {
        size_t to = text.find(',', from);
        if (to == std::string::npos)
            to = text.size();
        size_t first = text.find_first_not_of(" \t", from);
        if (first != std::string::npos && first < to) {
            size_t last = text.find_last_not_of(" \t", to - 1);
            names.push_back(text.substr(first, last - first + 1));
        }
        from = to + 1;
    }
    return names;
}

JackSettings readJackSettings(REFCLSID clsid) { return readDriverSettings(clsid, &readValues); }
