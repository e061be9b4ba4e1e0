// The host's side of the bridge: two halves per streamed channel, and the
// copies between those halves and JACK's port buffers. Set up and released
// on the host's thread while nothing streams; the copies run on JACK's
// process thread and must never allocate, lock, wait or do I/O.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "driver/asio_interface.h"

class BridgeBuffers {
public:
    // Checks the host's request against the port counts, makes zeroed
    // halves of `frames` samples for every channel asked for and writes
    // their addresses into `infos`. Codes as createBuffers answers them.
    ASIOError create(ASIOSampleType sampleType, int32_t outputs, int32_t inputs, ASIOBufferInfo* infos,
                     int32_t count, int32_t frames);
    void release();
    // Silence in every half, as at the start of a stream.
    void clear();

    bool created() const { return frames_ > 0; }
    int32_t frames() const { return frames_; }
    bool hasBuffer(bool isInput, int32_t channel) const;

    // Real-time. ports[k] is input port k's buffer of frames() samples.
    void readInputs(const float* const* ports, int32_t half);
    // Real-time. Fills every output port: streamed channels from their
    // half, the others with silence.
    void writeOutputs(float* const* ports, int32_t half) const;

private:
    using Halves = std::array<void*, 2>;

    ASIOSampleType sampleType_ = ASIOSTInt32LSB;
    int32_t frames_ = 0;
    std::vector<uint32_t> storage_;
    std::vector<Halves> outputHalves_;  // per output port; null when not streamed
    std::vector<Halves> inputHalves_;   // per input port
};
