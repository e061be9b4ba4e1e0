#include "stream/lost_samples.h"

#include "record/console.h"
#include "record/test_state.h"

void reportLostSamples()
{
    const int32_t channels = usedOutputChannels() + usedInputChannels();
    for (int32_t c = 0; c < channels; ++c) {
        const uint64_t lost = testState.captures[static_cast<size_t>(c)].lostSamples();
        if (lost > 0)
            console::warning("channel ", c, " lost ", lost, " samples: its recording could not grow beyond ",
                             testState.captures[static_cast<size_t>(c)].size(), " samples");
    }
}
