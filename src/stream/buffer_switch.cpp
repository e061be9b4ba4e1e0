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

#include "control/test_state.h"

namespace {

int32_t floatSampleToRecorded(float x)
{
    const float scaled = x * 2147483648.0f;
    if (scaled >= 2147483648.0f) return INT32_MAX;   // full scale +1.0 and beyond
    if (scaled < -2147483648.0f) return INT32_MIN;
    if (scaled != scaled) return 0;                  // NaN carries no value
    return static_cast<int32_t>(scaled);
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
        const float* in = static_cast<const float*>(src);
        float lowest = s.floatMinSeen;
        float highest = s.floatMaxSeen;
        for (size_t i = 0; i < frames; ++i) {
            const float x = in[i];
            // Both extremes are compared for every sample; NaN moves neither.
            highest = x > highest ? x : highest;
            lowest = x < lowest ? x : lowest;
            room[i] = floatSampleToRecorded(x);
        }
        s.floatMinSeen = lowest;
        s.floatMaxSeen = highest;
    } else {
        std::memcpy(room, src, frames * sizeof(int32_t));
    }
}

}  // namespace

void processBufferSwitch(ASIOLong doubleBufferIndex, ASIOBool /*directProcess*/)
{
    TestState& s = testState;
    s.callCount += 1;
    s.samplesProcessed += static_cast<uint64_t>(static_cast<int64_t>(s.bufferSize));

    if (!s.timeInfoMode.load(std::memory_order_relaxed) && s.currentDriver != nullptr) {
        ASIOSamples position;
        ASIOTimeStamp stamp;
        s.currentDriver->getSamplePosition(&position, &stamp);
    }

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

        const uint8_t* signal = reinterpret_cast<const uint8_t*>(s.signalBuffer.get());
        for (int32_t c = 0; c < outputs; ++c) {
            uint8_t* dest = static_cast<uint8_t*>(s.bufferInfos[static_cast<size_t>(c)].buffers[doubleBufferIndex]);
            if (dest != nullptr) {
                std::memset(dest, 0, silentBytes);
                writeSignal(dest + silentBytes, signal, length, width, plan.startPos, plan.signalFrames);
            }
            if (plan.signalFrames > 0) {
                int32_t* room = s.captures[static_cast<size_t>(c)].extend(plan.signalFrames);
                if (room != nullptr) recordSignal(room, signal, length, sixteenBit, plan.startPos, plan.signalFrames);
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
