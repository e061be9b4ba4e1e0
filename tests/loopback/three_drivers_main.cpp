// One registry file announcing three virtual drivers: the registry lists
// exactly those three, and each, created the way a host creates it, behaves
// as its key says. The file is the only registry this process reads.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "loopback_host.h"
#include "platform/win32_api.h"

namespace {

struct Expected {
    const char* name;
    ASIOLong inputs, outputs;
    ASIOSampleType type;
    double rate;
    int32_t bufferSize;
    int32_t width;
    int32_t delay;  // samples; 0 when start is to fail
    bool timeInfo;
};

const Expected expectedDrivers[] = {
    {"Loopback 8x8 Float", 8, 8, ASIOSTFloat32LSB, 96000.0, 256, 4, 288 + 320 + 100, false},
    {"Loopback Faulty", 4, 2, ASIOSTInt32LSB, 44100.0, 256, 4, 0, true},
    {"Loopback Stereo 16-bit", 2, 2, ASIOSTInt16LSB, 48000.0, 128, 2, 128, true},
};

void PrintTo(const Expected& e, std::ostream* out) { *out << e.name; }

std::vector<std::string> announcedDrivers()
{
    std::vector<std::string> names;
    HKEY asio = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ASIO", 0, KEY_READ, &asio) != ERROR_SUCCESS)
        return names;
    char name[256];
    for (DWORD i = 0; RegEnumKeyA(asio, i, name, sizeof name) == ERROR_SUCCESS; ++i)
        names.push_back(name);
    RegCloseKey(asio);
    return names;
}

bool classOf(const std::string& name, CLSID& clsid)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ("SOFTWARE\\ASIO\\" + name).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    char text[64] = {};
    DWORD size = sizeof text - 1;
    DWORD type = REG_NONE;
    const bool read = RegQueryValueExA(key, "CLSID", nullptr, &type, reinterpret_cast<LPBYTE>(text), &size) ==
                      ERROR_SUCCESS;
    RegCloseKey(key);
    WCHAR wide[64];
    return read && MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 64) > 0 && CLSIDFromString(wide, &clsid) == S_OK;
}

TEST(ThreeDriverRegistry, ListsExactlyTheThreeDrivers)
{
    std::vector<std::string> expected;
    for (const Expected& e : expectedDrivers)
        expected.push_back(e.name);
    EXPECT_EQ(announcedDrivers(), expected);
}

class ThreeDrivers : public LoopbackTest, public ::testing::WithParamInterface<Expected> {
protected:
    void SetUp() override
    {
        LoopbackTest::SetUp();
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    }
    void TearDown() override
    {
        CoUninitialize();
        LoopbackTest::TearDown();
    }
};

TEST_P(ThreeDrivers, BehavesAsItsKeySays)
{
    const Expected& e = GetParam();
    CLSID clsid{};
    ASSERT_TRUE(classOf(e.name, clsid));
    void* object = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, &object), S_OK);
    DriverRef driver(static_cast<IASIO*>(object));
    ASSERT_EQ(driver->init(nullptr), ASIOTrue);

    char name[32] = {};
    driver->getDriverName(name);
    EXPECT_STREQ(name, e.name);
    ASIOLong inputs = 0, outputs = 0;
    ASSERT_EQ(driver->getChannels(&inputs, &outputs), ASE_OK);
    EXPECT_EQ(inputs, e.inputs);
    EXPECT_EQ(outputs, e.outputs);
    ASIOChannelInfo info{};
    ASSERT_EQ(driver->getChannelInfo(&info), ASE_OK);
    EXPECT_EQ(info.type, e.type);
    ASIOSampleRate rate = 0;
    ASSERT_EQ(driver->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, e.rate);
    ASIOLong minSize, maxSize, preferred, granularity;
    ASSERT_EQ(driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity), ASE_OK);
    EXPECT_EQ(preferred, e.bufferSize);

    ASSERT_EQ(createHostBuffers(driver.get(), ChannelRequest{{0}, {0}}, preferred, e.width), ASE_OK);
    if (e.delay == 0) {
        EXPECT_EQ(driver->start(), ASE_HWMalfunction);
        char text[124] = {};
        driver->getErrorMessage(text);
        EXPECT_STREQ(text, "Clock not locked");
        return;
    }
    ASSERT_TRUE(streamHalves(driver.get(), e.delay / e.bufferSize + 3));
    const std::vector<uint8_t>& sent = host->streams[0];
    const std::vector<uint8_t>& received = host->streams[1];
    const size_t delayBytes = static_cast<size_t>(e.delay) * static_cast<size_t>(e.width);
    ASSERT_GT(received.size(), delayBytes);
    EXPECT_TRUE(std::all_of(received.begin(), received.begin() + delayBytes, [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::equal(received.begin() + delayBytes, received.end(), sent.begin()));
    for (bool viaTimeInfo : host->viaTimeInfo)
        ASSERT_EQ(viaTimeInfo, e.timeInfo);
}

INSTANTIATE_TEST_SUITE_P(FromOneFile, ThreeDrivers, ::testing::ValuesIn(expectedDrivers),
                         [](const ::testing::TestParamInfo<Expected>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c != '\0'; ++c) {
                                 if (std::isalnum(static_cast<unsigned char>(*c)))
                                     name += *c;
                             }
                             return name;
                         });

}  // namespace

int main(int argc, char** argv)
{
    // Before anything reads the registry: the test's own lookups and the
    // driver's settings both come from this file.
    ::setenv("LOOPCHECK_REGISTRY", THREE_DRIVERS_REGISTRY, 1);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
