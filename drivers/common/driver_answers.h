// Answers both drivers give alike: text into the interface's fixed-size
// fields, rate comparison, a single clock source, and the sample position.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "driver/asio_interface.h"

// Cut to fit and always terminated.
void copyText(char* destination, size_t capacity, const char* text);

// Equal within a millionth of a hertz.
bool sameRate(double a, double b);

// A driver with one clock source, named `name`, that is always current.
ASIOError listSingleClock(ASIOClockSource* clocks, ASIOLong* numSources, const char* name);
ASIOError selectSingleClock(ASIOLong reference);

// The position and system time of the current half while streaming. Called
// from inside the buffer switch too: reads atomics only, never locks,
// allocates or waits.
ASIOError readSamplePosition(const std::atomic<bool>& streaming, const std::atomic<int64_t>& samplePosition,
                             const std::atomic<int64_t>& systemTimeNs, ASIOSamples* sPos, ASIOTimeStamp* tStamp);
