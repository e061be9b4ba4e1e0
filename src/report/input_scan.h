// The statistics of one input recording: where its first buffer that is
// not silent starts, its largest magnitude, and the peak of each
// one-second slice. Single passes over the samples, block by block, so the
// scans run at memory speed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "report/run_statistics.h"

// The magnitude of a sample; full-scale negative (-2147483648), which has
// no 32-bit magnitude, counts as full scale positive.
inline int32_t sampleMagnitude(int32_t value)
{
    const uint32_t bits = static_cast<uint32_t>(value);
    const uint32_t magnitude = value < 0 ? 0u - bits : bits;
    return static_cast<int32_t>(magnitude < 0x7FFFFFFFu ? magnitude : 0x7FFFFFFFu);
}

// First position of the first `bufferSize` block holding a nonzero sample;
// 0 when there is none (and for a bufferSize below 1, the first nonzero
// position itself).
int32_t initialZeroes(const int32_t* samples, size_t count, int32_t bufferSize);

// Fills maxAbs, maxAbsSample and the slices of `input` from the first
// `count` samples, in slices of `sliceLength` (at least 1) positions.
// Strictly greater wins, so the earliest position of a peak is kept.
void scanPeaks(const int32_t* samples, size_t count, int32_t sliceLength, InputStatistics& input);
