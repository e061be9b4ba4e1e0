#include "analysis/glitch_finder.h"

#include <algorithm>
#include <cmath>

namespace analyse {

namespace {

// Deviating samples before a lost signal is searched for, samples that must
// match at the new place, and good samples that end a discontinuity.
constexpr int64_t relockAfter = 32;
constexpr int64_t relockEvidence = 32;
constexpr int64_t settledAfter = 8;

int64_t loopPosition(int64_t p, int64_t anchor, int64_t length)
{
    const int64_t r = (p - anchor) % length;
    return r < 0 ? r + length : r;
}

class Scanner {
public:
    Scanner(const GlitchSearch& s, FaultList& faults)
        : s_(s), loop_(*s.loop), length_(static_cast<int64_t>(s.loop->size())), faults_(faults)
    {
        // The loop positions [plainFrom_, plainTo_) are held to the plain
        // threshold: past the loose band's positive side, before its
        // negative side (see allowed()).
        if (s_.looseness != nullptr) {
            const int64_t size = static_cast<int64_t>(s_.looseness->size());
            plainFrom_ = std::max<int64_t>(0, size - s_.looseReach);
            plainTo_ = std::min(length_, length_ - s_.looseReach);
            if (s_.looseReach < 0) plainTo_ = plainFrom_;
        }
    }

    void scan(int64_t from, int64_t to, int64_t anchor)
    {
        anchor_ = anchor;
        // A dropout reported in the previous segment may reach into this one.
        int64_t p = std::max<int64_t>({from, 0, resumeAt_});
        to = std::min(to, s_.count);
        // The loop position advances with p; worked out afresh only where p
        // or the anchor jumps.
        int64_t position = loopPosition(p, anchor_, length_);
        while (p < to) {
            // Nearly every sample matches; while no discontinuity is open
            // such a sample only counts as good, and runs of them are
            // passed over in a loop of their own.
            if (badSince_ < 0 && position >= plainFrom_ && position < plainTo_) {
                const int64_t end = std::min(to, p + (plainTo_ - position));
                const int64_t q = matchingUntil(p, end, position);
                if (q > p) {
                    good_ += q - p;
                    position += q - p;
                    p = q;
                    if (position == length_) position = 0;
                    continue;
                }
            }
            const size_t k = static_cast<size_t>(position);
            const double expected = loop_[k];
            const int32_t v = s_.samples[p];
            if (v == 0 && (expected != 0.0 || s_.silentDropoutRun > 0)) {
                // The run is followed past the segment's end: a dropout over
                // a pulse's place is one dropout, not two.
                const int64_t end = zeroRunEnd(p, s_.count);
                if (reportDropout(p, end)) {
                    p = end;
                    resumeAt_ = end;
                    position = loopPosition(p, anchor_, length_);
                    continue;
                }
            }
            const double deviation = v - expected;
            if (std::fabs(deviation) > allowed(k)) {
                deviating(p, deviation);
            } else if (++good_ >= settledAfter) {
                badSince_ = -1;
            }
            ++p;
            if (++position == length_) position = 0;
            if (s_.relock && badSince_ >= 0 && badCount_ >= nextRelock_ && p + relockEvidence <= s_.count &&
                tryRelock(p))
                position = loopPosition(p, anchor_, length_);
        }
    }

private:
    // The first sample of [p, end) that is not plainly good: a zero the
    // dropout check must look at, or one past the plain threshold. The loop
    // position of p is `position`, and the positions up to end's stay
    // within the loop and plain.
    int64_t matchingUntil(int64_t p, int64_t end, int64_t position) const
    {
        const double* expected = loop_.data() + position;
        const int32_t* samples = s_.samples + p;
        const bool zerosMatter = s_.silentDropoutRun > 0;
        const double threshold = s_.threshold;
        const int64_t count = end - p;
        int64_t i = 0;
        // A block at a time without a branch per sample; the block that
        // holds the first such sample is then gone through one by one.
        constexpr int64_t block = 8;
        for (; i + block <= count; i += block) {
            unsigned stop = 0;
            for (int64_t j = i; j < i + block; ++j) {
                const int32_t v = samples[j];
                const double e = expected[j];
                stop |= static_cast<unsigned>(v == 0) & static_cast<unsigned>(e != 0.0 || zerosMatter);
                stop |= static_cast<unsigned>(std::fabs(v - e) > threshold);
            }
            if (stop != 0) break;
        }
        for (; i < count; ++i) {
            const int32_t v = samples[i];
            const double e = expected[i];
            if (v == 0 && (e != 0.0 || zerosMatter)) break;
            if (std::fabs(v - e) > threshold) break;
        }
        return p + i;
    }

    double allowed(size_t k) const
    {
        if (s_.looseness == nullptr) return s_.threshold;
        // Held round position 0 only, so that a loop of silence around a
        // pulse needs no loop-long table per input.
        const int64_t at = static_cast<int64_t>(k);
        const int64_t offset = at <= length_ / 2 ? at : at - length_;
        const int64_t index = offset + s_.looseReach;
        return index >= 0 && index < static_cast<int64_t>(s_.looseness->size())
                   ? s_.threshold + (*s_.looseness)[static_cast<size_t>(index)]
                   : s_.threshold;
    }

    int64_t zeroRunEnd(int64_t p, int64_t to) const
    {
        int64_t end = p;
        while (end < to && s_.samples[end] == 0) ++end;
        return end;
    }

    // A run of zeros [from, to) is a dropout when the signal should have
    // been audible somewhere in it.
    bool reportDropout(int64_t from, int64_t to)
    {
        int64_t first = -1, last = -1;
        for (int64_t p = from; p < to; ++p) {
            if (std::fabs(loop_[static_cast<size_t>(loopPosition(p, anchor_, length_))]) > s_.threshold) {
                if (first < 0) first = p;
                last = p;
            }
        }
        const bool mute = s_.silentDropoutRun > 0 && to - from >= s_.silentDropoutRun;
        if (first < 0 && !mute) return false;
        if (!s_.dropoutsOnlyWhereLoud || mute) {
            first = from;
            last = to - 1;
        }
        faults_.add(Fault{FaultKind::dropout, first, last + 1 - first, last + 1 - first, 0.0});
        good_ = 0;
        return true;
    }

    void deviating(int64_t p, double deviation)
    {
        faults_.addSample(FaultKind::discontinuity, p, deviation);
        good_ = 0;
        if (badSince_ < 0) {
            badSince_ = p;
            badCount_ = 0;
            nextRelock_ = relockAfter;
        }
        ++badCount_;
    }

    bool matches(int64_t at, int64_t anchor) const
    {
        bool audible = false;
        for (int64_t p = at; p < at + relockEvidence; ++p) {
            const size_t k = static_cast<size_t>(loopPosition(p, anchor, length_));
            const double expected = loop_[k];
            if (std::fabs(s_.samples[p] - expected) > allowed(k)) return false;
            audible = audible || std::fabs(expected) > s_.threshold;
        }
        return audible;
    }

    // Looks for the shift that makes the signal fit again from p on: the
    // smallest first. A shift forward means samples were inserted. True
    // when the anchor moved.
    bool tryRelock(int64_t p)
    {
        for (int64_t shift = 1; shift <= s_.maxSlip; ++shift) {
            for (const int64_t d : {shift, -shift}) {
                if (!matches(p, anchor_ + d)) continue;
                anchor_ += d;
                const FaultKind kind = d > 0 ? FaultKind::inserted : FaultKind::dropped;
                faults_.add(Fault{kind, badSince_, shift, shift, 0.0});
                badSince_ = -1;
                return true;
            }
        }
        // Not found (yet): wait twice as long before the next try, so a long
        // stretch of garbage costs little.
        nextRelock_ = std::min<int64_t>(nextRelock_ * 2, std::max<int64_t>(length_, relockAfter));
        badCount_ = 0;
        return false;
    }

    const GlitchSearch& s_;
    const std::vector<double>& loop_;
    const int64_t length_;
    FaultList& faults_;
    int64_t anchor_ = 0;
    int64_t resumeAt_ = 0;
    int64_t good_ = 0;
    int64_t badSince_ = -1;
    int64_t badCount_ = 0;
    int64_t nextRelock_ = relockAfter;
    int64_t plainFrom_ = 0;
    int64_t plainTo_ = length_;
};

}  // namespace

void findGlitches(const GlitchSearch& search, const std::vector<ModelSegment>& segments, FaultList& faults)
{
    if (search.loop == nullptr || search.loop->empty() || search.samples == nullptr) return;
    Scanner scanner(search, faults);
    for (size_t i = 0; i < segments.size(); ++i) {
        const int64_t to = i + 1 < segments.size() ? segments[i + 1].start : search.count;
        scanner.scan(segments[i].start, to, segments[i].anchor);
    }
}

}  // namespace analyse
