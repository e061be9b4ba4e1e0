#include "probe/probe_callbacks.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <utility>

#include "probe/probe_timing.h"
#include "stream/run_accounts.h"

namespace {

struct RecordedMessage {
    ProbePhase phase;
    int32_t selector;
    int32_t value;
    int32_t answer;
};

constexpr size_t messageCapacity = 256;

// Written by the main thread before createBuffers; during the stream the
// audio thread writes the elements below the counts, which the main thread
// reads only after stop has returned.
struct ProbeCallbackRecord {
    IASIO* driver = nullptr;
    std::vector<ASIOBufferInfo> infos;
    std::vector<int32_t> bytesPerHalf;
    std::vector<int64_t> timesNs;
    std::vector<int64_t> positions;
    int64_t capacity = 0;
    std::atomic<bool> streaming{false};
    std::atomic<bool> callOutputReady{false};
    std::atomic<ProbePhase> phase{ProbePhase::createBuffers};

    std::atomic<int64_t> callbacks{0};
    std::atomic<int64_t> timeInfoCallbacks{0};
    std::atomic<int64_t> rateChanges{0};
    std::atomic<double> lastChangedRate{0.0};
    std::array<RecordedMessage, messageCapacity> messages{};
    std::atomic<size_t> messageCount{0};
};

ProbeCallbackRecord record;
RunAccounts probeAccounts;

// A lock inside an atomic would be a lock on the audio thread.
static_assert(std::atomic<int64_t>::is_always_lock_free && std::atomic<size_t>::is_always_lock_free &&
                  std::atomic<bool>::is_always_lock_free && std::atomic<ProbePhase>::is_always_lock_free,
              "the callbacks' counters must be lock-free");

int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t toInt64(const ASIOSamples& samples)
{
    return static_cast<int64_t>((static_cast<uint64_t>(samples.hi) << 32) | samples.lo);
}

// Runs on the driver's audio thread: it must never allocate, lock, wait or
// write to a file or the console. Everything it writes was made room for
// before the stream started.
void onBufferSwitch(ASIOLong half, const ASIOTime* time)
{
    const int64_t now = nowNs();
    if (!record.streaming.load(std::memory_order_acquire))
        return;
    const int64_t n = record.callbacks.fetch_add(1, std::memory_order_relaxed);
    if (time != nullptr)
        record.timeInfoCallbacks.fetch_add(1, std::memory_order_relaxed);
    const bool positionGiven = time != nullptr && (time->timeInfo.flags & kSamplePositionValid) != 0;
    probeAccounts.onCallback(positionGiven, positionGiven ? toInt64(time->timeInfo.samplePosition) : 0);

    if (half == 0 || half == 1) {
        for (size_t i = 0; i < record.infos.size(); ++i) {
            void* buffer = record.infos[i].buffers[half];
            if (record.bytesPerHalf[i] > 0 && buffer != nullptr)
                std::memset(buffer, 0, static_cast<size_t>(record.bytesPerHalf[i]));
        }
    }
    if (record.callOutputReady.load(std::memory_order_relaxed))
        record.driver->outputReady();

    if (n >= record.capacity)
        return;
    record.timesNs[static_cast<size_t>(n)] = now;
    int64_t position = unknownPosition;
    if (time != nullptr) {
        position = toInt64(time->timeInfo.samplePosition);
    } else {
        ASIOSamples samples{};
        ASIOTimeStamp stamp{};
        if (record.driver->getSamplePosition(&samples, &stamp) == ASE_OK)
            position = toInt64(samples);
    }
    record.positions[static_cast<size_t>(n)] = position;
}

void probeBufferSwitch(ASIOLong half, ASIOBool) { onBufferSwitch(half, nullptr); }

ASIOTime* probeBufferSwitchTimeInfo(ASIOTime* params, ASIOLong half, ASIOBool)
{
    onBufferSwitch(half, params);
    return params;
}

void probeSampleRateDidChange(ASIOSampleRate rate)
{
    probeAccounts.onRequest(DriverRequestKind::rateChanged);
    record.rateChanges.fetch_add(1, std::memory_order_relaxed);
    record.lastChangedRate.store(rate, std::memory_order_relaxed);
}

// The answers the harness's own run gives, so the probe shows what the
// driver will do in a run: engine version 2, time info and latency
// changes supported, everything else declined. May run on any thread.
ASIOLong probeAsioMessage(ASIOLong selector, ASIOLong value, void*, double*)
{
    ASIOLong answer = 0;
    switch (selector) {
    case kAsioSelectorSupported:
        answer = value == kAsioEngineVersion || value == kAsioLatenciesChanged || value == kAsioSupportsTimeInfo;
        break;
    case kAsioEngineVersion:
        answer = 2;
        break;
    case kAsioLatenciesChanged:
    case kAsioSupportsTimeInfo:
        answer = 1;
        break;
    default:
        break;
    }
    switch (selector) {
    case kAsioResetRequest: probeAccounts.onRequest(DriverRequestKind::reset); break;
    case kAsioBufferSizeChange: probeAccounts.onRequest(DriverRequestKind::bufferSizeChange); break;
    case kAsioResyncRequest: probeAccounts.onRequest(DriverRequestKind::resync); break;
    case kAsioLatenciesChanged: probeAccounts.onRequest(DriverRequestKind::latenciesChanged); break;
    default: break;
    }
    const size_t slot = record.messageCount.fetch_add(1, std::memory_order_relaxed);
    if (slot < messageCapacity)
        record.messages[slot] = RecordedMessage{record.phase.load(std::memory_order_relaxed), selector, value, answer};
    return answer;
}

}  // namespace

const char* probePhaseName(ProbePhase phase)
{
    switch (phase) {
    case ProbePhase::createBuffers: return "createBuffers";
    case ProbePhase::outputReady: return "outputReady";
    case ProbePhase::start: return "start";
    case ProbePhase::streaming: return "streaming";
    case ProbePhase::stop: return "stop";
    case ProbePhase::disposeBuffers: return "disposeBuffers";
    }
    return "";
}

ASIOBufferInfo* prepareProbeCallbacks(IASIO* driver, std::vector<ASIOBufferInfo> infos,
                                      std::vector<int32_t> bytesPerHalf, int64_t capacity)
{
    record.streaming.store(false);
    record.driver = driver;
    record.infos = std::move(infos);
    record.bytesPerHalf = std::move(bytesPerHalf);
    record.bytesPerHalf.resize(record.infos.size(), 0);
    record.timesNs.assign(static_cast<size_t>(capacity), 0);
    record.positions.assign(static_cast<size_t>(capacity), unknownPosition);
    record.capacity = capacity;
    record.callOutputReady.store(false);
    record.phase.store(ProbePhase::createBuffers);
    record.callbacks.store(0);
    record.timeInfoCallbacks.store(0);
    record.rateChanges.store(0);
    record.lastChangedRate.store(0.0);
    record.messageCount.store(0);
    probeAccounts.clear();
    return record.infos.data();
}

void beginProbeAccounts(int32_t bufferSize, double rate, int32_t durationMs)
{
    probeAccounts.begin(bufferSize, rate, durationMs);
}

void endProbeAccounts() { probeAccounts.end(); }

void setProbeStreaming(bool streaming) { record.streaming.store(streaming, std::memory_order_release); }

void setProbeOutputReady(bool callOutputReady) { record.callOutputReady.store(callOutputReady); }

void setProbePhase(ProbePhase phase) { record.phase.store(phase); }

ASIOCallbacks probeCallbacks()
{
    return ASIOCallbacks{probeBufferSwitch, probeSampleRateDidChange, probeAsioMessage, probeBufferSwitchTimeInfo};
}

void collectProbeMessages(std::vector<ProbeMessage>& messages)
{
    const size_t count = std::min(record.messageCount.load(), messageCapacity);
    for (size_t i = 0; i < count; ++i) {
        const RecordedMessage& m = record.messages[i];
        messages.push_back(ProbeMessage{probePhaseName(m.phase), m.selector, m.value, m.answer});
    }
    record.messageCount.store(0);
}

void collectProbeCallbacks(ProbeStream& stream, std::vector<ProbeMessage>& messages)
{
    stream.callbacks = record.callbacks.load();
    stream.timeInfoCallbacks = record.timeInfoCallbacks.load();
    stream.plainCallbacks = stream.callbacks - stream.timeInfoCallbacks;
    stream.rateChanges = record.rateChanges.load();
    stream.lastChangedRate = record.lastChangedRate.load();
    const int64_t kept = std::min(stream.callbacks, record.capacity);
    analyseCallbackTimes(record.timesNs.data(), kept, stream.nominalRate, stream.bufferSize, stream);
    analysePositions(record.positions.data(), kept, stream.bufferSize, stream);
    stream.accounts = probeAccounts.summary();
    stream.accountWarnings = accountWarnings(stream.accounts, "the probe's stream");
    collectProbeMessages(messages);
}
