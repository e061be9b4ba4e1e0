// Runs on the driver's real-time thread, once per buffer half.
//
// It must never allocate while a run stays within its reservation, take a
// lock, print, write a file or wait on anything: a late return is a glitch
// of the harness's own that would be blamed on the driver. Every buffer is
// zeroed and copied in blocks. The only call out is the driver's
// getSamplePosition(), as hosts commonly make it.
#include "stream/buffer_switch.h"

#include <algorithm>
#include <cstring>

#include "record/test_state.h"
#include "stream/run_accounts.h"

namespace {

// x times 2^31, truncated toward zero; full scale +1.0 and beyond saturate to
// INT32_MAX, below -1.0 to INT32_MIN, NaN records 0. Written as selects
// rather than branches (the conversion itself only ever sees a value it is
// defined for), so that the loop calling it vectorises.
inline int32_t floatSampleToRecorded(float x)
{
    const float scaled = x * 2147483648.0f;
    float inRange = scaled < -2147483648.0f ? -2147483648.0f : scaled;
    inRange = inRange > 2147483520.0f ? 2147483520.0f : inRange;  // the largest float below 2^31
    inRange = scaled == scaled ? inRange : 0.0f;
    const int32_t converted = static_cast<int32_t>(inRange);
    return scaled >= 2147483648.0f ? INT32_MAX : converted;
}

// Float input: every sample converted, and the extremes of the block
// folded into lowest / highest exactly as comparing sample by sample in
// order would (both compared for every sample; NaN moves neither).
void recordFloatInput(int32_t* room, const float* in, size_t frames, float& lowest, float& highest)
{
    // Independent running extremes per lane keep the loop free of a
    // serial dependence, so it vectorises; the lanes are folded after it.
    constexpr size_t lanes = 8;
    float high[lanes];
    float low[lanes];
    for (size_t k = 0; k < lanes; ++k) {
        high[k] = highest;
        low[k] = lowest;
    }
    size_t i = 0;
    for (; i + lanes <= frames; i += lanes) {
        for (size_t k = 0; k < lanes; ++k) {
            const float x = in[i + k];
            high[k] = x > high[k] ? x : high[k];
            low[k] = x < low[k] ? x : low[k];
            room[i + k] = floatSampleToRecorded(x);
        }
    }
    for (; i < frames; ++i) {
        const float x = in[i];
        high[0] = x > high[0] ? x : high[0];
        low[0] = x < low[0] ? x : low[0];
        room[i] = floatSampleToRecorded(x);
    }
    float blockHigh = high[0];
    float blockLow = low[0];
    for (size_t k = 1; k < lanes; ++k) {
        blockHigh = high[k] > blockHigh ? high[k] : blockHigh;
        blockLow = low[k] < blockLow ? low[k] : blockLow;
    }
    // A new extreme other than zero has one bit pattern, whichever lane
    // found it. A zero does not: +0 and -0 compare equal, and in order the
    // first of them wins, so that case is decided by walking the block.
    if (blockHigh > highest) {
        if (blockHigh != 0.0f) {
            highest = blockHigh;
        } else {
            for (size_t j = 0; j < frames; ++j) highest = in[j] > highest ? in[j] : highest;
        }
    }
    if (blockLow < lowest) {
        if (blockLow != 0.0f) {
            lowest = blockLow;
        } else {
            for (size_t j = 0; j < frames; ++j) lowest = in[j] < lowest ? in[j] : lowest;
        }
    }
}

// Where the signal stands at the start of a half and how the half divides
// into leading silence and signal samples.
struct HalfPlan {
    size_t silent;        // samples of lead-in at the start of the half
    size_t signalFrames;  // signal samples after them
    uint64_t startPos;    // signal position of the first of them
};

void writeSignal(uint8_t* dest, const uint8_t* signal, uint64_t length, size_t width, uint64_t pos,
                 size_t frames)
{
    while (frames > 0) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(frames, length - pos));
        std::memcpy(dest, signal + pos * width, chunk * width);
        dest += chunk * width;
        frames -= chunk;
        pos = 0;
    }
}

void recordSignal(int32_t* room, const void* signal, uint64_t length, bool sixteenBit, uint64_t pos, size_t frames)
{
    while (frames > 0) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(frames, length - pos));
        if (sixteenBit) {
            const int16_t* from = static_cast<const int16_t*>(signal) + pos;
            for (size_t i = 0; i < chunk; ++i) room[i] = from[i];
        } else {
            std::memcpy(room, static_cast<const uint32_t*>(signal) + pos, chunk * sizeof(int32_t));
        }
        room += chunk;
        frames -= chunk;
        pos = 0;
    }
}

void recordInput(int32_t* room, const void* src, size_t frames, int32_t sampleType, TestState& s)
{
    if (src == nullptr) {  // a driver that handed out no buffer: record silence
        std::memset(room, 0, frames * sizeof(int32_t));
        return;
    }
    if (sampleType == ASIOSTInt16LSB) {
        const int16_t* in = static_cast<const int16_t*>(src);
        for (size_t i = 0; i < frames; ++i) room[i] = in[i];
    } else if (sampleType == ASIOSTFloat32LSB) {
        recordFloatInput(room, static_cast<const float*>(src), frames, s.floatMinSeen, s.floatMaxSeen);
    } else {
        std::memcpy(room, src, frames * sizeof(int32_t));
    }
}

int64_t samplesValue(const ASIOSamples& samples)
{
    return static_cast<int64_t>((static_cast<uint64_t>(samples.hi) << 32) | samples.lo);
}

void processHalf(ASIOLong doubleBufferIndex, const ASIOTime* time)
{
    TestState& s = testState;
    s.callCount += 1;
    s.samplesProcessed += static_cast<uint64_t>(static_cast<int64_t>(s.bufferSize));

    if (!s.timeInfoMode.load(std::memory_order_relaxed) && s.currentDriver != nullptr) {
        ASIOSamples position;
        ASIOTimeStamp stamp;
        s.currentDriver->getSamplePosition(&position, &stamp);
    }
    // Only the time record's position is taken as the half's own: drivers
    // answer the query with the position at the moment it is asked.
    const bool positionKnown = time != nullptr && (time->timeInfo.flags & kSamplePositionValid) != 0;
    runAccounts.onCallback(positionKnown, positionKnown ? samplesValue(time->timeInfo.samplePosition) : 0);

    // A half index other than 0 or 1 names no buffer; a negative size
    // names no samples.
    if (s.bufferSize <= 0 || (doubleBufferIndex != 0 && doubleBufferIndex != 1)) return;
    const size_t frames = static_cast<size_t>(s.bufferSize);
    const int32_t sampleType = s.sampleType;
    const bool sixteenBit = sampleType == ASIOSTInt16LSB;
    const size_t width = sixteenBit ? 2 : 4;
    const int32_t outputs = usedOutputChannels();
    const int32_t inputs = usedInputChannels();

    if (outputs > 0) {
        const uint64_t length = s.signalBuffer ? s.signalLength : 0;
        HalfPlan plan{};
        plan.silent = static_cast<size_t>(std::min<uint64_t>(s.leadInRemaining, frames));
        // Without a signal the outputs stay silent rather than loop on nothing.
        plan.signalFrames = length > 0 ? frames - plan.silent : 0;
        plan.startPos = length > 0 ? s.signalPosition % length : 0;
        const size_t silentBytes = (frames - plan.signalFrames) * width;

        const uint8_t* signalBase = reinterpret_cast<const uint8_t*>(s.signalBuffer.get());
        for (int32_t c = 0; c < outputs; ++c) {
            // A coded signal gives each output its own; outputs past its
            // channels play silence rather than another output's code.
            const bool own = s.signalChannelBytes > 0;
            const bool coded = !own || c < s.signalChannels;
            const uint8_t* signal = own && coded ? signalBase + static_cast<size_t>(c) * s.signalChannelBytes
                                                  : signalBase;
            const uint64_t playing = coded ? length : 0;
            uint8_t* dest = static_cast<uint8_t*>(s.bufferInfos[static_cast<size_t>(c)].buffers[doubleBufferIndex]);
            if (dest != nullptr) {
                if (silentBytes > 0) std::memset(dest, 0, silentBytes);
                if (playing > 0) {
                    writeSignal(dest + silentBytes, signal, length, width, plan.startPos, plan.signalFrames);
                } else {
                    std::memset(dest + silentBytes, 0, plan.signalFrames * width);
                }
            }
            if (plan.signalFrames > 0) {
                int32_t* room = s.captures[static_cast<size_t>(c)].extend(plan.signalFrames);
                if (room != nullptr && playing > 0) {
                    recordSignal(room, signal, length, sixteenBit, plan.startPos, plan.signalFrames);
                } else if (room != nullptr) {
                    std::memset(room, 0, plan.signalFrames * sizeof(int32_t));
                }
            }
        }
        s.leadInRemaining -= plan.silent;
        if (length > 0) s.signalPosition = (plan.startPos + plan.signalFrames) % length;
    }

    for (int32_t k = 0; k < inputs; ++k) {
        const size_t j = static_cast<size_t>(outputs + k);
        int32_t* room = s.captures[j].extend(frames);
        if (room != nullptr) recordInput(room, s.bufferInfos[j].buffers[doubleBufferIndex], frames, sampleType, s);
    }
}

}  // namespace

void processBufferSwitch(ASIOLong doubleBufferIndex, ASIOBool /*directProcess*/)
{
    processHalf(doubleBufferIndex, nullptr);
}

void processTimedBufferSwitch(ASIOLong doubleBufferIndex, const ASIOTime& time)
{
    processHalf(doubleBufferIndex, &time);
}
