// The round trip of each input across runs: a driver whose latency changes
// from one start to the next is hard to see in any single run.
#pragma once

#include <string>
#include <vector>

#include "analysis/analysis_result.h"

namespace analyse {

struct ChannelSummary {
    int column = 0;
    std::string label;
    int runs = 0;          // runs in which the input gave a round trip
    int unusableRuns = 0;  // runs in which it gave none
    double minRoundTrip = 0.0;
    double maxRoundTrip = 0.0;
    std::vector<double> distinct;  // round trips that differ, to 1/100 sample, ascending
    int passedRuns = 0;
    int failedRuns = 0;

    bool consistent() const { return distinct.size() <= 1; }
};

std::vector<ChannelSummary> summariseRuns(const std::vector<RunResult>& runs);

}  // namespace analyse
