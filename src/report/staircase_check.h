// Checks on the console that what every output sent followed the looping
// staircase: the first ten values of each output, a line per deviation and
// a summary per output.
#pragma once

#include <cstdint>

// The step the staircase holds at `position`: (position mod signalLength)
// x 100, and in the 16-bit format (`sampleType` 16) the low 16 bits of it
// as a signed 16-bit value, which is what that format can send.
int64_t staircaseStep(uint64_t position, uint64_t signalLength, int32_t sampleType);

// Output recordings 0 .. outputs-1 of testState.
void checkStaircase(int32_t outputs);
