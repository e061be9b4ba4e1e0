// Where a looped sine starts, to a fraction of a sample: from the phase of
// the best-fitting sine at the known frequency, the period's ambiguity
// settled by where the sine first becomes audible.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/sine_fit.h"

namespace analyse {

struct SineMeasurement {
    bool found = false;
    std::string why;       // when not found
    double onset = 0.0;    // table position of the sine's phase 0
    bool inverted = false; // it starts going down
    bool startLost = false; // first heard well after its start: the onset is known modulo the period
    SineFit fit;
    double snrDb = 0.0;
    // One loop of the expected signal from the onset's whole sample on.
    std::vector<double> loop;
};

// `frequency` in Hz as the harness was given it (its sine's phase grows by
// frequency x 6.283185308 per second); `loopLength` samples per loop.
SineMeasurement measureSine(const int32_t* samples, int64_t count, int64_t peak, double frequency, double rate,
                            int64_t loopLength);

// Radians per sample of the harness's sine.
double sineStep(double frequency, double rate);

}  // namespace analyse
