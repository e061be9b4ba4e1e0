// What leaks from one output into an input it is not routed to: the other
// output's samples, scaled by a fixed gain, added to the input's, clipped to
// the format's range. Codes the device cannot process take no leak.
#pragma once

#include <cstdint>

#include "sample_codec.h"

class Crosstalk {
public:
    // levelDb below 0 sets the leak's level; 0 or above turns it off.
    void configure(int32_t sampleType, double levelDb);
    bool active() const { return gain_ > 0.0 && format_.kind != sample_codec::Kind::none; }
    // Real-time path: no allocation, no locks, no I/O.
    void addScaled(uint8_t* destination, const uint8_t* source, int32_t count) const;

private:
    sample_codec::Format format_;
    double gain_ = 0.0;
};
