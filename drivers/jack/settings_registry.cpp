// Reads a bridge driver's settings from the registry: the one part of the
// driver that touches the registry API.
#include <algorithm>
#include <vector>

#include "jack_settings.h"
#include "platform/win32_api.h"

namespace {

// Closes a key handle on every path.
class OpenKey {
public:
    OpenKey() = default;
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    ~OpenKey()
    {
        if (handle_ != nullptr)
            RegCloseKey(handle_);
    }

    bool open(HKEY parent, const char* path)
    {
        return RegOpenKeyExA(parent, path, 0, KEY_READ, &handle_) == ERROR_SUCCESS;
    }
    HKEY get() const { return handle_; }

private:
    HKEY handle_ = nullptr;
};

bool readText(HKEY key, const char* name, std::string& text)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
        return false;
    std::vector<char> data(static_cast<size_t>(size) + 1, '\0');
    DWORD capacity = size;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(data.data()), &capacity) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    // Stored text need not end in a terminator; the extra byte supplies one.
    text = std::string(data.data());
    return true;
}

void readDword(HKEY key, const char* name, int32_t& value)
{
    DWORD type = REG_NONE;
    DWORD data = 0;
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&data), &size) == ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof data)
        value = static_cast<int32_t>(data);
}

bool namesClass(HKEY key, REFCLSID clsid)
{
    std::string text;
    if (!readText(key, "CLSID", text))
        return false;
    WCHAR wide[64];
    if (MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide, 64) == 0)
        return false;
    CLSID named;
    return CLSIDFromString(wide, &named) == S_OK && IsEqualGUID(named, clsid);
}

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

JackSettings readJackSettings(REFCLSID clsid)
{
    JackSettings settings;
    OpenKey asio;
    if (!asio.open(HKEY_LOCAL_MACHINE, "SOFTWARE\\ASIO"))
        return settings;
    char name[256];
    for (DWORD index = 0; RegEnumKeyA(asio.get(), index, name, sizeof name) == ERROR_SUCCESS; ++index) {
        OpenKey driver;
        if (!driver.open(asio.get(), name) || !namesClass(driver.get(), clsid))
            continue;
        settings.keyName = name;
        readValues(driver.get(), settings);
        break;
    }
    return settings;
}
