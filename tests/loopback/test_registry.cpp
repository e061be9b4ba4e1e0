#include "test_registry.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

struct TestDriver {
    const char* name;
    const char* values;  // registry-file lines
};

// Latencies are set low in most streaming configurations so that a run
// needs only a few dozen buffer halves to see the loop closed.
const TestDriver testDrivers[] = {
    {"Settings", "\"Outputs\"=dword:00000003\n\"Inputs\"=dword:00000005\n\"SampleType\"=dword:00000010\n"
                 "\"BufferMin\"=dword:00000020\n\"BufferMax\"=dword:00001000\n\"BufferPreferred\"=dword:00000080\n"
                 "\"BufferGranularity\"=dword:00000020\n\"InputLatency\"=dword:0000006f\n"
                 "\"OutputLatency\"=dword:000000de\n\"SampleRates\"=\" 22050 , 32000,bogus,,-5\"\n"
                 "\"ErrorMessage\"=\"Cable unplugged\"\n"},
    {"Negative", "\"Outputs\"=dword:ffffffff\n\"BufferGranularity\"=dword:fffffffe\n\"SampleRates\"=\"nothing\"\n"},
    {"Delay 160", "\"InputLatency\"=dword:00000064\n\"OutputLatency\"=dword:0000003c\n"},
    {"Delay 128 extra", "\"InputLatency\"=dword:00000000\n\"OutputLatency\"=dword:00000000\n"
                        "\"ExtraDelay\"=dword:00000080\n"},
    {"Delay 30", "\"InputLatency\"=dword:0000000a\n\"OutputLatency\"=dword:00000014\n"},
    {"Delay negative extra", "\"InputLatency\"=dword:00000064\n\"OutputLatency\"=dword:000000c8\n"
                             "\"ExtraDelay\"=dword:ffffff9c\n"},
    {"Delay default extra", "\"ExtraDelay\"=dword:00000005\n"},
    {"Int16", "\"SampleType\"=dword:00000010\n\"InputLatency\"=dword:00000064\n\"OutputLatency\"=dword:0000003c\n"},
    {"Float32", "\"SampleType\"=dword:00000013\n\"InputLatency\"=dword:00000064\n\"OutputLatency\"=dword:0000003c\n"},
    {"Int24", "\"SampleType\"=dword:00000011\n\"InputLatency\"=dword:00000064\n\"OutputLatency\"=dword:0000003c\n"},
    {"Four inputs", "\"Inputs\"=dword:00000004\n\"InputLatency\"=dword:00000020\n\"OutputLatency\"=dword:00000020\n"},
    {"Huge delay", "\"ExtraDelay\"=dword:7fffffff\n"},
    {"Fast clock", "\"SampleRates\"=\"48000\"\n\"InputLatency\"=dword:00000000\n\"OutputLatency\"=dword:00000000\n"},
    {"No time info", "\"TimeInfo\"=dword:00000000\n"},
    {"Dropout", "\"DropEvery\"=dword:00000003\n\"InputLatency\"=dword:00000000\n\"OutputLatency\"=dword:00000000\n"},
    {"Noise int16", "\"SampleType\"=dword:00000010\n\"NoiseLsb\"=dword:00000003\n"
                    "\"InputLatency\"=dword:00000000\n\"OutputLatency\"=dword:00000000\n"},
    {"Noise int32", "\"NoiseLsb\"=dword:00000003\n\"InputLatency\"=dword:00000000\n\"OutputLatency\"=dword:00000000\n"},
    {"Noise float", "\"SampleType\"=dword:00000013\n\"NoiseLsb\"=dword:00000008\n"
                    "\"InputLatency\"=dword:00000000\n\"OutputLatency\"=dword:00000000\n"},
    {"Swap", "\"InputSources\"=\"1,0\"\n\"InputLatency\"=dword:00000000\n\"OutputLatency\"=dword:00000000\n"},
    {"Swap at 64", "\"InputSources\"=\"1,0\"\n\"RoutingAtBufferSize\"=dword:00000040\n"
                   "\"InputLatency\"=dword:00000000\n\"OutputLatency\"=dword:00000000\n"},
    {"Crosstalk int16", "\"SampleType\"=dword:00000010\n\"CrosstalkDb\"=\"-40\"\n"
                        "\"InputLatency\"=dword:00000000\n\"OutputLatency\"=dword:00000000\n"},
    {"Crosstalk float", "\"SampleType\"=dword:00000013\n\"CrosstalkDb\"=\"-20\"\n"
                        "\"InputLatency\"=dword:00000000\n\"OutputLatency\"=dword:00000000\n"},
    {"Misrouted three", "\"Outputs\"=dword:00000003\n\"Inputs\"=dword:00000003\n\"InputSources\"=\"2,0,-\"\n"
                        "\"DeadInputs\"=\"1\"\n\"CrosstalkDb\"=\" -30 \"\n"
                        "\"InputLatency\"=dword:00000000\n\"OutputLatency\"=dword:00000000\n"},
    {"Events", "\"SampleRates\"=\"48000\"\n\"InputLatency\"=dword:00000064\n\"OutputLatency\"=dword:000000c8\n"
               "\"LatencyChangeAtMs\"=dword:0000000a\n\"ChangedInputLatency\"=dword:000001f4\n"
               "\"ChangedOutputLatency\"=dword:00000258\n\"RateChangeAtMs\"=dword:00000005\n"},
    {"Fail init", "\"Fail\"=\"init\"\n\"ErrorMessage\"=\"No device\"\n"},
    {"Fail getChannels", "\"Fail\"=\"getChannels\"\n"},
    {"Fail getLatencies", "\"Fail\"=\"getLatencies\"\n"},
    {"Fail getBufferSize", "\"Fail\"=\"getBufferSize\"\n"},
    {"Fail getSampleRate", "\"Fail\"=\"getSampleRate\"\n"},
    {"Fail setSampleRate", "\"Fail\"=\"setSampleRate\"\n"},
    {"Fail getChannelInfo", "\"Fail\"=\"getChannelInfo\"\n"},
    {"Fail createBuffers", "\"Fail\"=\"createBuffers\"\n"},
    {"Fail start", "\"Fail\"=\"start\"\n"},
    {"Fail stop", "\"Fail\"=\"stop\"\n"},
    {"Fail disposeBuffers", "\"Fail\"=\"disposeBuffers\"\n"},
    {"Fail create", "\"Fail\"=\"create\"\n"},
    {"Fail list", "\"Fail\"=\" GETLATENCIES,,unknown , Stop\"\n"},
};

CLSID classOfIndex(size_t index)
{
    return CLSID{0x5E1A0000u + static_cast<uint32_t>(index), 0x1D0C, 0x4B7A, {0x9A, 0x31, 0x6C, 0x0F, 0x22, 0xE4, 0x58, 0x90}};
}

std::string libraryPath() { return LOOPBACK_LIBRARY; }

void writeRegistry(const std::string& path)
{
    std::ofstream file(path, std::ios::binary);
    file << "Windows Registry Editor Version 5.00\n\n";
    for (size_t i = 0; i < std::size(testDrivers); ++i) {
        const std::string clsid = clsidText(classOfIndex(i));
        file << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\" << testDrivers[i].name << "]\n"
             << "\"CLSID\"=\"" << clsid << "\"\n"
             << "\"Description\"=\"" << testDrivers[i].name << "\"\n"
             << testDrivers[i].values << "\n"
             << "[HKEY_CLASSES_ROOT\\CLSID\\" << clsid << "\\InprocServer32]\n"
             << "@=\"" << libraryPath() << "\"\n"
             << "\"ThreadingModel\"=\"Apartment\"\n\n";
    }
}

// Removes the file when the process ends.
class RegistryFile {
public:
    RegistryFile()
    {
        path_ = (std::filesystem::temp_directory_path() /
                 ("loopcheck_loopback_test_" + std::to_string(::getpid()) + ".reg"))
                    .string();
        writeRegistry(path_);
        ::setenv("LOOPCHECK_REGISTRY", path_.c_str(), 1);
    }
    ~RegistryFile()
    {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }

private:
    std::string path_;
};

}  // namespace

std::string clsidText(REFCLSID clsid)
{
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", clsid.Data1, clsid.Data2,
                  clsid.Data3, clsid.Data4[0], clsid.Data4[1], clsid.Data4[2], clsid.Data4[3], clsid.Data4[4],
                  clsid.Data4[5], clsid.Data4[6], clsid.Data4[7]);
    return text;
}

void ensureTestRegistry() { static RegistryFile file; }

CLSID testDriverClass(const std::string& name)
{
    for (size_t i = 0; i < std::size(testDrivers); ++i) {
        if (name == testDrivers[i].name)
            return classOfIndex(i);
    }
    ADD_FAILURE() << "no test driver named " << name;
    return CLSID{};
}

CLSID unconfiguredClass()
{
    return CLSID{0x0BADF00D, 0x0000, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};
}
