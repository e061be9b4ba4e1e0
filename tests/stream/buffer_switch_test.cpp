#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "record/sample_memory.h"
#include "record/test_state.h"
#include "stream/buffer_switch.h"
#include "stream/lost_samples.h"
#include "support/fake_driver.h"
#include "support/test_state_fixture.h"

namespace {

// Drives the buffer switch as a driver would, with halves the test owns.
class BufferSwitchTest : public StateTest {
protected:
    // Halves are filled with a marker so that untouched samples show.
    static constexpr uint8_t untouched = 0xA5;

    void configure(int32_t outputs, int32_t inputs, int32_t sampleType, int32_t bufferSize,
                   uint64_t signalLength = 48000)
    {
        TestState& s = testState;
        s.outputChannelCount = outputs;
        s.inputChannelCount = inputs;
        s.sampleType = sampleType;
        s.bufferSize = bufferSize;
        width_ = sampleType == ASIOSTInt16LSB ? 2 : 4;
        halves_.assign(static_cast<size_t>(outputs + inputs) * 2,
                       std::vector<uint8_t>(static_cast<size_t>(bufferSize) * width_, untouched));
        for (int32_t c = 0; c < outputs + inputs; ++c) {
            s.bufferInfos[c].isInput = c >= outputs;
            s.bufferInfos[c].buffers[0] = halves_[static_cast<size_t>(c) * 2].data();
            s.bufferInfos[c].buffers[1] = halves_[static_cast<size_t>(c) * 2 + 1].data();
        }
        // A signal whose element i is 1000 + i (as 16-bit samples in the
        // 16-bit format), so every copied position can be told apart.
        s.signalLength = signalLength;
        s.signalBuffer.reset(static_cast<uint32_t*>(allocateSampleMemory(signalLength * 4)));
        for (uint64_t i = 0; i < signalLength; ++i) {
            if (width_ == 2)
                reinterpret_cast<int16_t*>(s.signalBuffer.get())[i] = static_cast<int16_t>(1000 + i);
            else
                s.signalBuffer[i] = static_cast<uint32_t>(1000 + i);
        }
        for (auto& c : s.captures) ASSERT_TRUE(c.reserve(100000));
    }

    int32_t outSample(int32_t channel, int half, size_t i) const
    {
        const uint8_t* p = halves_[static_cast<size_t>(channel) * 2 + static_cast<size_t>(half)].data() + i * width_;
        if (width_ == 2) {
            int16_t v;
            std::memcpy(&v, p, 2);
            return v;
        }
        int32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    template <class T>
    T* inputHalf(int32_t channel, int half)
    {
        return reinterpret_cast<T*>(halves_[static_cast<size_t>(channel) * 2 + static_cast<size_t>(half)].data());
    }
    std::vector<int32_t> recording(int32_t channel) const
    {
        const SampleRecording& r = testState.captures[static_cast<size_t>(channel)];
        return std::vector<int32_t>(r.data(), r.data() + r.size());
    }
    static std::vector<int32_t> signalRange(uint64_t from, size_t count, uint64_t length = 48000)
    {
        std::vector<int32_t> v;
        for (size_t i = 0; i < count; ++i) v.push_back(static_cast<int32_t>(1000 + (from + i) % length));
        return v;
    }

    size_t width_ = 4;
    std::vector<std::vector<uint8_t>> halves_;
};

TEST_F(BufferSwitchTest, LeadInThenSignalOnEveryOutput)
{
    configure(2, 1, ASIOSTInt32LSB, 512);
    testState.leadInRemaining = 1000;

    processBufferSwitch(0, ASIOTrue);
    for (int32_t c = 0; c < 2; ++c) {
        for (size_t i = 0; i < 512; ++i) ASSERT_EQ(outSample(c, 0, i), 0);
        EXPECT_TRUE(recording(c).empty());
    }
    EXPECT_EQ(testState.leadInRemaining, 488u);

    processBufferSwitch(1, ASIOTrue);
    for (int32_t c = 0; c < 2; ++c) {
        for (size_t i = 0; i < 488; ++i) ASSERT_EQ(outSample(c, 1, i), 0);
        for (size_t i = 488; i < 512; ++i) ASSERT_EQ(outSample(c, 1, i), static_cast<int32_t>(1000 + i - 488));
        EXPECT_EQ(recording(c), signalRange(0, 24));
    }
    EXPECT_EQ(testState.leadInRemaining, 0u);
    EXPECT_EQ(testState.signalPosition, 24u);
    EXPECT_EQ(recording(2).size(), 1024u);
    EXPECT_EQ(testState.callCount, 2u);
    EXPECT_EQ(testState.samplesProcessed, 1024u);
}

TEST_F(BufferSwitchTest, SignalPositionAcrossHalves)
{
    struct Case {
        const char* what;
        uint64_t lead, pos;
        int32_t bufferSize;
        uint64_t firstSent, nextPos;
        size_t silent;
    } cases[] = {
        {"lead-in of exactly one half", 256, 0, 256, 0, 0, 256},
        {"no lead-in", 0, 0, 256, 0, 256, 0},
        {"wrap at the end of the signal", 0, 47900, 512, 47900, 412, 0},
        {"half ending at the end of the signal", 0, 47744, 256, 47744, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        resetTestState();
        configure(1, 0, ASIOSTInt32LSB, c.bufferSize);
        testState.leadInRemaining = c.lead;
        testState.signalPosition = c.pos;
        processBufferSwitch(0, ASIOFalse);
        const size_t sent = static_cast<size_t>(c.bufferSize) - c.silent;
        for (size_t i = 0; i < c.silent; ++i) ASSERT_EQ(outSample(0, 0, i), 0);
        const std::vector<int32_t> expected = signalRange(c.firstSent, sent);
        for (size_t i = 0; i < sent; ++i) ASSERT_EQ(outSample(0, 0, c.silent + i), expected[i]) << i;
        EXPECT_EQ(recording(0), expected);
        EXPECT_EQ(testState.signalPosition, c.nextPos);
        EXPECT_EQ(testState.leadInRemaining, c.lead - c.silent);
    }
    // The lead-in that ran out exactly: the next half starts with sample 0.
    resetTestState();
    configure(1, 0, ASIOSTInt32LSB, 256);
    testState.leadInRemaining = 256;
    processBufferSwitch(0, ASIOFalse);
    processBufferSwitch(1, ASIOFalse);
    EXPECT_EQ(outSample(0, 1, 0), 1000);
}

TEST_F(BufferSwitchTest, ShortSignalLoopsSeveralTimesWithinOneHalf)
{
    configure(1, 0, ASIOSTInt32LSB, 10, 3);
    testState.leadInRemaining = 2;
    processBufferSwitch(0, ASIOFalse);
    const int32_t expected[] = {0, 0, 1000, 1001, 1002, 1000, 1001, 1002, 1000, 1001};
    for (size_t i = 0; i < 10; ++i) EXPECT_EQ(outSample(0, 0, i), expected[i]) << i;
    EXPECT_EQ(recording(0), std::vector<int32_t>(expected + 2, expected + 10));
    EXPECT_EQ(testState.signalPosition, 2u);
}

TEST_F(BufferSwitchTest, InputsAreRecordedPerFormat)
{
    // 32-bit integers pass unchanged.
    configure(1, 2, ASIOSTInt32LSB, 4);
    int32_t* in = inputHalf<int32_t>(2, 1);
    const int32_t ints[] = {INT32_MIN, -1, 0, INT32_MAX};
    std::memcpy(in, ints, sizeof ints);
    std::memset(inputHalf<int32_t>(1, 1), 0, 16);
    processBufferSwitch(1, ASIOFalse);
    EXPECT_EQ(recording(2), std::vector<int32_t>(ints, ints + 4));
    EXPECT_EQ(recording(1), std::vector<int32_t>(4, 0));
    EXPECT_TRUE(recording(3).empty());

    // 16-bit samples are sign-extended, on the inputs and on the outputs.
    resetTestState();
    configure(1, 1, ASIOSTInt16LSB, 3);
    reinterpret_cast<int16_t*>(testState.signalBuffer.get())[0] = static_cast<int16_t>(0x8000);
    const uint16_t raw[] = {0xFFFF, 0x7FFF, 0x8000};
    std::memcpy(inputHalf<int16_t>(1, 0), raw, sizeof raw);
    processBufferSwitch(0, ASIOFalse);
    EXPECT_EQ(recording(1), (std::vector<int32_t>{-1, 32767, -32768}));
    EXPECT_EQ(recording(0), (std::vector<int32_t>{-32768, 1001, 1002}));
    EXPECT_EQ(outSample(0, 0, 0), -32768);
}

TEST_F(BufferSwitchTest, FloatInputsAreScaledAndSaturated)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float samples[] = {0.5f, -0.5f, -1.0f, 0.75f, 1.0f, 2.0f, -2.0f, nan, inf, -inf, 0.99999994f};
    const int32_t expected[] = {1073741824, -1073741824, INT32_MIN, 1610612736, INT32_MAX, INT32_MAX,
                                INT32_MIN,  0,           INT32_MAX, INT32_MIN,  2147483520};
    configure(0, 1, ASIOSTFloat32LSB, 11);
    std::memcpy(inputHalf<float>(0, 0), samples, sizeof samples);
    processBufferSwitch(0, ASIOFalse);
    EXPECT_EQ(recording(0), std::vector<int32_t>(expected, expected + 11));
    EXPECT_EQ(testState.floatMaxSeen, inf);
    EXPECT_EQ(testState.floatMinSeen, -inf);
}

TEST_F(BufferSwitchTest, FloatRangeTracksBothExtremesOfEverySample)
{
    configure(0, 1, ASIOSTFloat32LSB, 1);
    const float sequence[] = {0.5f, -0.25f};
    inputHalf<float>(0, 0)[0] = sequence[0];
    processBufferSwitch(0, ASIOFalse);
    EXPECT_EQ(testState.floatMaxSeen, 0.5f);
    EXPECT_EQ(testState.floatMinSeen, 0.5f);  // the first sample is also the lowest so far
    inputHalf<float>(0, 0)[0] = sequence[1];
    processBufferSwitch(0, ASIOFalse);
    EXPECT_EQ(testState.floatMaxSeen, 0.5f);
    EXPECT_EQ(testState.floatMinSeen, -0.25f);

    // Negative-only input reports the maximum it saw, not a value it never saw.
    resetTestState();
    configure(0, 1, ASIOSTFloat32LSB, 2);
    inputHalf<float>(0, 0)[0] = -0.75f;
    inputHalf<float>(0, 0)[1] = -0.5f;
    processBufferSwitch(0, ASIOFalse);
    EXPECT_EQ(testState.floatMaxSeen, -0.5f);
    EXPECT_EQ(testState.floatMinSeen, -0.75f);
}

TEST_F(BufferSwitchTest, OnlyTheNamedHalfIsTouched)
{
    configure(1, 1, ASIOSTInt32LSB, 8);
    processBufferSwitch(1, ASIOFalse);
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(static_cast<uint32_t>(outSample(0, 0, i)), 0xA5A5A5A5u);
    EXPECT_EQ(outSample(0, 1, 0), 1000);

    // A half index that names no buffer, and a size of 0, touch nothing
    // but still count the call.
    for (auto [index, size] : {std::pair<ASIOLong, int32_t>{2, 8}, {-1, 8}, {0, 0}}) {
        resetTestState();
        configure(1, 1, ASIOSTInt32LSB, 8);
        testState.bufferSize = size;
        processBufferSwitch(index, ASIOFalse);
        EXPECT_EQ(testState.callCount, 1u);
        EXPECT_EQ(static_cast<uint32_t>(outSample(0, 0, 0)), 0xA5A5A5A5u);
        EXPECT_TRUE(recording(0).empty());
        EXPECT_TRUE(recording(1).empty());
    }
}

TEST_F(BufferSwitchTest, SamplePositionIsAskedOnlyWithoutTimeInfo)
{
    FakeDriver driver;
    configure(1, 1, ASIOSTInt32LSB, 8);
    processBufferSwitch(0, ASIOFalse);  // no driver loaded
    testState.currentDriver = &driver;
    processBufferSwitch(1, ASIOFalse);
    EXPECT_EQ(driver.samplePositionCalls, 1);
    testState.timeInfoMode = true;
    processBufferSwitch(0, ASIOFalse);
    EXPECT_EQ(driver.samplePositionCalls, 1);
    EXPECT_EQ(testState.callCount, 3u);
    testState.currentDriver = nullptr;
}

TEST_F(BufferSwitchTest, RecordingThatCannotGrowStopsAndCountsWhatItLost)
{
    configure(1, 2, ASIOSTInt32LSB, 512);
    for (auto& c : testState.captures) c.release();
    ASSERT_TRUE(testState.captures[1].reserve(512));
    ASSERT_TRUE(testState.captures[2].reserve(4096));
    ASSERT_TRUE(testState.captures[0].reserve(4096));
    setSampleMemoryLimit(1024);  // nothing may grow now

    for (int i = 0; i < 3; ++i) processBufferSwitch(i % 2, ASIOFalse);
    EXPECT_EQ(testState.captures[1].size(), 512u);
    EXPECT_EQ(testState.captures[1].lostSamples(), 1024u);
    EXPECT_EQ(testState.captures[2].size(), 1536u);
    EXPECT_EQ(testState.captures[2].lostSamples(), 0u);
    EXPECT_EQ(testState.callCount, 3u);

    reportLostSamples();
    EXPECT_EQ(err(), "warning: channel 1 lost 1024 samples: its recording could not grow beyond 512 samples\n");
    EXPECT_EQ(out(), "");
}

TEST_F(BufferSwitchTest, GrowsPastItsReservationWhenMemoryAllows)
{
    configure(0, 1, ASIOSTInt32LSB, 300);
    testState.captures[0].release();
    ASSERT_TRUE(testState.captures[0].reserve(256));
    for (int i = 0; i < 5; ++i) processBufferSwitch(i % 2, ASIOFalse);
    EXPECT_EQ(testState.captures[0].size(), 1500u);
    EXPECT_EQ(testState.captures[0].lostSamples(), 0u);
}

// The driver's thread runs the switch while the host thread waits, as in a
// run; under ThreadSanitizer this shows the hand-over through thread start
// and join is all the ordering the plain fields need, and that driver
// messages on a third thread touch only atomics.
TEST_F(BufferSwitchTest, RunsOnTheDriversThread)
{
    FakeDriver driver;
    configure(2, 2, ASIOSTFloat32LSB, 64);
    testState.leadInRemaining = 100;
    testState.currentDriver = &driver;
    inputHalf<float>(2, 0)[5] = 0.25f;
    inputHalf<float>(3, 1)[7] = -0.125f;

    std::thread audio([] {
        for (int i = 0; i < 1000; ++i) processBufferSwitch(i % 2, ASIOTrue);
    });
    std::thread messages([] {
        for (int i = 0; i < 100; ++i) {
            testState.timeInfoMode.store(i % 2 == 0, std::memory_order_relaxed);
            testState.inputLatency.store(i, std::memory_order_relaxed);
        }
    });
    audio.join();
    messages.join();

    EXPECT_EQ(testState.callCount, 1000u);
    EXPECT_EQ(recording(0).size(), 64u * 1000 - 100);
    EXPECT_EQ(recording(2).size(), 64000u);
    EXPECT_EQ(testState.floatMaxSeen, 0.25f);
    EXPECT_EQ(testState.floatMinSeen, -0.125f);
    testState.currentDriver = nullptr;
}

}  // namespace

namespace {

// A coded signal: each output plays, and its recording keeps, its own
// channel of the signal; an output past the coded channels stays silent.
TEST_F(BufferSwitchTest, CodedSignalGivesEachOutputItsOwnChannel)
{
    for (int32_t type : {ASIOSTInt16LSB, ASIOSTInt32LSB}) {
        SCOPED_TRACE(type);
        configure(3, 1, type, 64, 100);
        TestState& s = testState;
        // Channel c's element i is 1000 c + i.
        s.signalBuffer.reset(static_cast<uint32_t*>(allocateSampleMemory(2 * 100 * 4)));
        s.signalChannelBytes = 100 * 4;
        s.signalChannels = 2;
        for (int c = 0; c < 2; ++c) {
            for (int i = 0; i < 100; ++i) {
                uint8_t* channel = reinterpret_cast<uint8_t*>(s.signalBuffer.get()) + c * s.signalChannelBytes;
                if (type == ASIOSTInt16LSB)
                    reinterpret_cast<int16_t*>(channel)[i] = static_cast<int16_t>(1000 * c + i);
                else
                    reinterpret_cast<int32_t*>(channel)[i] = 1000 * c + i;
            }
        }
        s.leadInRemaining = 10;
        processBufferSwitch(0, ASIOTrue);
        processBufferSwitch(1, ASIOTrue);
        for (int32_t c = 0; c < 3; ++c) {
            const std::vector<int32_t> sent = recording(c);
            ASSERT_EQ(sent.size(), 118u);
            for (size_t i = 0; i < sent.size(); ++i) {
                const int32_t expected = c < 2 ? static_cast<int32_t>(1000 * c + i % 100) : 0;
                ASSERT_EQ(sent[i], expected) << "output " << c << " at " << i;
                ASSERT_EQ(outSample(c, static_cast<int>((i + 10) / 64), (i + 10) % 64), expected);
            }
        }
        for (auto& capture : s.captures) capture.clear();
        s.signalPosition = 0;
        s.signalChannelBytes = 0;
        s.signalChannels = 1;
    }
}

}  // namespace
