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
    // A high tone whose start fits several onsets a period apart about as
    // well: all of them, the chosen one among them.
    std::vector<double> candidates;
    // Samples after a start between two samples that a converter's band
    // limit may leave ringing: a high tone's ring lasts longer.
    int64_t ringing = 8;
    SineFit fit;
    double snrDb = 0.0;
    // How far the apparent onset moves per recorded sample: the recording's
    // clock against the playback's, as a share (ppm x 1e-6 / (1 + ppm x 1e-6)).
    double drift = 0.0;
    bool driftMeasured = false;  // the sine was followed long enough to tell
    double timedSeconds = 0.0;   // how long the phase was followed without a slip
    bool pastFirstLoop = false;  // and it was followed past the first loop's end
    // The expected signal for the glitch search, with the anchor to give it:
    // one loop from the onset's whole sample on or, where the clocks differ,
    // the whole recording with room for slips on either side.
    std::vector<double> loop;
    int64_t loopAnchor = 0;

    double driftPpm() const { return drift / (1.0 - drift) * 1e6; }
};

// `frequency` in Hz as the harness was given it (its sine's phase grows by
// frequency x 6.283185308 per second), or as measured on the recording when
// `frequencyEstimated`; `loopLength` samples per loop; `maxSlip` the largest
// slip the glitch search will look for.
SineMeasurement measureSine(const int32_t* samples, int64_t count, int64_t peak, double frequency,
                            bool frequencyEstimated, double rate, int64_t loopLength, int64_t maxSlip);

// Radians per sample of the harness's sine.
double sineStep(double frequency, double rate);

}  // namespace analyse
