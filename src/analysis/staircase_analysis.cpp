#include "analysis/staircase_analysis.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace analyse {

namespace {

// Steps in one direction needed before a stretch counts as the staircase:
// more when the stretch is only near it.
constexpr int64_t locateEvidence = 8;
constexpr int64_t noisyLocateEvidence = 64;
// Samples that must follow the staircase again before the check trusts
// that it has found its place after a fault.
constexpr int64_t resyncEvidence = 4;
// Offsets tried when the silence before the signal does not give it.
constexpr int64_t largestGuessedOffset = 50;
// How far from the staircase a noisy sample may lie while locating it:
// a little noise first, then as much as a converter's (more than half a
// step, so the nearest step is not always the right one, and the step is
// then chosen by the whole stretch).
constexpr int64_t noiseTolerance = 40;
constexpr int64_t loudNoiseTolerance = 160;
constexpr int64_t loudNoiseEvidence = 256;
constexpr int64_t loudNoiseStride = 8;

// +1 for `stride` steps up the staircase, -1 for as many down, 0 for
// anything else; `tolerance` allows for noise on both samples. Judged
// modulo 2^16, where a 16-bit staircase wraps. Loud noise on neighbours
// would make many a single step look like none, or like one down: then
// the steps are judged several at a time.
int directionOver(int64_t difference, int64_t stride, int64_t tolerance)
{
    const int64_t m = StaircaseModel::floorMod(difference, 65536);
    const int64_t rise = 100 * stride;
    if (m >= rise - 2 * tolerance && m <= rise + 2 * tolerance) return 1;
    if (m >= 65536 - rise - 2 * tolerance && m <= 65536 - rise + 2 * tolerance) return -1;
    return 0;
}

// How far a sample lies from the value it should have, at the width.
int64_t distance(int32_t sample, int32_t expected, int bits)
{
    int64_t d = int64_t{sample} - int64_t{expected};
    if (bits == 16) {
        d = StaircaseModel::floorMod(d, 65536);
        if (d >= 32768) d -= 65536;
    }
    return d < 0 ? -d : d;
}

bool followsWithin(const int32_t* samples, int64_t count, const StaircaseModel& model, int64_t at, int64_t index,
                   int64_t span, int64_t tolerance)
{
    const int64_t last = std::min(count, at + span);
    for (int64_t p = at; p < last; ++p, ++index)
        if (distance(samples[p], model.valueAt(index), model.bits) > tolerance) return false;
    return true;
}

// The loop position whose value lies within `tolerance` of `value`, the
// nearest such value first.
bool stepWithin(const StaircaseModel& model, int32_t value, int64_t tolerance, int64_t& step)
{
    for (int64_t d = 0; d <= tolerance; ++d) {
        if (model.firstStep(static_cast<int32_t>(value - d), step)) return true;
        if (d > 0 && model.firstStep(static_cast<int32_t>(value + d), step)) return true;
    }
    return false;
}

bool follows(const int32_t* samples, int64_t count, const StaircaseModel& model, int64_t at, int64_t index,
             int64_t span)
{
    const int64_t last = std::min(count, at + span);
    for (int64_t p = at; p < last; ++p, ++index)
        if (samples[p] != model.valueAt(index)) return false;
    return true;
}

// The first position from which the samples follow the staircase for a
// while again, with the index they are at there; false when they never do.
bool resync(const int32_t* samples, int64_t count, const StaircaseModel& model, int64_t from, int64_t expected,
            int64_t& at, int64_t& index)
{
    for (int64_t q = from; q < count; ++q) {
        int64_t j = 0;
        if (model.indexNear(samples[q], expected + (q - from), j) &&
            follows(samples, count, model, q, j, resyncEvidence)) {
            at = q;
            index = j;
            return true;
        }
    }
    return false;
}

// Samples [from, to) that should have held indices from `index` on, with
// the timing intact: runs of zeros are dropouts, other wrong values are
// corrupted.
void classifyStretch(const int32_t* samples, const StaircaseModel& model, int64_t from, int64_t to, int64_t index,
                     FaultList& faults)
{
    for (int64_t p = from; p < to; ++p) {
        const int32_t expected = model.valueAt(index + (p - from));
        if (samples[p] == expected) continue;
        if (samples[p] == 0) {
            int64_t end = p + 1;
            while (end < to && samples[end] == 0) ++end;
            faults.add(Fault{FaultKind::dropout, p, end - p, end - p, 0.0});
            p = end - 1;
            continue;
        }
        faults.addSample(FaultKind::corrupted, p, static_cast<double>(int64_t{samples[p]} - int64_t{expected}));
    }
}

// The constant offsets to try for a staircase whose first steady stretch
// starts at q. Exact stretches: the level of the silence before it when it
// has one, then none, then the smallest that fit. Noisy ones: none, then
// the silence's average level, so that noise alone never reads as an offset.
std::vector<int64_t> offsetCandidates(const int32_t* samples, int64_t q, int64_t tolerance)
{
    std::vector<int64_t> offsets;
    if (tolerance == 0) {
        if (q > 0 && std::all_of(samples, samples + q, [&](int32_t v) { return v == samples[0]; }))
            offsets.push_back(samples[0]);
        offsets.push_back(0);
        for (int64_t c = 1; c <= largestGuessedOffset; ++c) {
            offsets.push_back(c);
            offsets.push_back(-c);
        }
        return offsets;
    }
    offsets.push_back(0);
    if (q > 0) {
        double sum = 0.0;
        for (int64_t p = 0; p < q; ++p) sum += samples[p];
        offsets.push_back(static_cast<int64_t>(std::llround(sum / static_cast<double>(q))));
    }
    return offsets;
}

// Of the steps near `step`, the one the stretch from q fits best, by the
// sum of its squared deviations.
int64_t bestFittingStep(const int32_t* samples, int64_t count, const StaircaseModel& model, int64_t q, int64_t step,
                        int64_t span)
{
    int64_t best = step;
    double bestError = -1.0;
    for (int64_t s = step - 3; s <= step + 3; ++s) {
        double error = 0.0;
        for (int64_t p = q, index = s; p < std::min(count, q + span); ++p, ++index) {
            const double d = static_cast<double>(distance(samples[p], model.valueAt(index), model.bits));
            error += d * d;
        }
        if (bestError < 0.0 || error < bestError) {
            bestError = error;
            best = s;
        }
    }
    return best;
}

// Of the steps within `reach` of `hint` whose value lies within `tolerance`
// of samples[q], the one the stretch from q fits best. 16-bit values come
// back every 655 steps or so within a few units (655 x 100 is 36 short of
// 2^16), so only the whole stretch tells them apart.
bool stepNearHint(const int32_t* samples, int64_t count, const StaircaseModel& model, int64_t q, int64_t hint,
                  int64_t tolerance, int64_t span, int64_t& step)
{
    constexpr int64_t reach = 700;
    bool found = false;
    double bestError = 0.0;
    for (int64_t s = hint - reach; s <= hint + reach; ++s) {
        if (s < 0 || distance(samples[q], model.valueAt(s), model.bits) > tolerance) continue;
        double error = 0.0;
        for (int64_t p = q, index = s; p < std::min(count, q + span); ++p, ++index) {
            const double d = static_cast<double>(distance(samples[p], model.valueAt(index), model.bits));
            error += d * d;
        }
        if (!found || error < bestError) {
            found = true;
            bestError = error;
            step = s;
        }
    }
    return found;
}

bool allZero(const int32_t* samples, int64_t from, int64_t to)
{
    return std::all_of(samples + from, samples + to, [](int32_t v) { return v == 0; });
}

// Under noise the stretch that locates the staircase settles its start
// only to the step whose values lie nearest, and a loop that scales the
// staircase (a little of the same signal mixed in) moves that step: at
// 1.01 the values of step k+1 lie nearer than those of step k once k
// passes 50. Near its start the staircase is a line through zero at its
// onset whatever its scale, so the line through its first samples settles
// the onset. Left as it was where those samples are no such line.
void settleOnsetByLine(const int32_t* samples, int64_t count, const StaircaseModel& model, int64_t& onset)
{
    // Clear of the steps either side of the one found, and short of where a
    // 16-bit staircase leaves the positive half.
    constexpr int64_t skip = 4;
    constexpr int64_t span = 256;
    constexpr int64_t within = 3;
    const int64_t from = onset + skip;
    const int64_t to = std::min(count, from + span);
    if (onset < 0 || to - from < span / 4 || to - onset > model.length) return;
    double sp = 0.0, sy = 0.0, spp = 0.0, spy = 0.0, syy = 0.0;
    for (int64_t p = from; p < to; ++p) {
        const double x = static_cast<double>(p - from);
        const double y = model.sign * (static_cast<double>(samples[p]) - static_cast<double>(model.offset)) / 100.0;
        sp += x;
        sy += y;
        spp += x * x;
        spy += x * y;
        syy += y * y;
    }
    const double n = static_cast<double>(to - from);
    const double varP = spp - sp * sp / n;
    const double covPY = spy - sp * sy / n;
    if (!(varP > 0.0)) return;
    const double slope = covPY / varP;  // the path's gain
    if (!(slope > 0.5 && slope < 2.0)) return;
    const double left = std::max(0.0, (syy - sy * sy / n) - covPY * slope) / n;
    // No more than the loudest noise the staircase is still found under.
    const double allowed = static_cast<double>(loudNoiseTolerance) / 100.0;
    if (left > allowed * allowed) return;
    const double intercept = (sy - slope * sp) / n;
    const int64_t settled = from + static_cast<int64_t>(std::llround(-intercept / slope));
    if (settled >= onset - within && settled <= onset + within) onset = settled;
}

}  // namespace

bool locateStaircase(const int32_t* samples, int64_t count, StaircaseModel& model, int64_t& onset)
{
    // An exact stretch first; then one that is only near the staircase, so
    // that a noisy loopback still gives its latency.
    for (const int64_t tolerance : {int64_t{0}, noiseTolerance, loudNoiseTolerance}) {
        const int64_t evidence = tolerance == 0                ? locateEvidence
                                 : tolerance == noiseTolerance ? noisyLocateEvidence
                                                               : loudNoiseEvidence;
        int64_t run = 0;
        int64_t runStart = 0;
        int lastDirection = 0;
        const int64_t stride = tolerance == loudNoiseTolerance ? loudNoiseStride : 1;
        for (int64_t p = stride; p < count; ++p) {
            const int d = directionOver(int64_t{samples[p]} - int64_t{samples[p - stride]}, stride, tolerance);
            run = d != 0 && d == lastDirection ? run + 1 : (d != 0 ? 1 : 0);
            if (run == 1) runStart = p - stride;
            lastDirection = d;
            if (run < evidence) continue;

            const int64_t q = p - evidence;  // the stretch's first sample
            model.sign = d;
            for (int64_t c : offsetCandidates(samples, q, tolerance)) {
                model.offset = c;
                int64_t step = 0;
                if (tolerance == loudNoiseTolerance && model.bits == 16) {
                    // Under loud noise a 16-bit value fits steps all over the
                    // loop: the one near where the stretch began is meant.
                    if (!stepNearHint(samples, count, model, q, q - runStart, tolerance, evidence + 1, step)) continue;
                } else {
                    if (!stepWithin(model, samples[q], tolerance, step)) continue;
                    if (tolerance > 0) step = bestFittingStep(samples, count, model, q, step, evidence + 1);
                }
                if (followsWithin(samples, count, model, q, step, evidence + 1, tolerance)) {
                    onset = q - step;
                    if (tolerance > 0) settleOnsetByLine(samples, count, model, onset);
                    return true;
                }
            }
            run = 0;
        }
    }
    model.sign = 1;
    model.offset = 0;
    return false;
}

StaircaseCheck checkStaircase(const int32_t* samples, int64_t count, const StaircaseModel& model, int64_t onset,
                              FaultList& faults)
{
    StaircaseCheck result;
    int64_t p = std::max<int64_t>(onset, 0);
    if (p >= count) return result;
    const int64_t first = p;
    if (model.sign < 0) faults.add(Fault{FaultKind::inverted, first, count - first, 0, 0.0});
    if (model.offset != 0)
        faults.add(Fault{FaultKind::offset, first, count - first, 0, static_cast<double>(model.offset)});
    const int64_t faultsBefore = faults.total();

    int64_t index = p - onset;
    while (p < count) {
        // The common case: sample after sample as sent.
        int64_t step = StaircaseModel::floorMod(index, model.length);
        const int64_t start = p;
        while (p < count && samples[p] == model.valueAtStep(step)) {
            ++p;
            if (++step == model.length) step = 0;
        }
        index += p - start;
        if (p >= count) break;

        int64_t at = count;
        int64_t found = 0;
        const bool resumed = resync(samples, count, model, p, index, at, found);
        const int64_t gap = at - p;
        const int64_t slip = resumed ? found - (index + gap) : 0;
        if (resumed && gap > 0 && slip == -gap && !allZero(samples, p, at)) {
            // Foreign samples pushed the stream back by exactly their number.
            faults.add(Fault{FaultKind::inserted, p, gap, gap, 0.0});
        } else {
            classifyStretch(samples, model, p, at, index, faults);
            if (slip > 0) faults.add(Fault{FaultKind::dropped, at, slip, slip, 0.0});
            if (slip < 0) faults.add(Fault{FaultKind::inserted, std::max(p, at + slip), -slip, -slip, 0.0});
        }
        p = at;
        index = found;
    }
    result.checked = count - first;
    result.exact = faults.total() == faultsBefore && model.sign > 0 && model.offset == 0;
    return result;
}

}  // namespace analyse
