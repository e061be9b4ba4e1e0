#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "record/sample_memory.h"
#include "record/test_state.h"
#include "stream/buffer_switch.h"
#include "stream/driver_callbacks.h"
#include "stream/stream_setup.h"
#include "support/fake_driver.h"
#include "support/test_state_fixture.h"

namespace {

using Calls = std::vector<std::string>;

const Calls allCalls = {"getChannels",  "getChannelInfo", "getBufferSize", "getSampleRate",
                        "setSampleRate", "createBuffers",  "getLatencies"};

Calls callsUpTo(const std::string& last)
{
    Calls calls;
    for (const std::string& call : allCalls) {
        calls.push_back(call);
        if (call == last) break;
    }
    return calls;
}

// The console of a setup with the fake's default script (2 outputs, 4
// inputs, 32-bit integers, sizes 64/2048/256/-1) at 48 kHz, staircase.
const char channelLine[] = "There are 2 output channels and 4 inputs channels\n";
const char formatLines[] =
    "Got channel info 18\n"
    "Format type supported (32 bit integer little endian)\n";
const char sizeLines[] =
    "Buffer size is 0\n"
    "Buffer sizes are [64, 2048] preferred 256 granularity -1\n";
const char rateLine[] = "Setting sample rate to 48000\n";
const char signalLine[] = "Buffer length is 48000\n";
const char createdLine[] = "Initialised all streams\n";

std::string fullConsole()
{
    return std::string(channelLine) + formatLines + sizeLines + rateLine + signalLine + createdLine;
}

class StreamSetupTest : public StateTest {
protected:
    void SetUp() override
    {
        StateTest::SetUp();
        driver.inputs = 4;
        testState.currentDriver = &driver;
        // The staircase prints the fewest signal lines.
        testState.staircaseMode = true;
    }

    FakeDriver driver;
};

TEST_F(StreamSetupTest, ConfiguresTheDriverInOrderAndPrintsEveryStep)
{
    TestState& s = testState;
    s.callCount = 7;
    s.samplesProcessed = 9;
    s.signalPosition = 11;
    s.timeInfoMode = true;

    ASSERT_TRUE(setupStreams());

    EXPECT_EQ(out(), fullConsole());
    EXPECT_EQ(err(), "");
    EXPECT_EQ(driver.calls, allCalls);
    EXPECT_EQ(driver.channelInfoAsked.channel, 0);
    EXPECT_EQ(driver.channelInfoAsked.isInput, ASIOFalse);
    EXPECT_EQ(driver.channelInfoAsked.name[0], '\0');
    EXPECT_EQ(driver.rateSet, 48000.0);

    EXPECT_EQ(s.reportedOutputChannels, 2);
    EXPECT_EQ(s.outputChannelCount, 2);
    EXPECT_EQ(s.inputChannelCount, 4);
    EXPECT_EQ(s.sampleType, ASIOSTInt32LSB);
    EXPECT_EQ(s.minBufferSize, 64);
    EXPECT_EQ(s.preferredBufferSize, 256);
    EXPECT_EQ(s.bufferGranularity, -1);
    EXPECT_EQ(s.bufferSize, 256);

    // Outputs first, the inputs directly after them.
    ASSERT_EQ(driver.createdChannels, 6);
    EXPECT_EQ(driver.createdBufferSize, 256);
    const std::pair<ASIOBool, ASIOLong> expected[] = {{ASIOFalse, 0}, {ASIOFalse, 1}, {ASIOTrue, 0},
                                                      {ASIOTrue, 1},  {ASIOTrue, 2},  {ASIOTrue, 3}};
    for (size_t k = 0; k < 6; ++k) {
        EXPECT_EQ(driver.createdInfos[k].isInput, expected[k].first) << k;
        EXPECT_EQ(driver.createdInfos[k].channelNum, expected[k].second) << k;
    }

    EXPECT_EQ(driver.callbacks.bufferSwitch, &processBufferSwitch);
    EXPECT_EQ(driver.callbacks.sampleRateDidChange, &sampleRateDidChange);
    EXPECT_EQ(driver.callbacks.asioMessage, &asioMessage);
    EXPECT_EQ(driver.callbacks.bufferSwitchTimeInfo, &bufferSwitchTimeInfo);

    EXPECT_EQ(s.inputLatency.load(), 100);
    EXPECT_EQ(s.outputLatency.load(), 200);
    EXPECT_EQ(s.leadInRemaining, 300u);
    EXPECT_EQ(s.callCount, 0u);
    EXPECT_EQ(s.samplesProcessed, 0u);
    EXPECT_EQ(s.signalPosition, 0u);
    EXPECT_FALSE(s.timeInfoMode.load());
    EXPECT_TRUE(s.signalBuffer);

    // One second of room in each recording in use, none elsewhere.
    for (size_t k = 0; k < 6; ++k) EXPECT_EQ(s.captures[k].capacity(), 48000u) << k;
    EXPECT_EQ(s.captures[6].capacity(), 0u);
}

TEST_F(StreamSetupTest, UsesAtMostThirtyTwoChannelsEachWay)
{
    driver.outputs = 40;
    driver.inputs = 40;
    ASSERT_TRUE(setupStreams());
    EXPECT_EQ(out().substr(0, out().find('\n') + 1), "There are 40 output channels and 40 inputs channels\n");
    EXPECT_EQ(testState.reportedOutputChannels, 40);
    EXPECT_EQ(testState.outputChannelCount, 32);
    EXPECT_EQ(testState.inputChannelCount, 32);
    ASSERT_EQ(driver.createdChannels, 64);
    EXPECT_EQ(driver.createdInfos[31].isInput, ASIOFalse);
    EXPECT_EQ(driver.createdInfos[31].channelNum, 31);
    EXPECT_EQ(driver.createdInfos[32].isInput, ASIOTrue);
    EXPECT_EQ(driver.createdInfos[32].channelNum, 0);
    EXPECT_EQ(driver.createdInfos[63].channelNum, 31);
    EXPECT_EQ(testState.captures[63].capacity(), 48000u);
}

// Standard output keeps the driver's counts; what is left out of the test
// is told on standard error, once per direction that has more than 32.
TEST_F(StreamSetupTest, ChannelsPastThirtyTwoAreToldOnStandardError)
{
    const struct {
        ASIOLong outputs, inputs;
        const char* err;
    } cases[] = {
        {32, 32, ""},
        {33, 2, "warning: the driver reports 33 outputs; the first 32 are tested\n"},
        {2, 64, "warning: the driver reports 64 inputs; the first 32 are tested\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.outputs * 100 + c.inputs);
        resetTestState();
        clearOutput();
        FakeDriver fresh;
        fresh.outputs = c.outputs;
        fresh.inputs = c.inputs;
        testState.currentDriver = &fresh;
        testState.staircaseMode = true;
        ASSERT_TRUE(setupStreams());
        EXPECT_EQ(err(), c.err);
        testState.currentDriver = nullptr;
    }
}

// Every way a setup can fail (or stop short), with what it prints and how
// far it gets with the driver.
struct FailureCase {
    const char* name;
    std::function<void(FakeDriver&)> script;
    std::string console;
    std::string lastCall;
    bool signalLeft;
};

TEST_F(StreamSetupTest, FailsCleanlyAtEveryStep)
{
    const std::string upToRate = std::string(channelLine) + formatLines + sizeLines + rateLine;
    const FailureCase cases[] = {
        {"no outputs", [](FakeDriver& d) { d.outputs = 0; },
         "There are 0 output channels and 4 inputs channels\nThe driver reports no output channels\n", "getChannels",
         false},
        {"negative counts", [](FakeDriver& d) {
             d.outputs = -3;
             d.inputs = -1;
         },
         "There are 0 output channels and 0 inputs channels\nThe driver reports no output channels\n", "getChannels",
         false},
        {"channel query fails", [](FakeDriver& d) { d.channelsResult = ASE_NotPresent; },
         "Could not read the channel counts\n", "getChannels", false},
        {"format query fails", [](FakeDriver& d) { d.channelInfoResult = ASE_NotPresent; },
         std::string(channelLine) + "Could not read the sample format\n", "getChannelInfo", false},
        {"24-bit format", [](FakeDriver& d) { d.sampleType = ASIOSTInt24LSB; },
         std::string(channelLine) + "Got channel info 17\nThis app only supports 32 bit integer little endian PCM\n",
         "getChannelInfo", false},
        {"size query fails", [](FakeDriver& d) { d.bufferSizeResult = ASE_NotPresent; },
         std::string(channelLine) + formatLines +
             "Buffer size is -1000\nBuffer sizes are [0, 0] preferred 0 granularity 0\n"
             "Preferred buffer size 0 is not usable\n",
         "getBufferSize", false},
        {"negative preferred size", [](FakeDriver& d) { d.preferredSize = -64; },
         std::string(channelLine) + formatLines +
             "Buffer size is 0\nBuffer sizes are [64, 2048] preferred -64 granularity -1\n"
             "Preferred buffer size -64 is not usable\n",
         "getBufferSize", false},
        {"rate refused", [](FakeDriver& d) { d.setSampleRateResult = ASE_NoClock; },
         upToRate + "Could not set sampling rate to 48000\n", "setSampleRate", false},
        {"no memory for the signal", [](FakeDriver&) { setSampleMemoryLimit(1000); },
         upToRate + signalLine + "Could not allocate 192000 bytes for the test signal\n", "setSampleRate", false},
        {"buffers refused", [](FakeDriver& d) { d.createBuffersResult = ASE_NoMemory; },
         upToRate + signalLine + "Failed to initialise stresm -994\n", "createBuffers", false},
        {"no memory for the recordings",
         [](FakeDriver&) {
             testState.runDurationMs = 2000;  // 96000 samples, 384000 bytes a channel
             setSampleMemoryLimit(200000);    // the signal's 192000 bytes still fit
         },
         upToRate + signalLine + createdLine + "Could not reserve 2304000 bytes for the recordings\n", "getLatencies",
         false},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        resetTestState();
        clearOutput();
        FakeDriver fresh;
        fresh.inputs = 4;
        testState.currentDriver = &fresh;
        testState.staircaseMode = true;
        testState.sampleType = ASIOSTInt32LSB;  // left by an earlier run
        testState.outputChannelCount = 5;
        c.script(fresh);

        EXPECT_FALSE(setupStreams());
        EXPECT_EQ(out(), c.console);
        EXPECT_EQ(err(), "");
        EXPECT_EQ(fresh.calls, callsUpTo(c.lastCall));
        EXPECT_EQ(static_cast<bool>(testState.signalBuffer), c.signalLeft);
        EXPECT_EQ(testState.signalPosition, 0u);
        setSampleMemoryLimit(0);
    }
}

TEST_F(StreamSetupTest, WithoutDriverFailsSilently)
{
    testState.currentDriver = nullptr;
    testState.reportedOutputChannels = 3;
    testState.inputChannelCount = 3;
    testState.signalPosition = 5;
    EXPECT_FALSE(setupStreams());
    EXPECT_EQ(out(), "");
    EXPECT_EQ(testState.reportedOutputChannels, 0);
    EXPECT_EQ(testState.inputChannelCount, 0);
    EXPECT_EQ(testState.signalPosition, 0u);
}

TEST_F(StreamSetupTest, FormatQueryFailureKeepsTheEarlierTypeButRefusesIt)
{
    driver.channelInfoResult = ASE_NotPresent;
    testState.sampleType = ASIOSTInt16LSB;
    EXPECT_FALSE(setupStreams());
    EXPECT_EQ(testState.sampleType, ASIOSTInt16LSB);
}

TEST_F(StreamSetupTest, AcceptsEachSupportedFormat)
{
    for (int32_t type : {ASIOSTInt16LSB, ASIOSTInt32LSB, ASIOSTFloat32LSB}) {
        SCOPED_TRACE(type);
        resetTestState();
        clearOutput();
        FakeDriver fresh;
        fresh.sampleType = type;
        testState.currentDriver = &fresh;
        testState.staircaseMode = true;
        ASSERT_TRUE(setupStreams());
        EXPECT_NE(out().find("Got channel info " + std::to_string(type) +
                             "\nFormat type supported (32 bit integer little endian)\n"),
                  std::string::npos);
        EXPECT_EQ(testState.sampleType, type);
    }
}

TEST_F(StreamSetupTest, NegativeInputCountMeansNoInputs)
{
    driver.inputs = -4;
    ASSERT_TRUE(setupStreams());
    EXPECT_EQ(out().substr(0, out().find('\n') + 1), "There are 2 output channels and 0 inputs channels\n");
    EXPECT_EQ(testState.inputChannelCount, 0);
    EXPECT_EQ(driver.createdChannels, 2);
}

TEST_F(StreamSetupTest, LeadInIsTheLatencySumWithoutOverflowAndNeverNegative)
{
    struct Case {
        ASIOLong input, output;
        uint64_t leadIn;
    } cases[] = {{100, 200, 300}, {-500, 100, 0}, {-5, 5, 0}, {INT32_MAX, INT32_MAX, 4294967294u}, {0, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.input) + " + " + std::to_string(c.output));
        resetTestState();
        FakeDriver fresh;
        fresh.inputLatency = c.input;
        fresh.outputLatency = c.output;
        testState.currentDriver = &fresh;
        testState.staircaseMode = true;
        ASSERT_TRUE(setupStreams());
        EXPECT_EQ(testState.leadInRemaining, c.leadIn);
        EXPECT_EQ(testState.inputLatency.load(), c.input);
        EXPECT_EQ(testState.outputLatency.load(), c.output);
    }
}

TEST_F(StreamSetupTest, FailedLatencyQueryKeepsWhatWasKnown)
{
    driver.latenciesResult = ASE_NotPresent;
    testState.inputLatency = 7;
    testState.outputLatency = 9;
    ASSERT_TRUE(setupStreams());
    EXPECT_EQ(out(), fullConsole());
    EXPECT_EQ(testState.leadInRemaining, 16u);
}

TEST_F(StreamSetupTest, DriverMessagesDuringBufferCreationStand)
{
    driver.duringCreateBuffers = [](const ASIOCallbacks& callbacks) {
        callbacks.asioMessage(kAsioEngineVersion, 0, nullptr, nullptr);
    };
    testState.timeInfoMode = false;
    ASSERT_TRUE(setupStreams());
    EXPECT_TRUE(testState.timeInfoMode.load());
    const std::string messages = "ASIO message selector 2, value 0\nReturning ASIO 2\n";
    EXPECT_EQ(out(), std::string(channelLine) + formatLines + sizeLines + rateLine + signalLine + messages +
                         createdLine);
}

TEST_F(StreamSetupTest, ReservesWholeRunsAndNeverShrinks)
{
    struct Case {
        int32_t durationMs;
        double rate;
        size_t samples;
    } cases[] = {{1000, 44100.0, 44100}, {1, 44100.0, 44}, {3, 44100.0, 132}, {250, 192000.0, 48000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.durationMs) + " ms at " + std::to_string(c.rate));
        resetTestState();
        FakeDriver fresh;
        testState.currentDriver = &fresh;
        testState.staircaseMode = true;
        testState.runDurationMs = c.durationMs;
        testState.sampleRate = c.rate;
        ASSERT_TRUE(setupStreams());
        for (size_t k = 0; k < 4; ++k) EXPECT_EQ(testState.captures[k].capacity(), c.samples) << k;
    }

    resetTestState();
    testState.currentDriver = &driver;
    testState.staircaseMode = true;
    ASSERT_TRUE(testState.captures[1].reserve(100000));
    ASSERT_TRUE(setupStreams());
    EXPECT_EQ(testState.captures[0].capacity(), 48000u);
    EXPECT_EQ(testState.captures[1].capacity(), 100000u);
}

TEST_F(StreamSetupTest, RecordingsThatCannotBeReservedAreGivenBackForTheNextRun)
{
    testState.runDurationMs = 2000;
    ASSERT_TRUE(testState.captures[0].reserve(1000));
    setSampleMemoryLimit(200000);
    EXPECT_FALSE(setupStreams());
    for (size_t k = 0; k < 6; ++k) EXPECT_EQ(testState.captures[k].capacity(), 0u) << k;
    EXPECT_FALSE(testState.signalBuffer);

    setSampleMemoryLimit(0);
    FakeDriver next;
    next.inputs = 4;
    testState.currentDriver = &next;
    ASSERT_TRUE(setupStreams());
    for (size_t k = 0; k < 6; ++k) EXPECT_EQ(testState.captures[k].capacity(), 96000u) << k;
}

}  // namespace
