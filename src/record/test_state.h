// The one process-wide record of a test.
//
// The driver calls back through plain functions without a context pointer,
// so the callbacks reach this record as a global. Two threads share it: the
// main thread writes the configuration, the signal, the reset counters and
// the reservations before it starts the driver, and reads what the audio
// thread wrote only after the driver's stop() has returned; that ordering is
// what makes the plain fields safe. The few fields that driver messages may
// write while another thread reads them are atomics (relaxed is enough: no
// other data is published through them).
#pragma once

#include <array>
#include <atomic>
#include <cfloat>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "record/sample_recording.h"
#include "driver/asio_interface.h"

constexpr int32_t maxChannelsPerDirection = 32;
constexpr int32_t maxChannels = 64;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// The test signal: 32-bit elements (or 16-bit samples packed into the first
// half in the 16-bit format), from the sample allocator.
struct SignalDeleter {
    void operator()(uint32_t* block) const;
};
using SignalBuffer = std::unique_ptr<uint32_t[], SignalDeleter>;

struct TestState {
    // Test parameters, set by the dialogue.
    int32_t runDurationMs = 1000;
    double toneFrequencyHz = 220.0;
    bool pulseMode = false;
    bool staircaseMode = false;
    // Set by --coded: each output plays its own channel code in place of
    // the one signal every output plays otherwise.
    bool codedSignal = false;
    double sampleRate = 48000.0;
    FileHandle resultsFile;

    // Driver.
    std::vector<std::string> driverNames;
    IASIO* currentDriver = nullptr;
    int32_t deviceIndex = 0;
    ASIODriverInfo driverInfo{};
    bool controlPanelShown = false;

    // Stream configuration, rewritten by every stream setup.
    int32_t reportedOutputChannels = 0;
    int32_t outputChannelCount = 0;
    int32_t inputChannelCount = 0;
    int32_t sampleType = 0;
    int32_t minBufferSize = 0;
    int32_t preferredBufferSize = 0;
    int32_t bufferGranularity = 0;
    int32_t bufferSize = 0;
    std::atomic<int32_t> inputLatency{0};
    std::atomic<int32_t> outputLatency{0};
    std::atomic<bool> timeInfoMode{false};
    std::array<ASIOBufferInfo, maxChannels> bufferInfos{};
    ASIOCallbacks callbacks{};

    // Test signal, made anew in every run.
    uint64_t signalLength = 0;
    SignalBuffer signalBuffer;
    // A channel-coded signal holds one signal per output, each this many
    // bytes after the one before; 0: every output plays the first.
    uint64_t signalChannelBytes = 0;
    int32_t signalChannels = 1;

    // Run counters.
    uint64_t callCount = 0;
    uint64_t samplesProcessed = 0;
    uint64_t signalPosition = 0;
    uint64_t leadInRemaining = 0;

    // Range of float input samples over the whole test. The maximum starts
    // at the lowest finite float so that it only ever shows a value seen.
    float floatMinSeen = FLT_MAX;
    float floatMaxSeen = -FLT_MAX;

    // Recordings: outputs first, inputs directly after them.
    std::array<SampleRecording, maxChannels> captures;
};

extern TestState testState;

// Puts the record back to the values a process starts with, recordings
// emptied and their storage given back (for tests and fuzzing, which run
// many tests in one process).
void resetTestState();

// Channels in use, bounded by the recordings that exist: every loop over
// channels goes through this, so no count a driver reports can walk past
// the 64 recordings.
int32_t usedOutputChannels();
int32_t usedInputChannels();
