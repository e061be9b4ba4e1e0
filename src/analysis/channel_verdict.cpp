#include "analysis/channel_verdict.h"

#include <cmath>
#include <string>

namespace analyse {

void judgeChannel(ChannelResult& channel, const AnalysisOptions& options)
{
    channel.failures.clear();
    if (channel.status != ChannelStatus::usable) {
        if (!options.allowSilent) channel.failures.push_back("no usable signal (" + channel.note + ")");
        channel.passed = channel.failures.empty();
        return;
    }
    for (int k = 0; k < faultKindCount; ++k) {
        const FaultKind kind = static_cast<FaultKind>(k);
        const int64_t n = channel.faults.count(kind);
        if (n > 0)
            channel.failures.push_back(std::to_string(n) + " " + faultKindName(kind) + (n == 1 ? " fault" : " faults"));
    }
    if (!channel.doubt.empty()) channel.failures.push_back(channel.doubt);
    if (options.maxExtraLatency && channel.roundTripKnown && std::fabs(channel.hiddenLatency) > static_cast<double>(*options.maxExtraLatency) + 1e-9) {
        channel.failures.push_back("hidden latency " + std::to_string(std::llround(channel.hiddenLatency)) +
                                   " beyond " + std::to_string(*options.maxExtraLatency) + " samples");
    }
    channel.passed = channel.failures.empty();
}

void failFlaggedRun(RunResult& run, const std::vector<std::string>& reasons)
{
    if (reasons.empty()) return;
    run.harnessFlags = reasons;
    for (ChannelResult& channel : run.channels) {
        for (const std::string& reason : reasons) channel.failures.push_back("flagged by the harness: " + reason);
        channel.passed = false;
    }
    for (RoutedChannel& channel : run.routing) {
        for (const std::string& reason : reasons) channel.failures.push_back("flagged by the harness: " + reason);
        channel.passed = false;
    }
}

}  // namespace analyse

namespace analyse {

Verdict overallVerdict(const std::vector<RunResult>& runs)
{
    Verdict v;
    for (const RunResult& run : runs) {
        for (const ChannelResult& ch : run.channels) {
            ++v.channelRuns;
            if (!ch.passed) ++v.failed;
            if (ch.passed && ch.status == ChannelStatus::usable && !ch.unchecked.empty()) ++v.latencyOnly;
        }
        for (const RoutedChannel& ch : run.routing) {
            ++v.channelRuns;
            if (!ch.passed) ++v.failed;
        }
    }
    return v;
}

}  // namespace analyse
