#include "record/test_state.h"

#include <algorithm>

#include "driver/current_driver.h"
#include "record/sample_memory.h"

TestState testState;

IASIO*& currentDriverSlot() { return testState.currentDriver; }

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

void resetTestState()
{
    TestState& s = testState;
    s.runDurationMs = 1000;
    s.toneFrequencyHz = 220.0;
    s.pulseMode = false;
    s.staircaseMode = false;
    s.codedSignal = false;
    s.sampleRate = 48000.0;
    s.resultsFile.reset();
    s.driverNames.clear();
    s.currentDriver = nullptr;
    s.deviceIndex = 0;
    s.driverInfo = ASIODriverInfo{};
    s.controlPanelShown = false;
    s.reportedOutputChannels = 0;
    s.outputChannelCount = 0;
    s.inputChannelCount = 0;
    s.sampleType = 0;
    s.minBufferSize = 0;
    s.preferredBufferSize = 0;
    s.bufferGranularity = 0;
    s.bufferSize = 0;
    s.inputLatency = 0;
    s.outputLatency = 0;
    s.timeInfoMode = false;
    s.bufferInfos.fill(ASIOBufferInfo{});
    s.callbacks = ASIOCallbacks{};
    s.signalLength = 0;
    s.signalBuffer.reset();
    s.signalChannelBytes = 0;
    s.signalChannels = 1;
    s.callCount = 0;
    s.samplesProcessed = 0;
    s.signalPosition = 0;
    s.leadInRemaining = 0;
    s.floatMinSeen = FLT_MAX;
    s.floatMaxSeen = -FLT_MAX;
    for (auto& c : s.captures) c.release();
}
