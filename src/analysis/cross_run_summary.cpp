#include "analysis/cross_run_summary.h"

#include <algorithm>
#include <cmath>

namespace analyse {

std::vector<ChannelSummary> summariseRuns(const std::vector<RunResult>& runs)
{
    std::vector<ChannelSummary> summary;
    for (const RunResult& run : runs) {
        for (const ChannelResult& ch : run.channels) {
            if (static_cast<size_t>(ch.column) >= summary.size()) summary.resize(static_cast<size_t>(ch.column) + 1);
            ChannelSummary& s = summary[static_cast<size_t>(ch.column)];
            s.column = ch.column;
            if (s.label.empty()) s.label = ch.label;
            (ch.passed ? s.passedRuns : s.failedRuns) += 1;
            if (!ch.roundTripKnown) {
                ++s.unusableRuns;
                continue;
            }
            // Sub-sample measurements differ in their last digits from run to
            // run; a hundredth of a sample is far below any real change.
            const double rounded = std::round(ch.roundTrip * 100.0) / 100.0;
            if (s.runs == 0) {
                s.minRoundTrip = s.maxRoundTrip = rounded;
            } else {
                s.minRoundTrip = std::min(s.minRoundTrip, rounded);
                s.maxRoundTrip = std::max(s.maxRoundTrip, rounded);
            }
            ++s.runs;
            if (std::find(s.distinct.begin(), s.distinct.end(), rounded) == s.distinct.end()) s.distinct.push_back(rounded);
        }
    }
    for (ChannelSummary& s : summary) std::sort(s.distinct.begin(), s.distinct.end());
    return summary;
}

}  // namespace analyse
