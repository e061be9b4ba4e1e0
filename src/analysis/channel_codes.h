// How each output names itself in a channel-coded signal: the staircase
// rotated by an offset of its own, or a tone of its own frequency.
#pragma once

#include <cstdint>

namespace analyse {

// The most outputs a coded signal tells apart.
constexpr int maxCodedOutputs = 32;

// Loop positions between neighbouring outputs' staircases. Output c's
// staircase starts at c times this. It spreads the 32 starts over the loop
// and, for the 16-bit staircase whose low 16 bits wrap every 655.36 steps,
// over 1/32-steps of that wrap too, so that no two outputs look alike at
// either width.
int64_t staircaseCodeSpacing(int64_t length);
inline int64_t staircaseCodeOffset(int output, int64_t length) { return output * staircaseCodeSpacing(length); }

// The staircase's value at loop position k, at the recording's width.
int32_t staircaseStepValue(int64_t k, int bits);

// Tones: output c plays toneCodeFirstHz + c * toneCodeSpacingHz. All of them
// lie below twice the lowest, so none is a harmonic of another, and all are
// multiples of toneCodeGridHz, so a window of rate / toneCodeGridHz samples
// holds a whole number of periods of every one: measured over it the tones
// do not leak into each other's bins.
constexpr double toneCodeFirstHz = 1000.0;
constexpr double toneCodeSpacingHz = 30.0;
constexpr double toneCodeGridHz = 10.0;
// Each tone's amplitude, as a share of full scale: the loudest sum that a
// mixed input carries (every other output leaking in) stays clear of clipping.
constexpr double toneCodeAmplitude = 0.5;

inline double toneCodeHz(int output) { return toneCodeFirstHz + toneCodeSpacingHz * output; }

}  // namespace analyse
