#include "stream/run_accounts.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

RunAccounts runAccounts;

int64_t accountsClockNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void RunAccounts::clear()
{
    // Requests that come before begin() (from inside createBuffers) are
    // timed from here, and shown as coming before the start.
    beginNs_.store(accountsClockNs(), std::memory_order_relaxed);
    endNs_ = 0;
    bufferSize_ = 0;
    sampleRate_ = 0.0;
    durationMs_ = 0;
    callbacks_ = 0;
    lastCallbackNs_ = 0;
    longestGapNs_ = 0;
    longestGapFromNs_ = 0;
    positionKnown_ = false;
    lastPosition_ = 0;
    jumps_ = 0;
    firstJumpFrames_ = 0;
    firstJumpNs_ = 0;
    for (Slot& slot : slots_) slot.kind.store(0, std::memory_order_relaxed);
    requestCount_.store(0, std::memory_order_relaxed);
    for (Tally& tally : tallies_) tally.count.store(0, std::memory_order_relaxed);
}

void RunAccounts::begin(int32_t bufferSize, double sampleRate, int32_t durationMs)
{
    const int64_t now = accountsClockNs();
    // Requests already kept were timed from clear(); they move before zero.
    const int64_t before = beginNs_.exchange(now, std::memory_order_relaxed);
    for (Slot& slot : slots_) {
        if (slot.kind.load(std::memory_order_acquire) == 0) continue;
        const int64_t at = slot.atNs.load(std::memory_order_relaxed);
        slot.atNs.store(std::min<int64_t>(at + before - now, -1), std::memory_order_relaxed);
    }
    for (Tally& tally : tallies_) {
        if (tally.count.load(std::memory_order_acquire) == 0) continue;
        tally.firstNs.store(std::min<int64_t>(tally.firstNs.load() + before - now, -1), std::memory_order_relaxed);
        tally.lastNs.store(std::min<int64_t>(tally.lastNs.load() + before - now, -1), std::memory_order_relaxed);
    }
    bufferSize_ = bufferSize;
    sampleRate_ = sampleRate;
    durationMs_ = durationMs;
    lastCallbackNs_ = now;
}

void RunAccounts::onCallback(bool positionKnown, int64_t position) noexcept
{
    const int64_t now = accountsClockNs();
    if (callbacks_ > 0 && now - lastCallbackNs_ > longestGapNs_) {
        longestGapNs_ = now - lastCallbackNs_;
        longestGapFromNs_ = lastCallbackNs_;
    }
    if (positionKnown) {
        const int64_t expected = lastPosition_ + bufferSize_;
        if (positionKnown_ && position != expected) {
            if (jumps_ == 0) {
                firstJumpFrames_ = position - expected;
                firstJumpNs_ = now;
            }
            ++jumps_;
        }
        lastPosition_ = position;
    }
    positionKnown_ = positionKnown;
    lastCallbackNs_ = now;
    ++callbacks_;
}

void RunAccounts::onRequest(DriverRequestKind kind) noexcept
{
    const int64_t at = accountsClockNs() - beginNs_.load(std::memory_order_relaxed);
    const auto kindIndex = static_cast<size_t>(kind) - 1;
    if (kindIndex < tallies_.size()) {
        Tally& tally = tallies_[kindIndex];
        if (tally.count.load(std::memory_order_relaxed) == 0) tally.firstNs.store(at, std::memory_order_relaxed);
        tally.lastNs.store(at, std::memory_order_relaxed);
        tally.count.fetch_add(1, std::memory_order_release);
    }
    const uint32_t index = requestCount_.fetch_add(1, std::memory_order_relaxed);
    if (index >= slots_.size()) return;
    slots_[index].atNs.store(at, std::memory_order_relaxed);
    slots_[index].kind.store(static_cast<int32_t>(kind), std::memory_order_release);
}

void RunAccounts::end()
{
    endNs_ = accountsClockNs();
    // A driver that went quiet before the stop has a gap that no later
    // callback closes.
    if (callbacks_ > 0 && endNs_ - lastCallbackNs_ > longestGapNs_) {
        longestGapNs_ = endNs_ - lastCallbackNs_;
        longestGapFromNs_ = lastCallbackNs_;
    }
}

RunAccounts::Summary RunAccounts::summary() const
{
    const int64_t begin = beginNs_.load(std::memory_order_relaxed);
    const auto seconds = [begin](int64_t ns) { return static_cast<double>(ns - begin) * 1e-9; };
    Summary s;
    s.bufferSize = bufferSize_;
    s.sampleRate = sampleRate_;
    s.seconds = endNs_ > begin ? seconds(endNs_) : 0.0;
    const double expected = static_cast<double>(durationMs_) * sampleRate_ / 1000.0;
    s.framesExpected = expected > 0.0 ? static_cast<uint64_t>(std::llround(expected)) : 0;
    s.callbacks = callbacks_;
    s.framesDelivered = bufferSize_ > 0 ? callbacks_ * static_cast<uint64_t>(bufferSize_) : 0;
    s.longestGapSeconds = static_cast<double>(longestGapNs_) * 1e-9;
    s.longestGapAtSeconds = longestGapNs_ > 0 ? seconds(longestGapFromNs_) : 0.0;
    s.positionJumps = jumps_;
    s.firstJumpFrames = firstJumpFrames_;
    s.firstJumpAtSeconds = jumps_ > 0 ? seconds(firstJumpNs_) : 0.0;
    const uint32_t count = requestCount_.load(std::memory_order_relaxed);
    for (size_t k = 0; k < count && k < slots_.size(); ++k) {
        const int32_t kind = slots_[k].kind.load(std::memory_order_acquire);
        if (kind == 0) continue;  // claimed by a thread that has not filled it yet
        s.requests.push_back({static_cast<DriverRequestKind>(kind),
                              static_cast<double>(slots_[k].atNs.load(std::memory_order_relaxed)) * 1e-9});
    }
    s.requestsNotKept = count > slots_.size() ? count - slots_.size() : 0;
    for (size_t k = 0; k < tallies_.size(); ++k) {
        const uint64_t n = tallies_[k].count.load(std::memory_order_acquire);
        if (n == 0) continue;
        s.tallies.push_back({static_cast<DriverRequestKind>(k + 1), n,
                             static_cast<double>(tallies_[k].firstNs.load(std::memory_order_relaxed)) * 1e-9,
                             static_cast<double>(tallies_[k].lastNs.load(std::memory_order_relaxed)) * 1e-9});
    }
    std::stable_sort(s.tallies.begin(), s.tallies.end(),
                     [](const RequestTally& x, const RequestTally& y) { return x.firstAtSeconds < y.firstAtSeconds; });
    return s;
}

const char* requestName(DriverRequestKind kind)
{
    switch (kind) {
    case DriverRequestKind::reset: return "reset";
    case DriverRequestKind::resync: return "resync";
    case DriverRequestKind::bufferSizeChange: return "buffer size change";
    case DriverRequestKind::latenciesChanged: return "latencies changed";
    case DriverRequestKind::rateChanged: return "rate changed";
    }
    return "request";
}

namespace {

// How late a thread of a busy machine may run without anything being
// wrong with the driver: with buffers of a few frames four periods are
// less than the system's own scheduling jitter, and a loaded machine keeps
// an ordinary thread waiting for tens of milliseconds now and then. A
// driver that really lost time shows it sooner by its sample position,
// which is judged without allowance.
constexpr double schedulingAllowanceSeconds = 0.2;

std::string clockText(double seconds)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.2f s", seconds);
    return text;
}

std::string secondsText(double seconds)
{
    return seconds < 0.0 ? "before the start" : "at " + clockText(seconds);
}

// Only these three say the stream the harness recorded is not the one the
// driver meant to deliver; changed latencies and rates are kept, not warned of.
bool disturbsTheStream(DriverRequestKind kind)
{
    return kind == DriverRequestKind::reset || kind == DriverRequestKind::resync ||
           kind == DriverRequestKind::bufferSizeChange;
}

std::string askedFor(const RequestTally& tally)
{
    const std::string what = std::string("the driver asked for a ") + requestName(tally.kind) + " ";
    if (tally.count == 1) return what + secondsText(tally.firstAtSeconds);
    return what + std::to_string(tally.count) + " times, first " + secondsText(tally.firstAtSeconds) + ", last " +
           secondsText(tally.lastAtSeconds);
}

}  // namespace

std::vector<std::string> accountWarnings(const RunAccounts::Summary& a, const std::string& subject)
{
    std::vector<std::string> lines;
    std::vector<RequestTally> disturbing;
    for (const RequestTally& t : a.tallies)
        if (disturbsTheStream(t.kind)) disturbing.push_back(t);

    // One buffer of slack for where in a period the stop fell, and 0.5%
    // for clocks and sleeps that are a little off; never less than what a
    // busy machine may keep a thread waiting. A surplus is measured against
    // the time the stream really ran, as the stop comes a little after the
    // run's duration.
    const double buffer = a.bufferSize > 0 ? a.bufferSize : 0;
    const double allowance = schedulingAllowanceSeconds * a.sampleRate;
    const double expected = static_cast<double>(a.framesExpected);
    const double delivered = static_cast<double>(a.framesDelivered);
    const double ran = a.seconds * a.sampleRate;
    // A stream that never called back is short however brief the run.
    // Without a known rate there is nothing to hold the frames against.
    const bool rated = a.sampleRate > 0.0;
    const bool shortfall = rated && (expected - delivered > std::max(buffer + 0.005 * expected, allowance) ||
                                     (a.callbacks == 0 && expected > buffer));
    const bool surplus =
        rated && delivered - ran > std::max(buffer + 0.005 * ran, allowance) && delivered > expected;
    // The request named with the shortfall is the likeliest cause: the
    // reset or buffer-size request that came first, as these end a stream,
    // before any resync, which a passing xrun also brings.
    size_t told = disturbing.size();
    for (size_t k = 0; k < disturbing.size() && told == disturbing.size(); ++k)
        if (disturbing[k].kind != DriverRequestKind::resync) told = k;
    if (told == disturbing.size() && !disturbing.empty()) told = 0;
    if (shortfall || surplus) {
        const long percent = expected > 0 ? std::lround(100.0 * delivered / expected) : 0;
        std::string text = subject + " delivered " + std::to_string(a.framesDelivered) + " of " +
                           std::to_string(a.framesExpected) + " frames (" + std::to_string(percent) + "%)";
        if (told < disturbing.size()) text += "; " + askedFor(disturbing[told]);
        lines.push_back(text);
    } else {
        told = disturbing.size();
    }
    if (a.positionJumps > 0) {
        char jump[96];
        std::snprintf(jump, sizeof jump, "%+lld frames ", static_cast<long long>(a.firstJumpFrames));
        lines.push_back(subject + ": the driver's sample position jumped " + std::to_string(a.positionJumps) +
                        (a.positionJumps == 1 ? " time, by " : " times, first by ") + jump +
                        secondsText(a.firstJumpAtSeconds));
    }
    const double period = a.sampleRate > 0 && a.bufferSize > 0 ? a.bufferSize / a.sampleRate : 0.0;
    if (period > 0 && a.longestGapSeconds > std::max(4 * period, schedulingAllowanceSeconds)) {
        char gap[96];
        std::snprintf(gap, sizeof gap, "%.3f s (%.0f periods) ", a.longestGapSeconds, a.longestGapSeconds / period);
        lines.push_back(subject + ": the longest gap between callbacks was " + gap + "from " +
                        clockText(a.longestGapAtSeconds));
    }
    for (size_t k = 0; k < disturbing.size(); ++k)
        if (k != told) lines.push_back(subject + ": " + askedFor(disturbing[k]));
    return lines;
}
