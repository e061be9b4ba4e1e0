#include "report/input_scan.h"

#include <algorithm>

namespace {

// Long enough for the vector units, short enough that looking for the
// position inside a block that raised the peak costs little.
constexpr size_t scanBlock = 256;

int32_t blockMagnitude(const int32_t* samples, size_t count)
{
    int32_t peak = 0;
    for (size_t i = 0; i < count; ++i) peak = std::max(peak, sampleMagnitude(samples[i]));
    return peak;
}

size_t firstWithMagnitude(const int32_t* samples, size_t count, int32_t magnitude)
{
    size_t i = 0;
    while (i < count && sampleMagnitude(samples[i]) != magnitude) ++i;
    return i;
}

}  // namespace

int32_t initialZeroes(const int32_t* samples, size_t count, int32_t bufferSize)
{
    for (size_t start = 0; start < count; start += scanBlock) {
        const size_t end = std::min(count, start + scanBlock);
        uint32_t any = 0;
        for (size_t i = start; i < end; ++i) any |= static_cast<uint32_t>(samples[i]);
        if (any == 0) continue;
        size_t first = start;
        while (samples[first] == 0) ++first;
        const size_t block = bufferSize > 0 ? static_cast<size_t>(bufferSize) : 1;
        return static_cast<int32_t>(first / block * block);
    }
    return 0;
}

void scanPeaks(const int32_t* samples, size_t count, int32_t sliceLength, InputStatistics& input)
{
    const size_t slice = sliceLength > 0 ? static_cast<size_t>(sliceLength) : 1;
    input.maxAbs = 0;
    input.maxAbsSample = 0;
    input.secondPeaks.clear();
    input.secondPeakSamples.clear();
    input.secondPeaks.reserve(count / slice + 1);
    input.secondPeakSamples.reserve(count / slice + 1);

    for (size_t sliceStart = 0; sliceStart < count; sliceStart += slice) {
        const size_t sliceEnd = sliceStart + std::min(slice, count - sliceStart);
        int32_t peak = 0;
        size_t peakAt = sliceStart;
        for (size_t start = sliceStart; start < sliceEnd; start += scanBlock) {
            const size_t length = std::min(scanBlock, sliceEnd - start);
            const int32_t blockPeak = blockMagnitude(samples + start, length);
            if (blockPeak > peak) {
                peak = blockPeak;
                peakAt = start + firstWithMagnitude(samples + start, length, blockPeak);
            }
        }
        input.secondPeaks.push_back(peak);
        input.secondPeakSamples.push_back(static_cast<int32_t>(peakAt));
        if (peak > input.maxAbs) {
            input.maxAbs = peak;
            input.maxAbsSample = static_cast<int32_t>(peakAt);
        }
    }
}
