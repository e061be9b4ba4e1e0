// The host's halves and the copies between them and JACK's port buffers:
// what the host may ask for, and which half goes where in which format.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "bridge_buffers.h"

namespace {

ASIOBufferInfo request(bool isInput, int32_t channel) { return ASIOBufferInfo{isInput ? 1 : 0, channel, {}}; }

TEST(BridgeBuffers, RefusesChannelsThePortsDoNotHave)
{
    struct Case {
        std::vector<ASIOBufferInfo> infos;
        ASIOError expected;
    };
    const Case cases[] = {
        {{request(false, 0), request(true, 1)}, ASE_OK},
        {{request(false, 2)}, ASE_InvalidParameter},
        {{request(true, -1)}, ASE_InvalidParameter},
        {{request(false, 1), request(false, 1)}, ASE_InvalidParameter},  // the same channel twice
    };
    for (const Case& c : cases) {
        BridgeBuffers buffers;
        std::vector<ASIOBufferInfo> infos = c.infos;
        EXPECT_EQ(buffers.create(ASIOSTInt32LSB, 2, 2, infos.data(), int32_t(infos.size()), 64), c.expected);
        EXPECT_EQ(buffers.created(), c.expected == ASE_OK);
    }
    BridgeBuffers buffers;
    ASIOBufferInfo info = request(false, 0);
    ASSERT_EQ(buffers.create(ASIOSTInt32LSB, 2, 2, &info, 1, 64), ASE_OK);
    EXPECT_EQ(buffers.create(ASIOSTInt32LSB, 2, 2, &info, 1, 64), ASE_InvalidMode);
}

// Output port k gets output channel k's half (silence when the host did
// not stream it) and input channel k's half gets input port k, each in the
// half the period names.
TEST(BridgeBuffers, PeriodsMoveTheNamedHalfBetweenPortsAndHost)
{
    constexpr int32_t frames = 4;
    for (ASIOSampleType type : {ASIOSTInt32LSB, ASIOSTFloat32LSB}) {
        SCOPED_TRACE(type);
        BridgeBuffers buffers;
        std::vector<ASIOBufferInfo> infos{request(false, 1), request(true, 0)};
        ASSERT_EQ(buffers.create(type, 2, 1, infos.data(), 2, frames), ASE_OK);
        EXPECT_FALSE(buffers.hasBuffer(false, 0));
        EXPECT_TRUE(buffers.hasBuffer(false, 1));

        // Host writes half 1 of output 1.
        const int32_t sent[frames] = {1 << 30, -(1 << 30), 100, 0};
        const float sentFloat[frames] = {0.5f, -0.5f, 0.25f, 0.0f};
        std::memcpy(infos[0].buffers[1], type == ASIOSTInt32LSB ? static_cast<const void*>(sent) : sentFloat,
                    sizeof sent);
        float port0[frames] = {9, 9, 9, 9};
        float port1[frames] = {};
        float* outPorts[] = {port0, port1};
        buffers.writeOutputs(outPorts, 1);
        for (int i = 0; i < frames; ++i) {
            EXPECT_EQ(port0[i], 0.0f);
            const float expected = type == ASIOSTInt32LSB ? float(sent[i]) / 2147483648.0f : sentFloat[i];
            EXPECT_EQ(port1[i], expected) << i;
        }

        const float captured[frames] = {0.5f, -1.0f, 2.0f, 0.0f};
        const float* inPorts[] = {captured};
        buffers.readInputs(inPorts, 0);
        const void* half0 = infos[1].buffers[0];
        if (type == ASIOSTInt32LSB) {
            const int32_t expected[frames] = {1 << 30, INT32_MIN, INT32_MAX, 0};
            EXPECT_EQ(std::memcmp(half0, expected, sizeof expected), 0);
        } else {
            EXPECT_EQ(std::memcmp(half0, captured, sizeof captured), 0);
        }
        // The other half stays as it was.
        const int32_t zeros[frames] = {};
        EXPECT_EQ(std::memcmp(infos[1].buffers[1], zeros, sizeof zeros), 0);

        buffers.clear();
        EXPECT_EQ(std::memcmp(half0, zeros, sizeof zeros), 0);
    }
}

}  // namespace
