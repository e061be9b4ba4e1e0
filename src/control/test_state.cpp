#include "control/test_state.h"

#include <algorithm>

#include "control/sample_memory.h"

TestState testState;

void SignalDeleter::operator()(uint32_t* block) const { releaseSampleMemory(block); }

int32_t usedOutputChannels()
{
    return std::clamp(testState.outputChannelCount, int32_t{0}, maxChannelsPerDirection);
}

int32_t usedInputChannels()
{
    const int32_t inputs = std::clamp(testState.inputChannelCount, int32_t{0}, maxChannelsPerDirection);
    return std::min(inputs, maxChannels - usedOutputChannels());
}
