// What the analysis of one run found in its input recordings, handed from
// the analysis to the report writers.
#pragma once

#include <cstdint>
#include <vector>

struct InputStatistics {
    int32_t maxAbs = 0;         // largest magnitude among the analysed positions
    int32_t maxAbsSample = 0;   // first position holding it (0 when it is 0)
    int32_t initialZeroes = 0;  // first position of the first buffer that is not silent
    // One entry per one-second slice: its largest magnitude and the first
    // position holding it (the slice's first position when all is silent).
    std::vector<int32_t> secondPeaks;
    std::vector<int32_t> secondPeakSamples;
};

struct RunStatistics {
    // Recording index of the first input: the number of outputs. Inputs are
    // numbered from here in every report.
    int32_t firstInput = 0;
    // Rows of the dump table: the length of recording 0 when the analysis began.
    int32_t positionCount = 0;
    std::vector<InputStatistics> inputs;  // in recording order
};
