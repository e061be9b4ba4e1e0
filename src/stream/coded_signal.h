// The channel-coded test signal: every output plays one second of its own
// signal, which names it to whichever input hears it.
#pragma once

#include <cstdint>

// Whether the code for `sampleType` is the staircase's (else the tones'):
// where testState.staircaseMode asks for it and the format carries the
// staircase bit for bit, which the float format does not.
bool staircaseCoded(int32_t sampleType);

// Builds testState.signalBuffer with one signal per output, `outputs` of
// them (at most 32), and sets testState.signalChannelBytes: the staircase
// rotated to each output's own start when staircaseCoded(), else a tone of
// each output's own frequency. False, with one line naming
// the bytes asked for, when the buffer cannot be allocated.
bool generateCodedSignal(int32_t outputs);
