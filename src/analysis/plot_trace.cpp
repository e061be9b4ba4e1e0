#include "analysis/plot_trace.h"

#include <algorithm>

namespace analyse {

namespace {

constexpr int64_t windowBefore = 48;
constexpr int64_t windowAfter = 208;
constexpr int64_t envelopeBins = 1200;

}  // namespace

PlotTrace makePlotTrace(const std::vector<int32_t>& samples, int64_t centre, bool envelope)
{
    PlotTrace trace;
    const int64_t n = static_cast<int64_t>(samples.size());
    const int64_t from = std::clamp<int64_t>(centre - windowBefore, 0, n);
    const int64_t to = std::clamp<int64_t>(centre + windowAfter, 0, n);
    trace.windowStart = from;
    trace.window.assign(samples.begin() + from, samples.begin() + to);
    if (!envelope) return trace;

    trace.binSize = std::max<int64_t>(1, (n + envelopeBins - 1) / envelopeBins);
    const size_t bins = static_cast<size_t>((n + trace.binSize - 1) / trace.binSize);
    trace.envelopeMin.reserve(bins);
    trace.envelopeMax.reserve(bins);
    // By value rather than by iterator, so that the compiler can take many
    // samples at a time.
    const int32_t* data = samples.data();
    for (int64_t start = 0; start < n; start += trace.binSize) {
        const int64_t end = std::min(n, start + trace.binSize);
        int32_t lo = data[start], hi = data[start];
        for (int64_t p = start + 1; p < end; ++p) {
            lo = std::min(lo, data[p]);
            hi = std::max(hi, data[p]);
        }
        trace.envelopeMin.push_back(lo);
        trace.envelopeMax.push_back(hi);
    }
    return trace;
}

}  // namespace analyse
