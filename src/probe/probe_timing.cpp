#include "probe/probe_timing.h"

#include <algorithm>

namespace {

// The slope of the least-squares line through (i, time of callback i): the
// period the clock keeps. Every callback counts alike, so one that a busy
// machine delayed moves it far less than it moves the span from the first
// callback to the last.
double fittedPeriodNs(const int64_t* timesNs, int64_t count)
{
    const double meanIndex = static_cast<double>(count - 1) / 2.0;
    double meanTime = 0.0;
    for (int64_t i = 0; i < count; ++i)
        meanTime += static_cast<double>(timesNs[i] - timesNs[0]);
    meanTime /= static_cast<double>(count);
    double covariance = 0.0;
    double variance = 0.0;
    for (int64_t i = 0; i < count; ++i) {
        const double di = static_cast<double>(i) - meanIndex;
        covariance += di * (static_cast<double>(timesNs[i] - timesNs[0]) - meanTime);
        variance += di * di;
    }
    return variance > 0.0 ? covariance / variance : 0.0;
}

}  // namespace

void analyseCallbackTimes(const int64_t* timesNs, int64_t count, double nominalRate, int32_t bufferSize,
                          ProbeStream& stream)
{
    stream.timedCallbacks = count;
    stream.periodMs = nominalRate > 0.0 ? 1000.0 * bufferSize / nominalRate : 0.0;
    if (count < 2 || bufferSize <= 0)
        return;

    int64_t minimum = timesNs[1] - timesNs[0];
    int64_t maximum = minimum;
    for (int64_t i = 1; i < count; ++i) {
        const int64_t interval = timesNs[i] - timesNs[i - 1];
        minimum = std::min(minimum, interval);
        maximum = std::max(maximum, interval);
    }
    const double spanNs = static_cast<double>(timesNs[count - 1] - timesNs[0]);
    stream.meanIntervalMs = spanNs / 1e6 / static_cast<double>(count - 1);
    stream.minIntervalMs = static_cast<double>(minimum) / 1e6;
    stream.maxIntervalMs = static_cast<double>(maximum) / 1e6;
    const double slopeNs = fittedPeriodNs(timesNs, count);
    if (slopeNs > 0.0)
        stream.measuredRate = bufferSize / (slopeNs / 1e9);

    if (nominalRate <= 0.0)
        return;
    if (stream.measuredRate > 0.0)
        stream.ppm = (stream.measuredRate / nominalRate - 1.0) * 1e6;
    const double periodNs = 1e9 * bufferSize / nominalRate;
    int64_t late = 0;
    for (int64_t i = 1; i < count; ++i) {
        const double due = static_cast<double>(timesNs[0]) + periodNs * static_cast<double>(i);
        if (static_cast<double>(timesNs[i]) - due > periodNs / 2.0)
            ++late;
    }
    stream.lateCallbacks = late;
}

void analysePositions(const int64_t* positions, int64_t count, int32_t bufferSize, ProbeStream& stream)
{
    int64_t first = -1;
    int64_t last = -1;
    for (int64_t i = 0; i < count; ++i) {
        if (positions[i] == unknownPosition)
            continue;
        if (first < 0)
            first = i;
        last = i;
    }
    stream.positionKnown = first >= 0;
    if (!stream.positionKnown)
        return;
    stream.firstPosition = positions[first];
    stream.lastPosition = positions[last];
    stream.framesCounted = (last - first) * static_cast<int64_t>(bufferSize);
    stream.positionDifference = (stream.lastPosition - stream.firstPosition) - stream.framesCounted;
}
