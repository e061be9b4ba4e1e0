#include <gtest/gtest.h>

#include "record/test_state.h"
#include "stream/driver_callbacks.h"
#include "support/fake_driver.h"
#include "support/test_state_fixture.h"

namespace {

using DriverCallbacksTest = StateTest;

TEST_F(DriverCallbacksTest, MessagesArePrintedAndAnswered)
{
    struct Case {
        ASIOLong selector, value, result;
        const char* extraLine;
        bool setsTimeInfo;
    } cases[] = {
        {kAsioSelectorSupported, kAsioEngineVersion, 1, "", false},
        {kAsioSelectorSupported, kAsioLatenciesChanged, 1, "", false},
        {kAsioSelectorSupported, kAsioSupportsTimeInfo, 1, "", false},
        {kAsioSelectorSupported, kAsioResetRequest, 0, "", false},
        {kAsioSelectorSupported, kAsioSupportsTimeCode, 0, "", false},
        {kAsioEngineVersion, 0, 2, "Returning ASIO 2\n", true},
        {kAsioSupportsTimeInfo, 0, 1, "", true},
        {kAsioResetRequest, 0, 0, "", false},
        {kAsioBufferSizeChange, 512, 0, "", false},
        {kAsioResyncRequest, 0, 0, "", false},
        {kAsioSupportsTimeCode, 0, 0, "", false},
        {-7, -3, 0, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.selector << "/" << c.value);
        resetTestState();
        clearOutput();
        EXPECT_EQ(asioMessage(c.selector, c.value, nullptr, nullptr), c.result);
        EXPECT_EQ(out(), "ASIO message selector " + std::to_string(c.selector) + ", value " +
                             std::to_string(c.value) + "\n" + c.extraLine);
        EXPECT_EQ(testState.timeInfoMode.load(), c.setsTimeInfo);
        EXPECT_EQ(testState.inputLatency.load(), 0);
    }
}

TEST_F(DriverCallbacksTest, LatenciesChangedReadsThemFromTheDriver)
{
    FakeDriver driver;
    driver.inputLatency = 123;
    driver.outputLatency = 456;
    testState.currentDriver = &driver;
    EXPECT_EQ(asioMessage(kAsioLatenciesChanged, 0, nullptr, nullptr), 1);
    EXPECT_EQ(testState.inputLatency.load(), 123);
    EXPECT_EQ(testState.outputLatency.load(), 456);

    // A failed query leaves them as they were.
    driver.latenciesResult = ASE_HWMalfunction;
    EXPECT_EQ(asioMessage(kAsioLatenciesChanged, 0, nullptr, nullptr), 1);
    EXPECT_EQ(testState.inputLatency.load(), 123);

    testState.currentDriver = nullptr;
    EXPECT_EQ(asioMessage(kAsioLatenciesChanged, 0, nullptr, nullptr), 1);
    EXPECT_EQ(testState.inputLatency.load(), 0);
    EXPECT_EQ(testState.outputLatency.load(), 0);
    const std::string line = "ASIO message selector 6, value 0\n";
    EXPECT_EQ(out(), line + line + line);
}

TEST_F(DriverCallbacksTest, TimeInfoSwitchProcessesOnlyWithParams)
{
    testState.bufferSize = 4;
    EXPECT_EQ(bufferSwitchTimeInfo(nullptr, 0, ASIOTrue), nullptr);
    EXPECT_EQ(testState.callCount, 0u);
    ASIOTime params{};
    EXPECT_EQ(bufferSwitchTimeInfo(&params, 1, ASIOTrue), &params);
    EXPECT_EQ(testState.callCount, 1u);
    EXPECT_EQ(testState.samplesProcessed, 4u);
}

TEST_F(DriverCallbacksTest, SampleRateChangeIsOnlyAnnounced)
{
    sampleRateDidChange(44100.0);
    EXPECT_EQ(out(), "Sample rate did change\n");
    EXPECT_EQ(testState.sampleRate, 48000.0);
}

}  // namespace
