// The readable report on standard output: per run a line per input with its
// level, round trip, hidden latency and result, its faults below it; then
// the round trips across runs and the verdict.
#pragma once

#include <ostream>
#include <vector>

#include "analysis/analysis_result.h"
#include "analysis/channel_verdict.h"
#include "analysis/cross_run_summary.h"

namespace analyse {

void printTable(std::ostream& out, const std::vector<RunResult>& runs, const std::vector<ChannelSummary>& summary,
                const ReadStatistics& read, const Verdict& verdict);

}  // namespace analyse
