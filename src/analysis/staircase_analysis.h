// The staircase checks: where the looped staircase starts, read from the
// values themselves, and a bit-exact comparison from there to the end that
// names each fault and its position.
#pragma once

#include <cstdint>

#include "analysis/fault_list.h"
#include "analysis/staircase_model.h"

namespace analyse {

// Finds the staircase in samples[0..count): its polarity and constant
// offset (`model.sign`, `model.offset`; `model.bits` and `model.length`
// are given) and the position of its index 0 (`onset`, which lies before
// the first sample when the recording starts inside the staircase). False
// when no stretch of the samples follows a staircase.
bool locateStaircase(const int32_t* samples, int64_t count, StaircaseModel& model, int64_t& onset);

struct StaircaseCheck {
    int64_t checked = 0;  // samples compared
    bool exact = false;   // every one of them as sent
};

// Compares samples[max(onset, 0)..count) with the staircase and adds every
// departure to `faults`: inverted polarity and a constant offset once for
// the whole signal, then dropouts, corrupted values, and samples dropped
// from or inserted into the stream, each where it happens.
StaircaseCheck checkStaircase(const int32_t* samples, int64_t count, const StaircaseModel& model, int64_t onset,
                              FaultList& faults);

}  // namespace analyse
