// Whether one input of one run passed: a usable signal (unless silent
// inputs are allowed), no fault, and a hidden latency within the limit.
#pragma once

#include <string>
#include <vector>

#include "analysis/analysis_options.h"
#include "analysis/analysis_result.h"

namespace analyse {

// Sets `channel.passed` and `channel.failures`.
void judgeChannel(ChannelResult& channel, const AnalysisOptions& options);

// Keeps `reasons` as the run's harness flags and fails every input of the
// run with them: samples that look right cannot vouch for a run the
// harness saw go wrong.
void failFlaggedRun(RunResult& run, const std::vector<std::string>& reasons);

}  // namespace analyse

namespace analyse {

struct Verdict {
    int channelRuns = 0;  // inputs over all runs
    int failed = 0;
    int latencyOnly = 0;  // passed, but with faults their signal could not show
    bool passed() const { return failed == 0; }
};

Verdict overallVerdict(const std::vector<RunResult>& runs);

}  // namespace analyse
