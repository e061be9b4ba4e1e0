#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "record/sample_memory.h"
#include "record/test_state.h"
#include "stream/test_signal.h"
#include "support/test_state_fixture.h"

namespace {

class TestSignalTest : public StateTest {
protected:
    int32_t element32(size_t i) const
    {
        int32_t v;
        std::memcpy(&v, testState.signalBuffer.get() + i, sizeof v);
        return v;
    }
    int16_t element16(size_t i) const { return reinterpret_cast<const int16_t*>(testState.signalBuffer.get())[i]; }
    float elementFloat(size_t i) const
    {
        float v;
        std::memcpy(&v, testState.signalBuffer.get() + i, sizeof v);
        return v;
    }
};

TEST_F(TestSignalTest, StaircaseHoldsTheSameIntegersInBothThirtyTwoBitFormats)
{
    for (int32_t type : {ASIOSTInt32LSB, ASIOSTFloat32LSB}) {
        SCOPED_TRACE(type);
        resetTestState();
        clearOutput();
        testState.staircaseMode = true;
        testState.pulseMode = true;  // the staircase wins
        testState.sampleType = type;
        ASSERT_TRUE(generateTestSignal());
        EXPECT_EQ(testState.signalLength, 48000u);
        EXPECT_EQ(out(), "Buffer length is 48000\n");
        EXPECT_EQ(element32(0), 0);
        EXPECT_EQ(element32(1), 100);
        EXPECT_EQ(element32(47999), 4799900);
    }
}

TEST_F(TestSignalTest, SixteenBitStaircaseKeepsTheLowSixteenBitsOfEachStep)
{
    testState.staircaseMode = true;
    testState.sampleType = ASIOSTInt16LSB;
    testState.sampleRate = 44100.0;
    ASSERT_TRUE(generateTestSignal());
    EXPECT_EQ(testState.signalLength, 44100u);
    EXPECT_EQ(element16(1), 100);
    EXPECT_EQ(element16(327), 32700);
    EXPECT_EQ(element16(328), static_cast<int16_t>(-32736));  // 32800 wraps
    EXPECT_EQ(element16(44099), static_cast<int16_t>(static_cast<uint16_t>(4409900)));
}

TEST_F(TestSignalTest, PulseIsOneFullScaleSampleInEachFormat)
{
    struct Case {
        int32_t type;
        uint32_t firstBits;
    } cases[] = {{ASIOSTInt32LSB, 0x7FFFFFFFu}, {ASIOSTFloat32LSB, 0x7F7FFFFFu}, {ASIOSTInt16LSB, 0x7FFFu}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        resetTestState();
        clearOutput();
        testState.pulseMode = true;
        testState.sampleType = c.type;
        ASSERT_TRUE(generateTestSignal());
        EXPECT_EQ(out(), "Buffer length is 48000\n");
        EXPECT_EQ(testState.signalBuffer[0], c.firstBits);
        for (size_t i = 1; i < testState.signalLength; ++i) ASSERT_EQ(testState.signalBuffer[i], 0u) << i;
    }
}

TEST_F(TestSignalTest, SineTruncatesAndUsesTheRunningPhaseSum)
{
    testState.sampleType = ASIOSTInt32LSB;
    ASSERT_TRUE(generateTestSignal());
    EXPECT_EQ(out(), "Buffer length is 48000\n********************Sinsusoid\nStep is 2.08333e-05\n");
    EXPECT_EQ(element32(0), 0);
    EXPECT_EQ(element32(1), 61834541);  // 61834541.85, truncated

    resetTestState();
    testState.sampleType = ASIOSTInt32LSB;
    testState.toneFrequencyHz = 1000.0;
    ASSERT_TRUE(generateTestSignal());
    EXPECT_EQ(element32(12), 2147483647);  // a quarter period
}

TEST_F(TestSignalTest, FloatAndSixteenBitSinesFollowTheDoubleSine)
{
    const double step = 1.0 / 48000.0;
    double t = 0.0;
    std::vector<double> expected;
    for (int i = 0; i < 48000; ++i, t += step) expected.push_back(std::sin((220.0 * 6.283185308) * t));

    testState.sampleType = ASIOSTFloat32LSB;
    ASSERT_TRUE(generateTestSignal());
    for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(elementFloat(i), static_cast<float>(expected[i])) << i;

    resetTestState();
    testState.sampleType = ASIOSTInt16LSB;
    ASSERT_TRUE(generateTestSignal());
    for (size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(element16(i), static_cast<int16_t>(expected[i] * 32767.0)) << i;
    EXPECT_GT(element16(54), 32000);  // near the first crest
}

TEST_F(TestSignalTest, FrequencyTooLargeForThePhaseSendsSilenceInEachFormat)
{
    // 1e308 Hz overflows the phase to infinity, and every sine to NaN.
    for (int32_t type : {ASIOSTInt32LSB, ASIOSTInt16LSB, ASIOSTFloat32LSB}) {
        SCOPED_TRACE(type);
        resetTestState();
        testState.toneFrequencyHz = 1e308;
        testState.sampleType = type;
        ASSERT_TRUE(generateTestSignal());
        const size_t bytes = testState.signalLength * (type == ASIOSTInt16LSB ? 2 : 4);
        const std::vector<uint8_t> silence(bytes, 0);
        EXPECT_EQ(std::memcmp(testState.signalBuffer.get(), silence.data(), bytes), 0);
    }
}

TEST_F(TestSignalTest, BufferThatCannotBeHadFailsWithTheBytesAskedFor)
{
    setSampleMemoryLimit(1000);
    testState.staircaseMode = true;
    testState.sampleType = ASIOSTInt32LSB;
    EXPECT_FALSE(generateTestSignal());
    EXPECT_EQ(out(), "Buffer length is 48000\nCould not allocate 192000 bytes for the test signal\n");
    EXPECT_EQ(testState.signalBuffer, nullptr);
}

}  // namespace
