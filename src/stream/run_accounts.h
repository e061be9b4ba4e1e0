// What a stream did with its time: frames delivered against frames expected,
// the longest silence between callbacks, jumps in the driver's sample
// position and every request the driver made, each with its time.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// The driver's requests that change how a stream runs.
enum class DriverRequestKind : int32_t { reset = 1, resync, bufferSizeChange, latenciesChanged, rateChanged };

struct DriverRequest {
    DriverRequestKind kind;
    double atSeconds;  // into the stream; negative: before it started
};

// Every request of one kind, however many came.
struct RequestTally {
    DriverRequestKind kind;
    uint64_t count;
    double firstAtSeconds;
    double lastAtSeconds;
};

// A monotonic clock in nanoseconds, cheap enough for the audio thread.
int64_t accountsClockNs();

// One stream's accounts. The audio thread writes the callback figures and
// the main thread reads them only after the driver's stop() has returned,
// the same ordering the run counters rely on; requests may come from any
// thread at any time, so they go through atomics. Nothing here allocates,
// locks or prints while the stream runs.
class RunAccounts {
public:
    static constexpr size_t requestSlots = 32;

    // Main thread, before the driver's buffers are created: forgets the
    // last stream. Requests from now on are kept.
    void clear();
    // Main thread, just before the driver starts.
    void begin(int32_t bufferSize, double sampleRate, int32_t durationMs);
    // Audio thread, once per buffer half; `position` is the sample position
    // of the half's first frame when the driver gave one.
    void onCallback(bool positionKnown, int64_t position) noexcept;
    // Any thread.
    void onRequest(DriverRequestKind kind) noexcept;
    // Main thread, once the driver has stopped.
    void end();

    struct Summary {
        int32_t bufferSize = 0;
        double sampleRate = 0.0;
        double seconds = 0.0;         // from the start to the stop
        uint64_t framesExpected = 0;  // duration x rate
        uint64_t framesDelivered = 0; // callbacks x buffer size
        uint64_t callbacks = 0;
        double longestGapSeconds = 0.0;  // between callbacks, the stop included
        double longestGapAtSeconds = 0.0;
        uint64_t positionJumps = 0;
        int64_t firstJumpFrames = 0;
        double firstJumpAtSeconds = 0.0;
        std::vector<DriverRequest> requests;  // the first ones, in order
        uint64_t requestsNotKept = 0;         // beyond the slots
        std::vector<RequestTally> tallies;    // every kind that came, by its first time
    };
    Summary summary() const;

private:
    std::atomic<int64_t> beginNs_{0};
    int64_t endNs_ = 0;
    int32_t bufferSize_ = 0;
    double sampleRate_ = 0.0;
    int32_t durationMs_ = 0;

    uint64_t callbacks_ = 0;
    int64_t lastCallbackNs_ = 0;
    int64_t longestGapNs_ = 0;
    int64_t longestGapFromNs_ = 0;
    bool positionKnown_ = false;
    int64_t lastPosition_ = 0;
    uint64_t jumps_ = 0;
    int64_t firstJumpFrames_ = 0;
    int64_t firstJumpNs_ = 0;

    struct Slot {
        std::atomic<int32_t> kind{0};  // 0 until the slot is filled
        std::atomic<int64_t> atNs{0};
    };
    std::array<Slot, requestSlots> slots_;
    std::atomic<uint32_t> requestCount_{0};
    // A server in trouble may send hundreds of resyncs; the reset among
    // them must not be lost for want of a slot.
    struct Tally {
        std::atomic<uint64_t> count{0};
        std::atomic<int64_t> firstNs{0};
        std::atomic<int64_t> lastNs{0};
    };
    std::array<Tally, 5> tallies_;
};

// The harness's own stream.
extern RunAccounts runAccounts;

// The warning lines (without "warning: ") that a stream's accounts call
// for, each starting with `subject` ("run 0"). None for a stream that kept
// its time and heard no reset, resync or buffer-size request.
std::vector<std::string> accountWarnings(const RunAccounts::Summary& accounts, const std::string& subject);

// The driver's wording of a request, as the warnings and records name it.
const char* requestName(DriverRequestKind kind);
