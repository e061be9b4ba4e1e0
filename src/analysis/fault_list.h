// The faults found on one channel of one run, each with its position in
// the dump's table. Long stretches of wrong samples (noise, a garbled
// block) are merged into one entry instead of thousands; the list keeps a
// bounded number of entries but counts every fault.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace analyse {

enum class FaultKind {
    dropped,        // samples missing from the stream (it jumps ahead)
    inserted,       // samples added to the stream, repeated ones included (it falls back)
    dropout,        // a run of zeros where the signal should be
    corrupted,      // values that differ from what was sent, the timing intact
    inverted,       // the whole signal arrives with its polarity inverted
    offset,         // the whole signal arrives with a constant added
    discontinuity,  // samples that depart from the fitted signal
    beforeOnset,    // samples in the silence before the signal's start
};
constexpr int faultKindCount = 8;

const char* faultKindName(FaultKind kind);

struct Fault {
    FaultKind kind = FaultKind::corrupted;
    int64_t position = 0;  // first sample concerned, as a position of the table
    int64_t length = 0;    // samples dropped, inserted or spanned
    int64_t count = 0;     // samples that were wrong within the span (corrupted, discontinuity)
    double value = 0.0;    // offset, or the largest deviation seen (in sample units)
};

class FaultList {
public:
    static constexpr size_t keptEntries = 1000;
    // Wrong samples closer than this to the previous entry of the same kind
    // extend that entry.
    static constexpr int64_t mergeGap = 32;

    void add(const Fault& fault);
    // One wrong sample at `position` (corrupted or discontinuity), deviating by `deviation`.
    void addSample(FaultKind kind, int64_t position, double deviation);

    const std::vector<Fault>& entries() const { return entries_; }
    int64_t count(FaultKind kind) const { return counts_[static_cast<size_t>(kind)]; }
    int64_t total() const;
    bool truncated() const { return truncated_; }
    bool empty() const { return total() == 0; }

private:
    std::vector<Fault> entries_;
    std::array<int64_t, faultKindCount> counts_{};
    bool truncated_ = false;
    // The run of wrong samples each kind may still extend: where it ends
    // and its entry (none when the list was full), kept so that merging
    // and counting stay the same once the list is full.
    static constexpr size_t noEntry = static_cast<size_t>(-1);
    std::array<int64_t, faultKindCount> lastEnd_{};
    std::array<bool, faultKindCount> open_{};
    std::array<size_t, faultKindCount> openEntry_{};
};

}  // namespace analyse
