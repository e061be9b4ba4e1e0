// The sample side of the virtual device: the buffer halves handed to the
// host, and the loop that brings each output back on an input after the
// round-trip delay: the input of the same number unless it is misrouted,
// bit for bit or through a model of an analog cable loop. No thread of its
// own: the audio clock calls beginHalf before the host's buffer switch and
// endHalf after it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "analog_path.h"
#include "crosstalk.h"
#include "delay_line.h"
#include "driver/asio_interface.h"
#include "input_noise.h"
#include "loopback_settings.h"

struct LoopbackFormat {
    int32_t sampleType = 18;
    int32_t outputs = 0;  // channel counts the device has
    int32_t inputs = 0;
    int32_t roundTrip = 0;  // samples from output to input, before the causal minimum
    int32_t dropEvery = 0;
    int32_t noiseLsb = 0;
    // Misrouting: the output each input hears (-1: none; inputs past the
    // list hear their own number), inputs that hear nothing at all, and
    // the level every other output leaks in at (0: none). When
    // routingAtBufferSize is above 0 they apply at that size only.
    std::vector<int32_t> inputSources;
    std::vector<int32_t> deadInputs;
    double crosstalkDb = 0.0;
    int32_t routingAtBufferSize = 0;
    // With any of it set, the inputs take the analog path at this rate.
    AnalogLoopSettings analog;
    double sampleRate = 48000.0;
};

class LoopbackEngine {
public:
    // Checks the host's requests, allocates two halves per entry and writes
    // them into infos. On failure nothing is kept and infos are untouched:
    // ASE_InvalidParameter for a channel that does not exist or is asked
    // for twice, ASE_InvalidMode for a size below 1, ASE_NoMemory.
    ASIOError create(const LoopbackFormat& format, ASIOBufferInfo* infos, int32_t count, int32_t bufferSize);
    void release();
    bool created() const { return bufferSize_ > 0; }
    bool hasBuffer(bool isInput, int32_t channel) const;
    int32_t bufferSize() const { return bufferSize_; }
    // The delay actually used: the round trip, or one half when the round
    // trip is shorter than that; on the analog loop, at least one half plus
    // the interpolator's reach (not counting its fraction).
    int32_t delay() const { return delay_; }

    // A new stream: silence in the loop, half counting from the start.
    void restart();
    // Not while streaming: the analog loop's filters follow a new rate.
    void setRate(double rate) { analog_.setRate(rate); }
    // Fills the input halves of index with what the outputs were given one
    // delay earlier (zeros for a dropout, noise on top).
    void beginHalf(int32_t index);
    // Takes what the host wrote into the output halves of index.
    void endHalf(int32_t index);

private:
    struct Entry {
        bool isInput = false;
        int32_t channel = 0;
        uint8_t* halves[2] = {nullptr, nullptr};
        int32_t analogIndex = -1;  // an input's state in the analog path
    };
    // An output's delay line slot, and an input that hears that slot.
    struct Slot {
        const Entry* output;
        int32_t slot;
    };
    struct Route {
        const Entry* input;
        int32_t slot;
    };

    void buildRoutes(const LoopbackFormat& format, int32_t bufferSize);

    size_t halfBytes() const { return static_cast<size_t>(bufferSize_) * static_cast<size_t>(width_); }

    std::unique_ptr<uint8_t[]> memory_;
    std::vector<Entry> entries_;
    std::vector<Slot> slots_;
    std::vector<Route> routes_;
    std::vector<Route> leaks_;
    std::unique_ptr<uint8_t[]> scratch_;  // one half, for a leak on its way in
    DelayLine line_;
    InputNoise noise_;
    Crosstalk crosstalk_;
    AnalogPath analog_;
    int32_t bufferSize_ = 0;
    int32_t width_ = 4;
    int32_t delay_ = 0;
    int32_t dropEvery_ = 0;
    int64_t halvesDone_ = 0;
};
