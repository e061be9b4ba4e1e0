#include "analysis/recording_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "analysis/channel_verdict.h"
#include "analysis/fault_text.h"
#include "analysis/glitch_finder.h"
#include "analysis/plot_trace.h"
#include "analysis/pulse_analysis.h"
#include "analysis/signal_detection.h"
#include "analysis/sine_fit.h"
#include "analysis/sine_latency.h"
#include "analysis/staircase_analysis.h"

namespace analyse {

namespace {

// A pulse train keeps almost every sample quiet; more than this and the
// input carries something else.
constexpr double pulseLoudFraction = 0.01;
// How far a sine may slip and still be found again.
constexpr int64_t largestSineSlip = 4096;
// A sample this many noise deviations from the expected signal is a glitch,
// not noise: Gaussian noise goes that far about once in 4e11 samples.
constexpr double noiseDeviations = 7.0;

// The noise on a recording: the spread of its samples about the expected
// signal over one loop. Each short block's median deviation, and of those
// the lower quartile, so that neither a glitch nor a slip that leaves the
// rest of the loop off the expected signal passes for noise.
constexpr int64_t noiseBlock = 512;

// The deviation scaled as a threshold: noiseDeviations times the Gaussian
// deviation a median absolute deviation stands for.
double noiseThreshold(double medianDeviation) { return noiseDeviations * (medianDeviation / 0.6745); }

// The glitch threshold: `level`, or more where the noise is louder. Most
// loops are quiet, and then counting samples shows that the quartile of the
// block medians stays under `level` without ordering any block; the counting
// and the ordering compare the same values, so both give the same answer.
double glitchThreshold(double level, const int32_t* samples, int64_t count, const std::vector<double>& loop,
                       int64_t anchor, int64_t from)
{
    const int64_t length = static_cast<int64_t>(loop.size());
    from = std::max<int64_t>(0, from);
    const int64_t to = std::min(count, from + std::max(length, noiseBlock));
    if (length == 0 || to - from < noiseBlock) return std::max(level, 0.0);
    const int64_t firstPosition = ((from - anchor) % length + length) % length;
    std::vector<double> block(static_cast<size_t>(noiseBlock));
    auto fill = [&](int64_t start) {
        int64_t k = (firstPosition + (start - from)) % length;
        for (int64_t i = 0; i < noiseBlock; ++i) {
            block[static_cast<size_t>(i)] =
                std::fabs(static_cast<double>(samples[start + i]) - loop[static_cast<size_t>(k)]);
            if (++k == length) k = 0;
        }
    };
    const int64_t blocks = (to - from) / noiseBlock;
    // The quartile is the (blocks / 4 + 1)th smallest median, a median the
    // (noiseBlock / 2 + 1)th smallest deviation of its block.
    int64_t quietBlocks = 0;
    for (int64_t b = 0; b < blocks && quietBlocks <= blocks / 4; ++b) {
        fill(from + b * noiseBlock);
        int64_t quiet = 0;
        for (const double d : block) quiet += noiseThreshold(d) <= level ? 1 : 0;
        if (quiet >= noiseBlock / 2 + 1) ++quietBlocks;
    }
    if (quietBlocks >= blocks / 4 + 1) return level;

    std::vector<double> spreads;
    spreads.reserve(static_cast<size_t>(blocks));
    for (int64_t b = 0; b < blocks; ++b) {
        fill(from + b * noiseBlock);
        const auto middle = block.begin() + noiseBlock / 2;
        std::nth_element(block.begin(), middle, block.end());
        spreads.push_back(*middle);
    }
    const auto quartile = spreads.begin() + static_cast<std::ptrdiff_t>(spreads.size() / 4);
    std::nth_element(spreads.begin(), quartile, spreads.end());
    return std::max(level, noiseThreshold(*quartile));
}

// The shortest run of zeros that noise cannot explain, from how often the
// recording reads exactly zero (dropouts included, which errs towards
// caution); 0 where zeros are common, as in a digital loop's silence.
int64_t silentDropoutRun(const std::vector<int32_t>& samples)
{
    if (samples.empty()) return 0;
    const auto zeros = std::count(samples.begin(), samples.end(), 0);
    const double share = static_cast<double>(zeros) / static_cast<double>(samples.size());
    if (share < 0.001) return 8;
    if (share < 0.05) return 32;
    return 0;
}

std::string decibels(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// The sine's frequency: the one given, or measured on the loudest input.
void settleFrequency(RunResult& run, const DumpData& dump, const std::vector<ChannelFeatures>& features,
                     const AnalysisOptions& options)
{
    if (options.frequency) {
        run.frequency = *options.frequency;
        return;
    }
    size_t loudest = 0;
    for (size_t c = 1; c < features.size(); ++c)
        if (features[c].peak > features[loudest].peak) loudest = c;
    if (features.empty() || features[loudest].firstNonzero < 0) return;
    // From where the sine is clearly there: noise before it would pull the
    // estimate.
    const std::vector<int32_t>& samples = dump.columns[loudest];
    const int64_t n = static_cast<int64_t>(samples.size());
    const double audible = 0.05 * static_cast<double>(features[loudest].peak);
    int64_t heard = 0;
    while (heard < n && std::fabs(static_cast<double>(samples[static_cast<size_t>(heard)])) <= audible) ++heard;
    const int64_t from = heard + 16;
    const int64_t to = std::min<int64_t>(n, heard + options.loopLength() - 16);
    double spread = 0.0;
    double f = estimateSineFrequency(samples.data(), from, to, options.rate, &spread);
    if (!(f > 0.0)) return;
    // The harness is given whole numbers of Hz as a rule: take one that fits
    // as closely as the noise lets the estimate tell, so the phase stays
    // exact over the whole run. Never further than 0.02 Hz, so that a clock
    // difference of more than a few ppm is not rounded away.
    if (std::fabs(f - std::round(f)) < std::clamp(4.0 * spread, 1e-3, 0.02)) f = std::round(f);
    run.frequency = f;
    run.frequencyEstimated = true;
}

void measureStaircase(ChannelResult& ch, const std::vector<int32_t>& samples, const RunResult& run,
                      const AnalysisOptions& options)
{
    StaircaseModel model;
    model.bits = run.bits;
    model.length = options.loopLength();
    int64_t onset = 0;
    const int64_t n = static_cast<int64_t>(samples.size());
    if (!locateStaircase(samples.data(), n, model, onset)) {
        ch.status = ChannelStatus::noSignal;
        ch.note = "no staircase found";
        return;
    }
    ch.status = ChannelStatus::usable;
    ch.onset = static_cast<double>(onset);
    // Before its start the input should hold the silence's level, nothing else.
    bool quietBefore = true;
    for (int64_t p = 0; p < std::min(onset, n); ++p) {
        const int64_t deviation = int64_t{samples[static_cast<size_t>(p)]} - model.offset;
        if (deviation == 0) continue;
        ch.faults.addSample(FaultKind::beforeOnset, p, static_cast<double>(deviation));
        quietBefore = false;
    }
    const StaircaseCheck check = checkStaircase(samples.data(), n, model, onset, ch.faults);
    ch.bitExact = check.exact && quietBefore;
    ch.checkedSamples = check.checked;
}

void measurePulse(ChannelResult& ch, const std::vector<int32_t>& samples, const ChannelFeatures& features,
                  int64_t leadIn, const AnalysisOptions& options)
{
    if (features.loudFraction >= pulseLoudFraction) {
        ch.status = ChannelStatus::noSignal;
        ch.note = "not a pulse train";
        return;
    }
    const int64_t n = static_cast<int64_t>(samples.size());
    PulseMeasurement m =
        measurePulses(samples.data(), n, features.peak, options.loopLength(), leadIn, ch.faults);
    if (!m.found) {
        ch.status = ChannelStatus::noSignal;
        ch.note = m.why;
        return;
    }
    ch.status = ChannelStatus::usable;
    ch.onset = m.onset;
    ch.amplitude = m.height;
    ch.pulses = std::move(m.positions);
    if (m.driftMeasured) ch.driftPpm = m.driftPpm;
    // A converter's noise seldom reads exactly zero: there a long run of
    // zeros is a dropout even between pulses, and the silence is checked.
    const int64_t silentRun = silentDropoutRun(samples);
    if (silentRun == 0) ch.unchecked = {"dropouts between pulses"};

    GlitchSearch search;
    search.samples = samples.data();
    search.count = n;
    search.loop = &m.loop;
    search.threshold = std::pow(10.0, options.glitchDb / 20.0) * m.height;
    if (!m.segments.empty())
        search.threshold = glitchThreshold(search.threshold, samples.data(), n, m.loop, m.segments.front().anchor,
                                           m.segments.front().start);
    search.looseness = &m.looseness;
    search.looseReach = m.looseReach;
    search.dropoutsOnlyWhereLoud = true;
    search.silentDropoutRun = silentRun;
    findGlitches(search, m.segments, ch.faults);
    ch.checkedSamples = m.segments.empty() ? 0 : n - m.segments.front().start;
}

void measureSineChannel(ChannelResult& ch, const std::vector<int32_t>& samples, const ChannelFeatures& features,
                        const RunResult& run, const AnalysisOptions& options)
{
    if (!run.frequency) {
        ch.status = ChannelStatus::noSignal;
        ch.note = "no sine frequency given or found";
        return;
    }
    const int64_t n = static_cast<int64_t>(samples.size());
    const int64_t loop = options.loopLength();
    const int64_t maxSlip = std::min(largestSineSlip, loop / 2);
    SineMeasurement m = measureSine(samples.data(), n, features.peak, *run.frequency, run.frequencyEstimated,
                                    options.rate, loop, maxSlip);
    if (!m.found) {
        ch.status = ChannelStatus::noSignal;
        ch.note = m.why;
        return;
    }
    ch.status = ChannelStatus::usable;
    ch.onset = m.onset;
    ch.amplitude = m.fit.amplitude;
    ch.snrDb = m.snrDb;
    if (m.driftMeasured) ch.driftPpm = m.driftPpm();
    if (m.startLost)
        ch.doubt = "the sine's start was lost: its round trip is known only up to whole periods of " +
                   std::to_string(std::llround(options.rate / *run.frequency)) + " samples";
    if (!m.candidates.empty()) {
        std::string list;
        for (size_t i = 0; i < m.candidates.size(); ++i)
            list += (i == 0 ? "" : i + 1 == m.candidates.size() ? " or " : ", ") +
                    formatSamples(m.candidates[i] - static_cast<double>(run.leadIn));
        ch.doubt = "the sine's period cannot be told from its start: its round trip is " + list + " samples";
    }
    if (m.inverted) {
        const int64_t at = std::max<int64_t>(0, static_cast<int64_t>(std::floor(m.onset)));
        ch.faults.add(Fault{FaultKind::inverted, at, n - at, 0, 0.0});
    }

    GlitchSearch search;
    search.samples = samples.data();
    search.count = n;
    search.loop = &m.loop;
    search.relock = true;
    search.maxSlip = maxSlip;
    // The loop starts at the onset's whole sample; the check at the first
    // sample the sine reached, since before it the input was silent, and
    // past the ringing of a start between samples, which is no glitch.
    const int64_t anchor = m.loopAnchor;
    const int64_t reached = std::max<int64_t>(0, static_cast<int64_t>(std::ceil(m.onset - 0.01)));
    const bool between = std::fabs(m.onset - std::round(m.onset)) > 0.01;
    const int64_t first = between ? reached + m.ringing : reached;
    // Through an analog loop the noise, not the level, decides what a
    // glitch is.
    search.threshold = glitchThreshold(std::pow(10.0, options.glitchDb / 20.0) * m.fit.amplitude, samples.data(), n,
                                       m.loop, anchor, first);
    findGlitches(search, {ModelSegment{first, anchor}}, ch.faults);
    ch.checkedSamples = n - first;
}

}  // namespace

std::string channelLabel(int column, int firstChannel)
{
    if (firstChannel < 0) return "input " + std::to_string(column);
    return "channel " + std::to_string(int64_t{firstChannel} + column);
}

const char* channelStatusName(ChannelStatus status)
{
    switch (status) {
    case ChannelStatus::usable: return "usable";
    case ChannelStatus::silent: return "silent";
    case ChannelStatus::belowLevel: return "below level";
    case ChannelStatus::noSignal: return "no signal";
    }
    return "no signal";
}

RunResult runOfDump(const DumpData& dump)
{
    RunResult run;
    run.file = dump.path;
    run.runNumber = dump.runNumber;
    run.inputLatency = dump.inputLatency;
    run.outputLatency = dump.outputLatency;
    run.leadIn = dump.leadIn();
    run.rows = dump.rows;
    return run;
}

RunResult analyseRun(const DumpData& dump, const AnalysisOptions& options, int firstChannel)
{
    RunResult run = runOfDump(dump);

    std::vector<ChannelFeatures> features;
    for (const auto& column : dump.columns) features.push_back(measureChannel(column));
    run.signal = options.signal == SignalKind::automatic ? detectSignal(features) : options.signal;
    run.bits = options.bits != 0 ? options.bits : detectBits(features);
    if (run.signal == SignalKind::sine) settleFrequency(run, dump, features, options);

    for (size_t c = 0; c < dump.columns.size(); ++c) {
        const std::vector<int32_t>& samples = dump.columns[c];
        const ChannelFeatures& f = features[c];
        ChannelResult ch;
        ch.column = static_cast<int>(c);
        ch.label = channelLabel(ch.column, firstChannel);
        ch.samples = static_cast<int64_t>(samples.size());
        ch.peak = static_cast<int32_t>(std::min<int64_t>(f.peak, std::numeric_limits<int32_t>::max()));
        ch.peakDbfs = levelDbfs(static_cast<double>(f.peak), run.bits);

        if (f.firstNonzero < 0) {
            ch.status = ChannelStatus::silent;
            ch.note = "silent";
        } else if (ch.peakDbfs < options.minLevelDbfs) {
            ch.status = ChannelStatus::belowLevel;
            ch.note = "peak " + decibels(ch.peakDbfs) + " dBFS, below " + decibels(options.minLevelDbfs) + " dBFS";
        } else if (run.signal == SignalKind::staircase) {
            measureStaircase(ch, samples, run, options);
        } else if (run.signal == SignalKind::pulse) {
            measurePulse(ch, samples, f, run.leadIn, options);
        } else if (run.signal == SignalKind::sine) {
            measureSineChannel(ch, samples, f, run, options);
        } else {
            ch.status = ChannelStatus::noSignal;
            ch.note = "no test signal recognised";
        }

        if (ch.status == ChannelStatus::usable) {
            ch.roundTrip = ch.onset - static_cast<double>(run.leadIn);
            ch.roundTripMs = ch.roundTrip / options.rate * 1000.0;
            ch.hiddenLatency = ch.roundTrip - static_cast<double>(run.reportedLatency());
            // Nothing comes back before it was sent: a signal that starts
            // within the lead-in was sent earlier than the latency line says.
            ch.roundTripKnown = std::round(ch.roundTrip * 100.0) >= 0.0;
            if (!ch.roundTripKnown)
                ch.doubt = "the dump's latency line does not fit its data: the signal starts at " +
                           formatSamples(ch.onset) + ", before the lead-in of " + std::to_string(run.leadIn) +
                           " samples ends";
        }
        const int64_t centre = ch.status == ChannelStatus::usable ? static_cast<int64_t>(std::floor(ch.onset))
                                                                  : std::max<int64_t>(f.firstNonzero, 0);
        ch.trace = makePlotTrace(samples, centre, options.plotEnvelope);
        judgeChannel(ch, options);
        run.channels.push_back(std::move(ch));
    }
    return run;
}

}  // namespace analyse
