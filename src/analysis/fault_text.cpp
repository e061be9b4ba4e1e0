#include "analysis/fault_text.h"

#include <cmath>
#include <cstdio>

namespace analyse {

namespace {

std::string count(int64_t n, const char* what) { return std::to_string(n) + " " + what + (n == 1 ? "" : "s"); }

}  // namespace

std::string formatSamples(double samples)
{
    char text[48];
    if (std::fabs(samples - std::round(samples)) < 0.005)
        std::snprintf(text, sizeof text, "%.0f", std::round(samples));
    else
        std::snprintf(text, sizeof text, "%.2f", samples);
    return text;
}

std::string formatSignedSamples(double samples)
{
    const std::string text = formatSamples(samples);
    return samples > 0.0 && text != "0" ? "+" + text : text;
}

std::string describeFault(const Fault& f)
{
    const std::string at = std::to_string(f.position);
    switch (f.kind) {
    case FaultKind::dropped: return "dropped " + count(f.length, "sample") + " at " + at;
    case FaultKind::inserted: return "inserted " + count(f.length, "sample") + " at " + at;
    case FaultKind::dropout: return "dropout of " + count(f.length, "sample") + " at " + at;
    case FaultKind::corrupted:
    case FaultKind::discontinuity:
    case FaultKind::beforeOnset:
        return std::string(f.kind == FaultKind::corrupted       ? "corrupted "
                           : f.kind == FaultKind::discontinuity ? "discontinuity: "
                                                                : "signal before the onset: ") +
               std::to_string(f.count) +
               " of " + count(f.length, "sample") + " from " + at + ", off by up to " + formatSamples(f.value);
    case FaultKind::inverted: return "inverted polarity from " + at;
    case FaultKind::offset: return "constant offset of " + formatSamples(f.value) + " from " + at;
    }
    return "fault at " + at;
}

}  // namespace analyse
