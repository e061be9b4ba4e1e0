// What the driver tells its host: the questions and messages of buffer
// creation, the choice of buffer-switch entry, the time record, and the
// events it stages while streaming.
#include <algorithm>
#include <vector>

#include "loopback_host.h"
#include "test_registry.h"

namespace {

// Validity flags of the time record: system time, sample position, sample
// rate and speed valid; and the rate-changed mark.
constexpr uint32_t allValid = 0x0F;
constexpr uint32_t rateChangedFlag = 0x10;

std::vector<std::pair<ASIOLong, ASIOLong>> messagesSent()
{
    std::vector<std::pair<ASIOLong, ASIOLong>> sent;
    for (const HostMessage& m : host->messages)
        sent.emplace_back(m.selector, m.value);
    return sent;
}

struct NegotiationCase {
    const char* label;
    bool unconfigured;  // otherwise the driver with TimeInfo 0
    bool hostSupportsSelectors;
    ASIOLong timeInfoAnswer;
    bool fourMessages;  // the questions and both messages, or the questions alone
    bool expectTimeInfo;
};

void PrintTo(const NegotiationCase& c, std::ostream* out) { *out << c.label; }

class Negotiation : public LoopbackTest, public ::testing::WithParamInterface<NegotiationCase> {};

TEST_P(Negotiation, MessagesDuringCreateBuffersPickTheSwitchEntry)
{
    const NegotiationCase& c = GetParam();
    host->supportsSelectors = c.hostSupportsSelectors;
    host->timeInfoAnswer = c.timeInfoAnswer;
    DriverRef driver = openDriver(c.unconfigured ? unconfiguredClass() : testDriverClass("No time info"));
    ASSERT_TRUE(driver);
    ASSERT_EQ(createHostBuffers(driver.get(), ChannelRequest{{0}, {0}}, 64, 4), ASE_OK);

    std::vector<std::pair<ASIOLong, ASIOLong>> expected{{kAsioSelectorSupported, kAsioEngineVersion},
                                                        {kAsioSelectorSupported, kAsioSupportsTimeInfo}};
    if (c.fourMessages) {
        expected.emplace_back(kAsioEngineVersion, 0);
        expected.emplace_back(kAsioSupportsTimeInfo, 0);
    }
    EXPECT_EQ(messagesSent(), expected);

    ASSERT_TRUE(streamHalves(driver.get(), 4));
    for (bool timeInfo : host->viaTimeInfo)
        ASSERT_EQ(timeInfo, c.expectTimeInfo);
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, Negotiation,
    ::testing::Values(NegotiationCase{"TimeInfoHost", true, true, 1, true, true},
                      NegotiationCase{"PlainHost", true, false, 1, false, false},
                      NegotiationCase{"HostDeclinesTimeInfo", true, true, 0, true, false},
                      NegotiationCase{"DriverSetToPlain", false, true, 1, true, false}),
    [](const ::testing::TestParamInfo<NegotiationCase>& info) { return std::string(info.param.label); });

int64_t joined(uint32_t hi, uint32_t lo) { return static_cast<int64_t>(uint64_t(hi) << 32 | lo); }

TEST_F(LoopbackTest, TimeRecordAndSamplePositionFollowTheStream)
{
    host->askPositionInSwitch = true;
    DriverRef driver = openDriver(testDriverClass("Fast clock"));
    ASSERT_TRUE(driver);
    ASSERT_EQ(createHostBuffers(driver.get(), ChannelRequest{{0}, {0}}, 96, 4), ASE_OK);
    ASSERT_TRUE(streamHalves(driver.get(), 6));
    ASSERT_EQ(host->times.size(), host->indices.size());
    int64_t lastTime = 0;
    for (size_t i = 0; i < host->times.size(); ++i) {
        const AsioTimeInfo& info = host->times[i].timeInfo;
        EXPECT_EQ(joined(info.samplePosition.hi, info.samplePosition.lo), static_cast<int64_t>(i) * 96);
        EXPECT_EQ(host->positionsAsked[i], static_cast<int64_t>(i) * 96);
        EXPECT_EQ(info.sampleRate, 48000.0);
        EXPECT_EQ(info.speed, 1.0);
        EXPECT_EQ(info.flags, allValid);
        const int64_t time = joined(info.systemTime.hi, info.systemTime.lo);
        EXPECT_GE(time, lastTime);
        lastTime = time;
    }
}

TEST_F(LoopbackTest, StagedLatencyAndRateChangesArriveOnceAtTheirTime)
{
    DriverRef driver = openDriver(testDriverClass("Events"));
    ASSERT_TRUE(driver);
    // 48 samples at 48000 Hz: a millisecond per half. The rate changes at
    // 5 ms, the latencies at 10 ms of streaming.
    ASSERT_EQ(createHostBuffers(driver.get(), ChannelRequest{{0}, {0}}, 48, 4), ASE_OK);
    ASSERT_TRUE(streamHalves(driver.get(), 14));

    std::vector<HostMessage> latencyMessages;
    for (const HostMessage& m : host->messages) {
        if (m.selector == kAsioLatenciesChanged)
            latencyMessages.push_back(m);
    }
    ASSERT_EQ(latencyMessages.size(), 1u);
    EXPECT_EQ(latencyMessages[0].switchesBefore, 10);
    // The host that asks at once already hears the new figures.
    EXPECT_EQ(latencyMessages[0].inputLatency, 500);
    EXPECT_EQ(latencyMessages[0].outputLatency, 600);
    ASIOLong inputLatency = 0, outputLatency = 0;
    ASSERT_EQ(driver->getLatencies(&inputLatency, &outputLatency), ASE_OK);
    EXPECT_EQ(inputLatency, 500);
    EXPECT_EQ(outputLatency, 600);

    EXPECT_EQ(host->rateChanges, std::vector<double>{48000.0});
    for (size_t i = 0; i < host->times.size(); ++i)
        EXPECT_EQ((host->times[i].timeInfo.flags & rateChangedFlag) != 0, i == 5) << "half " << i;

    // The round trip stays what it was when the buffers were made.
    const std::vector<uint8_t>& sent = host->streams[0];
    const std::vector<uint8_t>& received = host->streams[1];
    const size_t delayBytes = 300 * 4;
    ASSERT_GT(received.size(), delayBytes);
    EXPECT_TRUE(std::equal(received.begin() + delayBytes, received.end(), sent.begin()));
}

}  // namespace
