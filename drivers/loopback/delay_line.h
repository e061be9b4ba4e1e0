// A fixed delay of raw samples for a number of channels: what is written at
// stream position t is read back at position t + delay. Samples are moved as
// bytes, so every format passes unchanged.
//
// Each buffer half first reads the delayed samples for its positions, then
// writes the new ones into the same slots, then advances. That needs the
// delay to be at least one half long, which a causal round trip is anyway.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class DelayLine {
public:
    // Allocates silence for channels x delay samples; false when the memory
    // is not there (or the size does not fit in memory at all).
    bool allocate(int32_t channels, int32_t delay, int32_t sampleWidth);
    void release();
    // Back to silence at position 0, keeping the memory.
    void clear();

    // count must not exceed the delay.
    void read(int32_t channel, uint8_t* destination, int32_t count) const;
    void write(int32_t channel, const uint8_t* source, int32_t count);
    void advance(int32_t count);

private:
    uint8_t* channelStart(int32_t channel) const;

    std::unique_ptr<uint8_t[]> samples_;
    size_t channels_ = 0;
    size_t delay_ = 0;
    size_t width_ = 0;
    size_t position_ = 0;
};
