// The driver's answers as configured, its refusals as a device's, and
// every operation that can be told to fail.
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "loopback_host.h"
#include "platform/bundled_driver.h"
#include "test_registry.h"

namespace {

std::string nameOf(IASIO* driver)
{
    char name[32];
    std::memset(name, 'x', sizeof name);
    driver->getDriverName(name);
    return std::string(name, strnlen(name, sizeof name));
}

std::string errorOf(IASIO* driver)
{
    char text[124];
    std::memset(text, 'x', sizeof text);
    driver->getErrorMessage(text);
    return std::string(text, strnlen(text, sizeof text));
}

TEST_F(LoopbackTest, AnswersAsConfigured)
{
    DriverRef driver = openDriver(testDriverClass("Settings"));
    ASSERT_TRUE(driver);
    EXPECT_EQ(nameOf(driver.get()), "Settings");
    EXPECT_EQ(errorOf(driver.get()), "Cable unplugged");

    ASIOLong inputs = 0, outputs = 0;
    ASSERT_EQ(driver->getChannels(&inputs, &outputs), ASE_OK);
    EXPECT_EQ(inputs, 5);
    EXPECT_EQ(outputs, 3);
    ASIOLong minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
    ASSERT_EQ(driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity), ASE_OK);
    EXPECT_EQ(minSize, 32);
    EXPECT_EQ(maxSize, 4096);
    EXPECT_EQ(preferred, 128);
    EXPECT_EQ(granularity, 32);
    ASIOLong inputLatency = 0, outputLatency = 0;
    ASSERT_EQ(driver->getLatencies(&inputLatency, &outputLatency), ASE_OK);
    EXPECT_EQ(inputLatency, 111);
    EXPECT_EQ(outputLatency, 222);

    // Entries that are no rate are passed over; the first rate is current.
    ASIOSampleRate rate = 0;
    ASSERT_EQ(driver->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, 22050.0);
    EXPECT_EQ(driver->canSampleRate(32000.0), ASE_OK);
    EXPECT_EQ(driver->canSampleRate(44100.0), ASE_NoClock);
    EXPECT_EQ(driver->setSampleRate(44100.0), ASE_NoClock);
    EXPECT_EQ(driver->setSampleRate(32000.0), ASE_OK);
    ASSERT_EQ(driver->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, 32000.0);

    ASIOChannelInfo info{};
    info.channel = 4;
    info.isInput = ASIOTrue;
    ASSERT_EQ(driver->getChannelInfo(&info), ASE_OK);
    EXPECT_EQ(info.type, ASIOSTInt16LSB);
    EXPECT_EQ(info.isActive, ASIOFalse);
    EXPECT_STREQ(info.name, "Loopback In 5");
    info.channel = 5;
    EXPECT_EQ(driver->getChannelInfo(&info), ASE_InvalidParameter);
    info = ASIOChannelInfo{};
    info.channel = 2;
    ASSERT_EQ(driver->getChannelInfo(&info), ASE_OK);
    EXPECT_STREQ(info.name, "Loopback Out 3");
}

TEST_F(LoopbackTest, UnconfiguredClassRunsOnDefaults)
{
    DriverRef driver = openDriver(unconfiguredClass());
    ASSERT_TRUE(driver);
    EXPECT_EQ(nameOf(driver.get()), LOOPCHECK_BUNDLED_DRIVER_NAME);
    EXPECT_EQ(errorOf(driver.get()), "Virtual device failure");
    ASIOLong inputs = 0, outputs = 0, minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
    ASIOLong inputLatency = 0, outputLatency = 0;
    ASSERT_EQ(driver->getChannels(&inputs, &outputs), ASE_OK);
    ASSERT_EQ(driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity), ASE_OK);
    ASSERT_EQ(driver->getLatencies(&inputLatency, &outputLatency), ASE_OK);
    EXPECT_EQ((std::vector<ASIOLong>{inputs, outputs, minSize, maxSize, preferred, granularity, inputLatency,
                                     outputLatency}),
              (std::vector<ASIOLong>{2, 2, 64, 2048, 256, -1, 288, 320}));
    ASIOSampleRate rate = 0;
    ASSERT_EQ(driver->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, 44100.0);
    for (double supported : {48000.0, 96000.0, 192000.0})
        EXPECT_EQ(driver->canSampleRate(supported), ASE_OK) << supported;
    ASIOChannelInfo info{};
    ASSERT_EQ(driver->getChannelInfo(&info), ASE_OK);
    EXPECT_EQ(info.type, ASIOSTInt32LSB);
}

TEST_F(LoopbackTest, DwordsAreSignedAndBadRatesKeepTheDefaults)
{
    DriverRef driver = openDriver(testDriverClass("Negative"));
    ASSERT_TRUE(driver);
    ASIOLong inputs = 0, outputs = 0, minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
    ASSERT_EQ(driver->getChannels(&inputs, &outputs), ASE_OK);
    EXPECT_EQ(outputs, -1);
    ASSERT_EQ(driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity), ASE_OK);
    EXPECT_EQ(granularity, -2);
    ASIOSampleRate rate = 0;
    ASSERT_EQ(driver->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, 44100.0);
    // No output channel exists to create a buffer on.
    EXPECT_EQ(createHostBuffers(driver.get(), ChannelRequest{{0}, {0}}, 64, 4), ASE_InvalidParameter);
}

TEST_F(LoopbackTest, RefusesWhatADeviceRefuses)
{
    DriverRef driver = makeDriver(unconfiguredClass());
    ASSERT_TRUE(driver);
    ASIOLong inputs = 0, outputs = 0;
    EXPECT_EQ(driver->getChannels(&inputs, &outputs), ASE_NotPresent) << "before init";
    ASSERT_EQ(driver->init(nullptr), ASIOTrue);

    EXPECT_EQ(driver->start(), ASE_InvalidMode) << "no buffers";
    EXPECT_EQ(driver->disposeBuffers(), ASE_InvalidMode) << "no buffers";
    EXPECT_EQ(createHostBuffers(driver.get(), ChannelRequest{{2}, {}}, 64, 4), ASE_InvalidParameter);
    EXPECT_EQ(createHostBuffers(driver.get(), ChannelRequest{{}, {-1}}, 64, 4), ASE_InvalidParameter);
    EXPECT_EQ(createHostBuffers(driver.get(), ChannelRequest{{0, 0}, {}}, 64, 4), ASE_InvalidParameter);
    EXPECT_EQ(createHostBuffers(driver.get(), ChannelRequest{{}, {}}, 64, 4), ASE_InvalidParameter);
    EXPECT_EQ(createHostBuffers(driver.get(), ChannelRequest{{0}, {0}}, 0, 4), ASE_InvalidMode);
    EXPECT_EQ(driver->createBuffers(nullptr, 1, 64, nullptr), ASE_InvalidParameter);
    EXPECT_EQ(createHostBuffers(driver.get(), ChannelRequest{{0}, {0}}, INT32_MAX, 4), ASE_NoMemory);

    ASSERT_EQ(createHostBuffers(driver.get(), ChannelRequest{{0}, {1}}, 64, 4), ASE_OK);
    ASIOChannelInfo info{};
    info.channel = 1;
    info.isInput = ASIOTrue;
    ASSERT_EQ(driver->getChannelInfo(&info), ASE_OK);
    EXPECT_EQ(info.isActive, ASIOTrue);
    info.channel = 0;
    ASSERT_EQ(driver->getChannelInfo(&info), ASE_OK);
    EXPECT_EQ(info.isActive, ASIOFalse);

    EXPECT_EQ(createHostBuffers(driver.get(), ChannelRequest{{0}, {0}}, 64, 4), ASE_InvalidMode) << "twice";
    ASIOSamples position{};
    ASIOTimeStamp stamp{};
    EXPECT_EQ(driver->getSamplePosition(&position, &stamp), ASE_SPNotAdvancing);
    ASSERT_EQ(driver->start(), ASE_OK);
    EXPECT_EQ(driver->setSampleRate(48000.0), ASE_InvalidMode) << "while streaming";
    EXPECT_EQ(driver->setSampleRate(44100.0), ASE_OK) << "the same rate";
    ASSERT_EQ(driver->stop(), ASE_OK);
    EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
    EXPECT_EQ(driver->stop(), ASE_OK) << "stopping a stopped driver";

    ASIOClockSource clocks[2]{};
    ASIOLong count = 2;
    ASSERT_EQ(driver->getClockSources(clocks, &count), ASE_OK);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(clocks[0].isCurrentSource, ASIOTrue);
    EXPECT_EQ(driver->setClockSource(0), ASE_OK);
    EXPECT_EQ(driver->setClockSource(1), ASE_InvalidParameter);
    EXPECT_EQ(driver->outputReady(), ASE_NotPresent);
    EXPECT_EQ(driver->future(1, nullptr), ASE_InvalidParameter);
}

TEST_F(LoopbackTest, RoundTripBeyondAnyMemoryIsRefusedWithNothingKept)
{
    DriverRef driver = openDriver(testDriverClass("Huge delay"));
    ASSERT_TRUE(driver);
    EXPECT_EQ(createHostBuffers(driver.get(), ChannelRequest{{0}, {0}}, 64, 4), ASE_NoMemory);
    EXPECT_EQ(host->infos[0].buffers[0], nullptr);
    EXPECT_EQ(driver->start(), ASE_InvalidMode);
    // Without a loop there is no delay line, and the buffers fit.
    EXPECT_EQ(createHostBuffers(driver.get(), ChannelRequest{{0}, {1}}, 64, 4), ASE_OK);
}

TEST_F(LoopbackTest, ControlPanelSucceedsSilently)
{
    DriverRef driver = openDriver(unconfiguredClass());
    ASSERT_TRUE(driver);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(driver->controlPanel(), ASE_OK);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

// --- Fail entries ---

// The host's usual sequence, one step per operation that can fail.
struct Step {
    const char* name;
    std::function<ASIOError(IASIO*)> run;
};

const ChannelRequest oneLoop{{0}, {0}};

std::vector<Step> hostSequence()
{
    return {
        {"getChannels", [](IASIO* d) { ASIOLong i, o; return d->getChannels(&i, &o); }},
        {"getLatencies", [](IASIO* d) { ASIOLong i, o; return d->getLatencies(&i, &o); }},
        {"getBufferSize", [](IASIO* d) { ASIOLong a, b, c, g; return d->getBufferSize(&a, &b, &c, &g); }},
        {"getSampleRate", [](IASIO* d) { ASIOSampleRate r; return d->getSampleRate(&r); }},
        {"setSampleRate", [](IASIO* d) { return d->setSampleRate(48000.0); }},
        {"getChannelInfo", [](IASIO* d) { ASIOChannelInfo info{}; return d->getChannelInfo(&info); }},
        {"createBuffers", [](IASIO* d) { return createHostBuffers(d, oneLoop, 64, 4); }},
        {"start", [](IASIO* d) { return d->start(); }},
        {"stop",
         [](IASIO* d) {
             waitForSwitches(2);
             return d->stop();
         }},
        {"disposeBuffers", [](IASIO* d) { return d->disposeBuffers(); }},
    };
}

class FailEntry : public LoopbackTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(FailEntry, OnlyTheNamedOperationFails)
{
    const std::string failing = GetParam();
    DriverRef driver = openDriver(testDriverClass("Fail " + failing));
    ASSERT_TRUE(driver);
    bool buffers = false, running = false;
    for (const Step& step : hostSequence()) {
        const std::string name = step.name;
        ASIOError expected = name == failing ? ASE_HWMalfunction : ASE_OK;
        // What follows from a refused step is what a device says then.
        if (!buffers && (name == "start" || name == "disposeBuffers") && name != failing)
            expected = ASE_InvalidMode;
        if (name == "stop" && !running) {
            EXPECT_EQ(driver->stop(), ASE_OK);
            continue;
        }
        EXPECT_EQ(step.run(driver.get()), expected) << name;
        buffers = buffers || (name == "createBuffers" && expected == ASE_OK);
        running = running || (name == "start" && expected == ASE_OK);
        if (name == "stop") {
            // Stopped even when it says it failed: no callback after it.
            const int after = host->switches.load();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            EXPECT_EQ(host->switches.load(), after);
        }
    }
    EXPECT_EQ(errorOf(driver.get()), "Virtual device failure");
}

INSTANTIATE_TEST_SUITE_P(Operations, FailEntry,
                         ::testing::Values("getChannels", "getLatencies", "getBufferSize", "getSampleRate",
                                           "setSampleRate", "getChannelInfo", "createBuffers", "start", "stop",
                                           "disposeBuffers"));

TEST_F(LoopbackTest, FailedInitLeavesTheErrorMessage)
{
    DriverRef driver = makeDriver(testDriverClass("Fail init"));
    ASSERT_TRUE(driver);
    EXPECT_EQ(driver->init(nullptr), ASIOFalse);
    EXPECT_EQ(errorOf(driver.get()), "No device");
}

TEST_F(LoopbackTest, FailListIsCaseInsensitiveAndSkipsUnknownNames)
{
    DriverRef driver = openDriver(testDriverClass("Fail list"));
    ASSERT_TRUE(driver);
    ASIOLong a = 0, b = 0;
    EXPECT_EQ(driver->getLatencies(&a, &b), ASE_HWMalfunction);
    EXPECT_EQ(driver->getChannels(&a, &b), ASE_OK);
    ASSERT_EQ(createHostBuffers(driver.get(), oneLoop, 64, 4), ASE_OK);
    ASSERT_EQ(driver->start(), ASE_OK);
    EXPECT_EQ(driver->stop(), ASE_HWMalfunction);
}

TEST_F(LoopbackTest, FailCreateRefusesTheObject)
{
    ensureTestRegistry();
    const CLSID clsid = testDriverClass("Fail create");
    IClassFactory* factory = nullptr;
    ASSERT_EQ(libraryGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_TRUE(FAILED(factory->CreateInstance(nullptr, clsid, &object)));
    EXPECT_EQ(object, nullptr);
    factory->Release();
}

}  // namespace
