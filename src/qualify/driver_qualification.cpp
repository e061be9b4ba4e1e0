#include "qualify/driver_qualification.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "analysis/fault_text.h"
#include "analysis/recording_analysis.h"
#include "driver/driver_registry.h"
#include "platform/interruption.h"
#include "probe/probe_timing.h"
#include "qualify/qualify_callbacks.h"
#include "record/console.h"
#include "record/test_state.h"
#include "stream/run_accounts.h"
#include "stream/run_progress.h"
#include "stream/coded_signal.h"
#include "stream/test_signal.h"

namespace {

// Reasons beyond these are counted, not listed: 32 inputs failing in every
// run would bury the first ones.
constexpr size_t mostFailuresListed = 20;

bool acceptedSampleType(int32_t type)
{
    return type == ASIOSTInt16LSB || type == ASIOSTInt32LSB || type == ASIOSTFloat32LSB;
}

// Room per recording: the run's length, with a margin for a driver whose
// clock runs fast and for the halves around the start and the stop, so
// that the audio thread does not grow a recording in the normal case.
uint64_t samplesReserved(double seconds, double rate, int32_t bufferSize)
{
    return static_cast<uint64_t>(std::ceil(seconds * rate * 1.25)) + 4 * static_cast<uint64_t>(bufferSize);
}

std::string rateText(double rate)
{
    std::string text = std::to_string(rate);
    text.erase(text.find_last_not_of('0') + 1);
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

std::string cellName(const QualifyCell& cell)
{
    return rateText(cell.rate) + " Hz, " + std::to_string(cell.bufferSize) + " samples";
}

// The signal of run `run`: the staircase where the format carries it
// bit-exact; a float format scales every sample, so there the runs
// alternate between the pulse (latency) and the sine (glitches).
analyse::SignalKind runSignal(const QualifyOptions& options, int32_t sampleType, int32_t run)
{
    switch (options.signal) {
    case QualifySignal::staircase: return analyse::SignalKind::staircase;
    case QualifySignal::pulse: return analyse::SignalKind::pulse;
    case QualifySignal::sine: return analyse::SignalKind::sine;
    case QualifySignal::automatic: break;
    }
    if (sampleType != ASIOSTFloat32LSB) return analyse::SignalKind::staircase;
    return run % 2 == 0 ? analyse::SignalKind::pulse : analyse::SignalKind::sine;
}

// The run's lines (the test signal's) are the dialogue's; here they would
// only clutter the qualification's own output.
class QuietConsole {
public:
    QuietConsole() { console::redirectOut(&discard_); }
    ~QuietConsole() { console::redirectOut(nullptr); }
    QuietConsole(const QuietConsole&) = delete;
    QuietConsole& operator=(const QuietConsole&) = delete;

private:
    std::ostream discard_{nullptr};
};

void addFailure(QualifyCell& cell, const std::string& reason, size_t& dropped)
{
    if (cell.failures.size() < mostFailuresListed)
        cell.failures.push_back(reason);
    else
        ++dropped;
}

std::string joined(const std::vector<std::string>& parts)
{
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : "; ") + part;
    return text;
}

// Without a map only a dead input fails; with one, an input that hears
// another output than mapped, or a leak louder than allowed.
std::vector<std::string> routingFailures(const QualifyCell& cell, const QualifyOptions& options)
{
    std::vector<std::string> reasons;
    if (!cell.routingMeasured) return reasons;
    for (size_t k = 0; k < cell.routing.size(); ++k)
        for (const std::string& why : analyse::routeFailures(cell.routing[k], k, options.map, options.maxCrosstalkDb))
            reasons.push_back("routing, input " + std::to_string(k) + ": " + why);
    return reasons;
}

// The cell's figures and verdict from its runs.
void judgeCell(QualifyCell& cell, const QualifyOptions& options)
{
    size_t dropped = 0;
    std::map<int, std::set<long long>> roundTrips;  // by input column, whole samples
    std::map<int, std::string> labels;
    bool first = true;
    for (const QualifyRun& run : cell.runs) {
        if (run.interrupted) continue;
        const std::string subject = "run " + std::to_string(run.number);
        for (const std::string& warning : run.accountWarnings) addFailure(cell, warning, dropped);
        if (run.lostSamples > 0)
            addFailure(cell, subject + ": " + std::to_string(run.lostSamples) + " samples could not be recorded",
                       dropped);
        cell.lateCallbacks += run.timing.lateCallbacks;
        for (const analyse::ChannelResult& channel : run.analysis.channels) {
            cell.glitches += channel.faults.total();
            labels[channel.column] = channel.label;
            if (!channel.passed)
                addFailure(cell, subject + ", " + channel.label + ": " + joined(channel.failures), dropped);
            if (!channel.roundTripKnown) continue;
            roundTrips[channel.column].insert(std::llround(channel.roundTrip));
            if (first) {
                cell.roundTripKnown = true;
                cell.roundTrip = channel.roundTrip;
                cell.minRoundTrip = cell.maxRoundTrip = channel.roundTrip;
                cell.hiddenLatency = channel.hiddenLatency;
                first = false;
            }
            cell.minRoundTrip = std::min(cell.minRoundTrip, channel.roundTrip);
            cell.maxRoundTrip = std::max(cell.maxRoundTrip, channel.roundTrip);
        }
    }
    // A fraction of a sample is the measurement's; a whole sample is the
    // driver's latency moving between starts.
    for (const auto& entry : roundTrips) {
        if (entry.second.size() <= 1) continue;
        std::string values;
        for (long long value : entry.second) values += (values.empty() ? "" : ", ") + std::to_string(value);
        addFailure(cell, labels[entry.first] + ": the round trip changes from run to run (" + values + " samples)",
                   dropped);
    }
    for (const std::string& reason : routingFailures(cell, options)) addFailure(cell, reason, dropped);
    if (dropped > 0) cell.failures.push_back("and " + std::to_string(dropped) + " more");
    cell.verdict = cell.failures.empty() ? CellVerdict::passed : CellVerdict::failed;
}

analyse::DumpData dumpOfRun(const TestState& s, int32_t runNumber, int32_t outputs, int32_t inputs)
{
    analyse::DumpData dump;
    dump.runNumber = runNumber;
    dump.inputLatency = s.inputLatency.load(std::memory_order_relaxed);
    dump.outputLatency = s.outputLatency.load(std::memory_order_relaxed);
    for (int32_t k = 0; k < inputs; ++k) {
        const SampleRecording& recording = s.captures[static_cast<size_t>(outputs + k)];
        dump.columns.emplace_back(recording.data(), recording.data() + recording.size());
        dump.rows = std::max<int64_t>(dump.rows, static_cast<int64_t>(recording.size()));
    }
    return dump;
}

// Enough samples to see a fault's shape and the signal around it.
constexpr int64_t waveformBefore = 48;
constexpr int64_t waveformAfter = 144;

void keepFirstFault(FaultWaveform& waveform, const analyse::DumpData& dump, const QualifyRun& run)
{
    for (const analyse::ChannelResult& channel : run.analysis.channels) {
        if (channel.passed || channel.column < 0 || static_cast<size_t>(channel.column) >= dump.columns.size())
            continue;
        const std::vector<int32_t>& samples = dump.columns[static_cast<size_t>(channel.column)];
        waveform.present = true;
        waveform.run = run.number;
        waveform.label = channel.label;
        if (!channel.faults.entries().empty()) {
            const analyse::Fault& fault = channel.faults.entries().front();
            waveform.position = fault.position;
            waveform.what = analyse::describeFault(fault);
        } else {
            waveform.position = channel.trace.windowStart + static_cast<int64_t>(channel.trace.window.size()) / 2;
            waveform.what = channel.failures.empty() ? channel.note : channel.failures.front();
        }
        const int64_t size = static_cast<int64_t>(samples.size());
        waveform.start = std::clamp<int64_t>(waveform.position - waveformBefore, 0, size);
        const int64_t end = std::clamp<int64_t>(waveform.position + waveformAfter, waveform.start, size);
        waveform.samples.assign(samples.begin() + waveform.start, samples.begin() + end);
        return;
    }
}

class Qualification {
public:
    Qualification(IASIO& driver, const QualifyOptions& options, QualifyReport& report)
        : driver_(driver), options_(options), report_(report)
    {
    }

    bool describe();
    void qualifyAll();

private:
    // False when the qualification was interrupted.
    bool qualifyRate(double rate, size_t& cellNumber);
    bool qualifyCell(QualifyCell& cell, size_t cellNumber);
    void streamRun(QualifyCell& cell, QualifyRun& run, int32_t durationMs, bool coded = false);
    void measureRouting(QualifyCell& cell, int32_t durationMs);
    std::string progressLabel(const QualifyCell& cell, size_t cellNumber, int32_t run) const;

    IASIO& driver_;
    const QualifyOptions& options_;
    QualifyReport& report_;
    int32_t outputs_ = 0;
    int32_t inputs_ = 0;
    double originalRate_ = 0.0;
    // Until when the loop may still carry what the last run played.
    std::chrono::steady_clock::time_point loopQuietAt_{};
};

bool Qualification::describe()
{
    ASIOLong inputs = 0, outputs = 0;
    if (driver_.getChannels(&inputs, &outputs) != ASE_OK) {
        report_.error = "getChannels failed";
        return false;
    }
    report_.inputs = std::max<ASIOLong>(inputs, 0);
    report_.outputs = std::max<ASIOLong>(outputs, 0);
    if (report_.outputs == 0 || report_.inputs == 0) {
        report_.error = "the driver has " + std::to_string(report_.outputs) + " outputs and " +
                        std::to_string(report_.inputs) + " inputs: a loop needs both";
        return false;
    }
    outputs_ = std::min(report_.outputs, maxChannelsPerDirection);
    inputs_ = std::min(report_.inputs, maxChannelsPerDirection);
    ASIOChannelInfo info{};
    info.channel = 0;
    info.isInput = ASIOFalse;
    if (driver_.getChannelInfo(&info) != ASE_OK) {
        report_.error = "getChannelInfo failed: the sample format is not known";
        return false;
    }
    report_.sampleType = info.type;
    if (!acceptedSampleType(info.type)) {
        report_.error = "sample type " + std::to_string(info.type) +
                        " is not one the harness streams (16, 18 and 19: little-endian 16-bit, 32-bit and float)";
        return false;
    }
    ASIOLong minimum = 0, maximum = 0, preferred = 0, granularity = 0;
    if (driver_.getBufferSize(&minimum, &maximum, &preferred, &granularity) != ASE_OK) {
        report_.error = "getBufferSize failed";
        return false;
    }
    report_.bufferMin = minimum;
    report_.bufferMax = maximum;
    report_.bufferPreferred = preferred;
    report_.bufferGranularity = granularity;
    ASIOSampleRate current = 0.0;
    if (driver_.getSampleRate(&current) == ASE_OK) originalRate_ = current;

    report_.sizes = qualifiedSizes(options_.sizeChoice, options_.sizes, minimum, maximum, preferred, granularity);
    if (options_.rateChoice == RateChoice::listed) {
        report_.rates = options_.rates;
    } else {
        for (double rate : qualifiedSampleRates)
            if (options_.rateChoice == RateChoice::all || driver_.canSampleRate(rate) == ASE_OK)
                report_.rates.push_back(rate);
    }
    if (report_.rates.empty() || report_.sizes.empty()) {
        report_.error = report_.rates.empty() ? "the driver accepts none of the rates tried"
                                              : "the driver announces no buffer size";
        return false;
    }
    return true;
}

void Qualification::qualifyAll()
{
    for (double rate : report_.rates)
        for (int32_t size : report_.sizes) {
            QualifyCell cell;
            cell.rate = rate;
            cell.bufferSize = size;
            report_.cells.push_back(cell);
        }
    TestState& s = testState;
    s.currentDriver = &driver_;
    // Ctrl-C while the driver streams stops it before the process ends.
    catchInterruptions();
    size_t cellNumber = 0;
    for (double rate : report_.rates)
        if (!qualifyRate(rate, cellNumber)) break;
    setProgressLabel("");
    setRunTotal(0);
    if (originalRate_ > 0.0) driver_.setSampleRate(originalRate_);
    s.currentDriver = nullptr;
    report_.interrupted = interruptionStatus() != 0;
    if (report_.interrupted) report_.interruptedBy = interruptionName();
}

bool Qualification::qualifyRate(double rate, size_t& cellNumber)
{
    const bool canRun = driver_.canSampleRate(rate) == ASE_OK;
    const bool set = canRun && driver_.setSampleRate(rate) == ASE_OK;
    for (QualifyCell& cell : report_.cells) {
        if (cell.rate != rate) continue;
        if (interruptionStatus() != 0) return false;
        if (!set) {
            cell.verdict = CellVerdict::notOffered;
            cell.notOfferedBecause = canRun ? "setSampleRate refused the rate" : "canSampleRate refused the rate";
        } else if (!sizeAnnounced(cell.bufferSize, report_.bufferMin, report_.bufferMax, report_.bufferPreferred,
                                  report_.bufferGranularity)) {
            cell.verdict = CellVerdict::notOffered;
            cell.notOfferedBecause = "the driver does not announce this buffer size";
        } else if (!qualifyCell(cell, cellNumber)) {
            return false;
        }
        ++cellNumber;
    }
    return true;
}

// The time left counts every cell not yet begun as offered: which are is
// found out only on the way.
std::string Qualification::progressLabel(const QualifyCell& cell, size_t cellNumber, int32_t run) const
{
    const size_t cellsLeft = report_.cells.size() - cellNumber;
    const double runsLeft = static_cast<double>(cellsLeft) * options_.runs - run;
    const double secondsLeft = runsLeft * options_.seconds;
    return "cell " + std::to_string(cellNumber + 1) + " of " + std::to_string(report_.cells.size()) + " (" +
           cellName(cell) + "), about " + std::to_string(static_cast<long long>(std::ceil(secondsLeft))) +
           " s left: ";
}

bool Qualification::qualifyCell(QualifyCell& cell, size_t cellNumber)
{
    TestState& s = testState;
    const int32_t channels = outputs_ + inputs_;
    const uint64_t bytes = cellMemoryBytes(channels, inputs_, options_.seconds, cell.rate, cell.bufferSize);
    if (bytes > cellMemoryLimit()) {
        cell.verdict = CellVerdict::failed;
        cell.failures.push_back("not qualified: one run's recordings need " + std::to_string(bytes) +
                                " bytes, more than the " + std::to_string(cellMemoryLimit()) + " bytes allowed");
        console::warning(cellName(cell), ": ", cell.failures.back());
        return true;
    }

    s.sampleType = report_.sampleType;
    s.sampleRate = cell.rate;
    s.bufferSize = cell.bufferSize;
    s.outputChannelCount = outputs_;
    s.reportedOutputChannels = report_.outputs;
    s.inputChannelCount = inputs_;
    for (int32_t k = 0; k < channels; ++k) {
        ASIOBufferInfo& info = s.bufferInfos[static_cast<size_t>(k)];
        info = ASIOBufferInfo{};
        info.isInput = k < outputs_ ? ASIOFalse : ASIOTrue;
        info.channelNum = k < outputs_ ? k : k - outputs_;
    }
    s.timeInfoMode.store(false, std::memory_order_relaxed);
    s.callbacks = qualifyCallbacks();
    runAccounts.clear();
    const ASIOError created = driver_.createBuffers(s.bufferInfos.data(), channels, cell.bufferSize, &s.callbacks);
    if (created != ASE_OK) {
        cell.verdict = CellVerdict::notOffered;
        cell.notOfferedBecause = "createBuffers refused the size (" + std::to_string(created) + ")";
        return true;
    }
    ASIOLong inputLatency = 0, outputLatency = 0;
    cell.latenciesKnown = driver_.getLatencies(&inputLatency, &outputLatency) == ASE_OK;
    s.inputLatency.store(inputLatency, std::memory_order_relaxed);
    s.outputLatency.store(outputLatency, std::memory_order_relaxed);
    cell.inputLatency = inputLatency;
    cell.outputLatency = outputLatency;

    bool reserved = true;
    const uint64_t room = samplesReserved(options_.seconds, cell.rate, cell.bufferSize);
    for (int32_t k = 0; k < channels && reserved; ++k) reserved = s.captures[static_cast<size_t>(k)].reserve(room);
    const double expectedCallbacks = options_.seconds * cell.rate / cell.bufferSize;
    prepareCallbackTimes(static_cast<int64_t>(2.0 * expectedCallbacks + 256.0));

    const auto durationMs = static_cast<int32_t>(std::lround(options_.seconds * 1000.0));
    setRunTotal(options_.runs);
    if (!reserved) {
        cell.verdict = CellVerdict::failed;
        cell.failures.push_back("not qualified: one run's recordings need " + std::to_string(bytes) +
                                " bytes, which could not be had");
        console::warning(cellName(cell), ": ", cell.failures.back());
    } else {
        for (int32_t number = 0; number < options_.runs && interruptionStatus() == 0; ++number) {
            setProgressLabel(progressLabel(cell, cellNumber, number));
            QualifyRun run;
            run.number = number;
            run.signal = runSignal(options_, report_.sampleType, number);
            streamRun(cell, run, durationMs);
            cell.runs.push_back(std::move(run));
        }
        if (interruptionStatus() == 0) measureRouting(cell, durationMs);
    }
    const ASIOError disposed = driver_.disposeBuffers();
    if (disposed != ASE_OK) console::warning(cellName(cell), ": the driver's disposeBuffers returned ", disposed);
    s.signalBuffer.reset();
    for (int32_t k = 0; k < channels; ++k) s.captures[static_cast<size_t>(k)].release();
    if (interruptionStatus() != 0) {
        cell.verdict = CellVerdict::interrupted;
        return false;
    }
    if (reserved) judgeCell(cell, options_);
    return true;
}

void Qualification::measureRouting(QualifyCell& cell, int32_t durationMs)
{
    QualifyRun run;
    run.number = options_.runs;
    // The staircase's code where the format carries it bit for bit.
    run.signal = report_.sampleType == ASIOSTFloat32LSB ? analyse::SignalKind::sine : analyse::SignalKind::staircase;
    // Within less than a loop the staircases differ only by a constant:
    // the routing needs one whole loop to arrive after the lead-in and the
    // round trip (each no more than a few buffers).
    TestState& s = testState;
    const double delays = static_cast<double>(s.inputLatency.load(std::memory_order_relaxed)) +
                          static_cast<double>(s.outputLatency.load(std::memory_order_relaxed)) +
                          4.0 * static_cast<double>(cell.bufferSize);
    const double seconds = std::max(options_.seconds, 1.05 + 2.0 * delays / cell.rate);
    const uint64_t room = samplesReserved(seconds, cell.rate, cell.bufferSize);
    const int32_t channels = usedOutputChannels() + usedInputChannels();
    for (int32_t k = 0; k < channels; ++k) {
        if (!s.captures[static_cast<size_t>(k)].reserve(room)) {
            cell.failures.push_back("routing not measured: its recordings could not be reserved");
            return;
        }
    }
    const int32_t routingMs = std::max(durationMs, static_cast<int32_t>(std::lround(seconds * 1000.0)));
    cell.routingSeconds = routingMs / 1000.0;
    streamRun(cell, run, routingMs, true);
}

void Qualification::streamRun(QualifyCell& cell, QualifyRun& run, int32_t durationMs, bool coded)
{
    TestState& s = testState;
    s.pulseMode = run.signal == analyse::SignalKind::pulse;
    s.staircaseMode = run.signal == analyse::SignalKind::staircase;
    s.toneFrequencyHz = options_.sineHz;
    bool made = false;
    {
        QuietConsole quiet;
        made = coded ? generateCodedSignal(usedOutputChannels()) : generateTestSignal();
    }
    if (!made) {
        run.accountWarnings.push_back("run " + std::to_string(run.number) + ": the test signal could not be made");
        return;
    }
    const int32_t outputs = usedOutputChannels();
    const int32_t inputs = usedInputChannels();
    for (int32_t k = 0; k < outputs + inputs; ++k) s.captures[static_cast<size_t>(k)].clear();
    s.callCount = 0;
    s.samplesProcessed = 0;
    s.signalPosition = 0;
    const int64_t leadIn = int64_t{s.inputLatency.load(std::memory_order_relaxed)} +
                           int64_t{s.outputLatency.load(std::memory_order_relaxed)};
    s.leadInRemaining = leadIn > 0 ? static_cast<uint64_t>(leadIn) : 0;

    // A driver whose clock runs on between a stop and a start (a JACK
    // bridge) keeps its loop flowing: a start within a round trip of the
    // last stop hears the end of the last run in the lead-in, as if the
    // driver had played it. The loop is quiet once a round trip of the
    // silence it plays while stopped has come back, with three buffers for
    // latency the driver may not report.
    const auto now = std::chrono::steady_clock::now();
    if (now < loopQuietAt_) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(loopQuietAt_ - now);
        if (!pauseUnlessInterrupted(static_cast<int32_t>(left.count()))) {
            run.interrupted = true;
            return;
        }
    }
    clearCallbackTimes();
    // Each start is a stream of its own; requests that came while the
    // buffers were made are the first run's.
    if (run.number > 0) runAccounts.clear();
    runAccounts.begin(cell.bufferSize, cell.rate, durationMs);
    setTimingCallbacks(true);
    const ASIOError started = driver_.start();
    if (started == ASE_OK) {
        run.interrupted = !waitWhileStreaming(durationMs, run.number);
        const ASIOError stopped = driver_.stop();
        if (stopped != ASE_OK) console::warning(cellName(cell), ": the driver's stop returned ", stopped);
        const double loopSamples = static_cast<double>(leadIn) + 3.0 * static_cast<double>(cell.bufferSize);
        loopQuietAt_ = std::chrono::steady_clock::now() +
                       std::chrono::microseconds(static_cast<int64_t>(std::ceil(loopSamples / cell.rate * 1e6)));
    }
    setTimingCallbacks(false);
    runAccounts.end();
    if (run.interrupted) return;
    if (started != ASE_OK) {
        run.accountWarnings.push_back("run " + std::to_string(run.number) + ": the driver's start returned " +
                                      std::to_string(started));
        return;
    }

    ProbeStream& timing = run.timing;
    timing.ran = true;
    timing.nominalRate = cell.rate;
    timing.bufferSize = cell.bufferSize;
    timing.seconds = options_.seconds;
    timing.callbacks = countedCallbacks();
    timing.timeInfoCallbacks = timeInfoCallbacks();
    timing.plainCallbacks = timing.callbacks - timing.timeInfoCallbacks;
    analyseCallbackTimes(callbackTimes(), keptCallbackTimes(), cell.rate, cell.bufferSize, timing);
    run.accounts = runAccounts.summary();
    run.accountWarnings = accountWarnings(run.accounts, "run " + std::to_string(run.number));
    for (int32_t k = 0; k < outputs + inputs; ++k) run.lostSamples += s.captures[static_cast<size_t>(k)].lostSamples();

    if (coded) {
        analyse::RoutingSetup setup;
        setup.code = s.staircaseMode ? analyse::RoutingCode::staircase : analyse::RoutingCode::tones;
        setup.outputs = outputs;
        setup.rate = cell.rate;
        setup.bits = report_.sampleType == ASIOSTInt16LSB ? 16 : 32;
        setup.leadIn = leadIn;
        std::vector<const int32_t*> samples;
        std::vector<int64_t> counts;
        for (int32_t k = 0; k < inputs; ++k) {
            const SampleRecording& recording = s.captures[static_cast<size_t>(outputs + k)];
            samples.push_back(recording.data());
            counts.push_back(static_cast<int64_t>(recording.size()));
        }
        cell.routingCode = setup.code;
        cell.routing = analyse::routeInputs(samples, counts, setup);
        cell.routingMeasured = true;
        for (int32_t k = 0; k < outputs + inputs; ++k) s.captures[static_cast<size_t>(k)].clear();
        return;
    }

    analyse::AnalysisOptions analysis;
    analysis.rate = cell.rate;
    analysis.signal = run.signal;
    if (run.signal == analyse::SignalKind::sine) analysis.frequency = options_.sineHz;
    analysis.maxExtraLatency = options_.maxHiddenLatency;
    analysis.bits = report_.sampleType == ASIOSTInt16LSB ? 16 : 32;
    const analyse::DumpData dump = dumpOfRun(s, run.number, outputs, inputs);
    run.analysis = analyse::analyseRun(dump, analysis, outputs);
    if (!cell.firstFault.present) keepFirstFault(cell.firstFault, dump, run);
    // The recordings are analysed; the next run starts from empty ones.
    for (int32_t k = 0; k < outputs + inputs; ++k) s.captures[static_cast<size_t>(k)].clear();
}

}  // namespace

uint64_t cellMemoryBytes(int32_t channels, int32_t inputs, double seconds, double rate, int32_t bufferSize)
{
    const double samples = static_cast<double>(samplesReserved(seconds, rate, bufferSize));
    const double total = samples * sizeof(int32_t) * (static_cast<double>(channels) + static_cast<double>(inputs));
    return total >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(total);
}

uint64_t cellMemoryLimit()
{
    // A 32-bit process has 2 GiB of address space in all.
    return sizeof(void*) == 4 ? uint64_t{512} << 20 : uint64_t{4} << 30;
}

const char* cellVerdictName(CellVerdict verdict)
{
    switch (verdict) {
    case CellVerdict::passed: return "passed";
    case CellVerdict::failed: return "failed";
    case CellVerdict::notOffered: return "not offered";
    case CellVerdict::interrupted: return "interrupted";
    case CellVerdict::notRun: return "not run";
    }
    return "";
}

int32_t QualifyReport::offeredCells() const
{
    int32_t n = 0;
    for (const QualifyCell& cell : cells)
        n += cell.verdict == CellVerdict::passed || cell.verdict == CellVerdict::failed;
    return n;
}

int32_t QualifyReport::failedCells() const
{
    int32_t n = 0;
    for (const QualifyCell& cell : cells) n += cell.verdict == CellVerdict::failed;
    return n;
}

std::string QualifyReport::verdict() const
{
    if (interrupted) return "interrupted";
    if (offeredCells() == 0) return "not qualified";
    return failedCells() == 0 ? "passed" : "failed";
}

void qualifyInstalledDriver(int32_t index, const QualifyOptions& options, QualifyReport& report)
{
    report.index = index;
    report.options = options;
    DriverRegistry registry;
    const DriverRecord* record = registry.find(index);
    if (record == nullptr) {
        report.error = "no driver has the index " + std::to_string(index) + " (" + std::to_string(registry.count()) +
                       " listed)";
        return;
    }
    report.registryName = record->name;
    const int opened = registry.openByIndex(index);
    IASIO* driver = testState.currentDriver;
    // The registry's record owns the instance and releases it when the
    // registry goes, at the end of this function.
    testState.currentDriver = nullptr;
    if (opened != 0 || driver == nullptr) {
        report.error = registry.lastOpenError();
        if (report.error.empty())
            report.error = "the driver could not be created (result " + std::to_string(opened) + ")";
        report.error = "driver " + std::to_string(index) + " could not be opened: " + report.error;
        return;
    }
    report.opened = true;
    report.initialised = driver->init(nullptr) != ASIOFalse;
    if (!report.initialised) {
        char text[124] = {};
        driver->getErrorMessage(text);
        text[sizeof text - 1] = '\0';
        report.error = "driver " + std::to_string(index) + " could not be initialised: " + text;
        return;
    }
    char name[32] = {};
    driver->getDriverName(name);
    report.driverName = std::string(name, strnlen(name, sizeof name));
    Qualification qualification(*driver, options, report);
    if (!qualification.describe()) return;
    qualification.qualifyAll();
}
