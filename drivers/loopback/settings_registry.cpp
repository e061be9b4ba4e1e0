// Reads a virtual driver's settings from the registry: the one part of the
// driver that touches the registry API.
#include <vector>

#include "loopback_settings.h"
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
    readDword(key, "DropEvery", settings.dropEvery);
    readDword(key, "NoiseLsb", settings.noiseLsb);
}

}  // namespace

LoopbackSettings readLoopbackSettings(REFCLSID clsid)
{
    LoopbackSettings settings;
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
