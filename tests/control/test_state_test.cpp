#include <gtest/gtest.h>

#include <cfloat>

#include "record/test_state.h"

namespace {

// Each test runs in a process of its own, so this sees the record exactly
// as the process starts with it.
TEST(TestStateTest, StartsWithTheDefaultsOfATest)
{
    const TestState& s = testState;
    EXPECT_EQ(maxChannelsPerDirection, 32);
    EXPECT_EQ(maxChannels, 64);
    EXPECT_EQ(s.runDurationMs, 1000);
    EXPECT_EQ(s.toneFrequencyHz, 220.0);
    EXPECT_FALSE(s.pulseMode);
    EXPECT_FALSE(s.staircaseMode);
    EXPECT_EQ(s.sampleRate, 48000.0);
    EXPECT_EQ(s.resultsFile, nullptr);
    EXPECT_TRUE(s.driverNames.empty());
    EXPECT_EQ(s.currentDriver, nullptr);
    EXPECT_EQ(s.deviceIndex, 0);
    EXPECT_EQ(s.driverInfo.asioVersion, 0);
    EXPECT_EQ(s.driverInfo.name[0], '\0');
    EXPECT_FALSE(s.controlPanelShown);
    for (int32_t v : {s.reportedOutputChannels, s.outputChannelCount, s.inputChannelCount, s.sampleType,
                      s.minBufferSize, s.preferredBufferSize, s.bufferGranularity, s.bufferSize})
        EXPECT_EQ(v, 0);
    EXPECT_EQ(s.inputLatency.load(), 0);
    EXPECT_EQ(s.outputLatency.load(), 0);
    EXPECT_FALSE(s.timeInfoMode.load());
    for (const ASIOBufferInfo& b : s.bufferInfos) {
        EXPECT_EQ(b.isInput, 0);
        EXPECT_EQ(b.buffers[0], nullptr);
    }
    EXPECT_EQ(s.callbacks.bufferSwitch, nullptr);
    EXPECT_EQ(s.signalLength, 0u);
    EXPECT_EQ(s.signalBuffer, nullptr);
    EXPECT_EQ(s.callCount + s.samplesProcessed + s.signalPosition + s.leadInRemaining, 0u);
    EXPECT_EQ(s.floatMinSeen, FLT_MAX);
    EXPECT_EQ(s.floatMaxSeen, -FLT_MAX);  // lowest finite: the maximum shows only values seen
    EXPECT_EQ(s.captures.size(), 64u);
    for (const SampleRecording& r : s.captures) EXPECT_TRUE(r.empty());
}

TEST(TestStateTest, ChannelLoopsNeverPassTheRecordingsThatExist)
{
    struct Case {
        int32_t outputs, inputs, usedOutputs, usedInputs;
    } cases[] = {{2, 4, 2, 4}, {32, 32, 32, 32}, {40, 40, 32, 32}, {-3, 7, 0, 7}, {5, -1, 5, 0}, {0, 99, 0, 32}};
    for (const Case& c : cases) {
        testState.outputChannelCount = c.outputs;
        testState.inputChannelCount = c.inputs;
        EXPECT_EQ(usedOutputChannels(), c.usedOutputs);
        EXPECT_EQ(usedInputChannels(), c.usedInputs);
        EXPECT_LE(usedOutputChannels() + usedInputChannels(), maxChannels);
    }
}

}  // namespace
