// What the callbacks of a probe stream say about the driver's clock: the
// rate it really runs at, the spacing of the callbacks, and whether the
// sample positions it reports keep up with the frames it delivered.
#pragma once

#include <cstdint>

#include "probe/probe_report.h"

// Marks a callback for which the driver reported no sample position.
constexpr int64_t unknownPosition = INT64_MIN;

// Fills the rate, interval and lateness fields of `stream` from the times
// (nanoseconds of a monotonic clock) of `count` consecutive callbacks.
// The rate comes from the period of a straight line fitted through the
// callback times, so neither the start-up of the stream nor a callback the
// machine delayed weighs much. A callback is late when it comes more than
// half a period after its due time: the first one's time plus whole periods
// at the nominal rate. Without a nominal rate (0) nothing is late and ppm
// stays 0.
void analyseCallbackTimes(const int64_t* timesNs, int64_t count, double nominalRate, int32_t bufferSize,
                          ProbeStream& stream);

// Fills the position fields of `stream` from the positions reported with
// `count` consecutive callbacks (unknownPosition where none was): the
// advance from the first reported position to the last against the frames
// of the callbacks between them.
void analysePositions(const int64_t* positions, int64_t count, int32_t bufferSize, ProbeStream& stream);
