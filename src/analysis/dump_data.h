// One sample dump as the harness writes it: the latencies the driver
// reported, the per-input entries of the maxima line, and the table of
// input samples, one column per input.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace analyse {

// One "Max Abs ...(sample ..., Initial zeroes ..., total samples ...)" entry.
struct MaximaEntry {
    int32_t maxAbs = 0;
    int32_t maxAbsSample = 0;
    int32_t initialZeroes = 0;
    int32_t totalSamples = 0;
};

struct DumpData {
    std::string path;
    int32_t runNumber = -1;  // from the file name; -1 when it names no run
    int32_t inputLatency = 0;
    int32_t outputLatency = 0;
    std::vector<MaximaEntry> maxima;
    // One column per input, in the dump's column order. A column can be
    // shorter than the table when its recording stopped early (empty cells).
    std::vector<std::vector<int32_t>> columns;
    int64_t rows = 0;
    uint64_t bytes = 0;  // size of the file read

    // The harness sends this much silence before the signal: the two
    // reported latencies together, none when they add up to less than 0.
    int64_t leadIn() const
    {
        const int64_t sum = int64_t{inputLatency} + int64_t{outputLatency};
        return sum > 0 ? sum : 0;
    }
};

}  // namespace analyse
