// Recordings of the harness's own signals as an analog cable loop returns
// them, with the delay, level, noise and faults known exactly.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "synthetic_dump.h"

namespace analog {

enum class Signal { sine, pulse, staircase };

enum class GlitchKind { drop, insert, click, dropout };

// A fault cut into the recording after the loop: `at` is a position of the
// recording as it would have been without the faults before it.
struct Glitch {
    GlitchKind kind = GlitchKind::drop;
    int64_t at = 0;
    int64_t length = 1;          // samples dropped, inserted or zeroed
    double clickDbfs = -40.0;    // a click's height
};

struct Loop {
    Signal signal = Signal::sine;
    double rate = 48000.0;
    double frequency = 997.0;  // the sine's
    int64_t rows = 48000;
    int32_t inputLatency = 288;
    int32_t outputLatency = 320;
    // Delay of the loop beyond the reported latencies, in samples; any fraction.
    double extraDelay = 37.0;
    double gainDb = 0.0;
    // Noise power below the signal's: the sine's power, or for pulse and
    // staircase the power of a full-scale sine at the same gain.
    double snrDb = std::numeric_limits<double>::infinity();
    double dc = 0.0;          // share of full scale
    double highPassHz = 0.0;  // 0: none; first order
    double lowPassHz = 0.0;   // 0: none; second-order Butterworth
    double ppm = 0.0;         // the recording's clock runs this much faster than the playback's
    int bits = 32;
    uint32_t seed = 1;
    std::vector<Glitch> glitches;  // in ascending order of `at`
};

// The samples the harness plays from the first frame of the stream on:
// the lead-in's silence, then its one-second loop, over and over.
std::vector<double> played(const Loop& loop, int64_t frames);

// The recording: the played samples reconstructed band-limited (windowed
// sinc), read `leadIn + extraDelay` later on the recording's clock, filtered,
// scaled, offset, with noise, quantised to `bits`, then damaged.
synthetic::Samples record(const Loop& loop);

// Where the looped signal starts in the recording, in samples (before any
// glitch shifts it): the lead-in plus the extra delay.
double onset(const Loop& loop);

// A dump with the recording on every one of `inputs` columns, each with its
// own noise.
synthetic::Run run(const Loop& loop, int inputs = 1);

}  // namespace analog
