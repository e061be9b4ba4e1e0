#include "analysis/plot_trace.h"

#include <algorithm>

namespace analyse {

namespace {

constexpr int64_t windowBefore = 48;
constexpr int64_t windowAfter = 208;
constexpr int64_t envelopeBins = 1200;

}  // namespace

PlotTrace makePlotTrace(const std::vector<int32_t>& samples, int64_t centre)
{
    PlotTrace trace;
    const int64_t n = static_cast<int64_t>(samples.size());
    const int64_t from = std::clamp<int64_t>(centre - windowBefore, 0, n);
    const int64_t to = std::clamp<int64_t>(centre + windowAfter, 0, n);
    trace.windowStart = from;
    trace.window.assign(samples.begin() + from, samples.begin() + to);

    trace.binSize = std::max<int64_t>(1, (n + envelopeBins - 1) / envelopeBins);
    for (int64_t start = 0; start < n; start += trace.binSize) {
        const auto first = samples.begin() + start;
        const auto last = samples.begin() + std::min(n, start + trace.binSize);
        const auto [lo, hi] = std::minmax_element(first, last);
        trace.envelopeMin.push_back(*lo);
        trace.envelopeMax.push_back(*hi);
    }
    return trace;
}

}  // namespace analyse
