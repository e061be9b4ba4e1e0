#include "report/staircase_check.h"

#include "record/console.h"
#include "record/test_state.h"

namespace {

// The step at `index` within one second of signal.
int64_t stepAt(uint64_t index, int32_t sampleType)
{
    const int64_t step = static_cast<int64_t>(index * 100);
    if (sampleType == ASIOSTInt16LSB) return static_cast<int16_t>(static_cast<uint16_t>(step));
    return step;
}

void checkOutput(int32_t channel, const SampleRecording& recording, uint64_t signalLength, int32_t sampleType)
{
    console::line("Channel ", channel);
    uint64_t mismatches = 0;
    const uint64_t length = recording.size();
    const int32_t* samples = recording.data();
    // The expected step advances with the position and wraps with the
    // signal, so no division is needed per sample.
    uint64_t index = 0;
    for (uint64_t p = 0; p < length; ++p) {
        const int32_t got = samples[p];
        if (p < 10) console::text(got, ",");
        const int64_t expected = stepAt(index, sampleType);
        if (static_cast<int64_t>(got) != expected) {
            console::line("Mismatch at ", p, ". Got back ", got, " was expecting ", expected);
            ++mismatches;
        }
        if (++index == signalLength) index = 0;
    }
    console::line("");
    console::line("Channel ", channel, " had ", mismatches, " mismatches out of ", length, " Data samples");
}

}  // namespace

int64_t staircaseStep(uint64_t position, uint64_t signalLength, int32_t sampleType)
{
    return stepAt(signalLength != 0 ? position % signalLength : position, sampleType);
}

void checkStaircase(int32_t outputs)
{
    const TestState& s = testState;
    for (int32_t r = 0; r < outputs && r < maxChannels; ++r)
        checkOutput(r, s.captures[static_cast<size_t>(r)], s.signalLength, s.sampleType);
}
