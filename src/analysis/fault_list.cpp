#include "analysis/fault_list.h"

#include <algorithm>
#include <cmath>

namespace analyse {

const char* faultKindName(FaultKind kind)
{
    switch (kind) {
    case FaultKind::dropped: return "dropped";
    case FaultKind::inserted: return "inserted";
    case FaultKind::dropout: return "dropout";
    case FaultKind::corrupted: return "corrupted";
    case FaultKind::inverted: return "inverted";
    case FaultKind::offset: return "offset";
    case FaultKind::discontinuity: return "discontinuity";
    case FaultKind::beforeOnset: return "beforeOnset";
    }
    return "unknown";
}

void FaultList::add(const Fault& fault)
{
    const size_t k = static_cast<size_t>(fault.kind);
    ++counts_[k];
    open_[k] = false;
    if (entries_.size() < keptEntries)
        entries_.push_back(fault);
    else
        truncated_ = true;
}

void FaultList::addSample(FaultKind kind, int64_t position, double deviation)
{
    const size_t k = static_cast<size_t>(kind);
    const double size = std::fabs(deviation);
    if (open_[k] && position - lastEnd_[k] <= mergeGap) {
        lastEnd_[k] = position + 1;
        if (openEntry_[k] != noEntry) {
            Fault& f = entries_[openEntry_[k]];
            f.length = position + 1 - f.position;
            ++f.count;
            f.value = std::max(f.value, size);
        }
        return;
    }
    const bool kept = entries_.size() < keptEntries;
    add(Fault{kind, position, 1, 1, size});
    open_[k] = true;
    openEntry_[k] = kept ? entries_.size() - 1 : noEntry;
    lastEnd_[k] = position + 1;
}

int64_t FaultList::total() const
{
    int64_t sum = 0;
    for (int64_t c : counts_) sum += c;
    return sum;
}

}  // namespace analyse
