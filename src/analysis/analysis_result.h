// What the analysis found for each input of each run, the figures the
// table, the JSON file and the plot are made from.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/analysis_options.h"
#include "analysis/channel_routing.h"
#include "analysis/fault_list.h"

namespace analyse {

enum class ChannelStatus {
    usable,       // the signal was found and measured
    silent,       // every sample is zero
    belowLevel,   // its peak stays below the usable level
    noSignal,     // not silent, but the expected signal is not in it
};

const char* channelStatusName(ChannelStatus status);

// Samples kept for the picture: the waveform around the onset and the
// whole run's envelope.
struct PlotTrace {
    int64_t windowStart = 0;         // table position of window[0]
    std::vector<int32_t> window;     // samples around the onset
    int64_t binSize = 1;             // table positions per envelope bin
    std::vector<int32_t> envelopeMin;
    std::vector<int32_t> envelopeMax;
};

struct ChannelResult {
    int column = 0;         // the input's column in the dump
    std::string label;      // "input 0", or the harness's channel number
    int64_t samples = 0;    // length of the column
    ChannelStatus status = ChannelStatus::silent;
    std::string note;       // why a channel is not usable, or what was assumed

    int32_t peak = 0;       // largest magnitude
    double peakDbfs = 0.0;

    // Only for usable channels.
    double onset = 0.0;          // table position where the looped signal starts
    double roundTrip = 0.0;      // onset less the lead-in, in samples
    double roundTripMs = 0.0;
    double hiddenLatency = 0.0;  // round trip less the reported input + output latency
    // The onset lies past the lead-in, so the round trip means something.
    bool roundTripKnown = false;

    std::optional<bool> bitExact;  // staircase only
    int64_t checkedSamples = 0;    // samples compared with the expected signal
    std::vector<double> pulses;    // pulse signal: each pulse's refined position
    double amplitude = 0.0;        // sine: fitted amplitude; pulse: the first pulse's peak
    double snrDb = 0.0;            // sine: fitted amplitude over what the fit leaves
    // Sine: how much faster the recording's clock ran than the playback's,
    // where the phase was followed long enough to tell.
    std::optional<double> driftPpm;

    FaultList faults;
    // Faults the signal cannot show, so that a pass vouches for the
    // latency only (a dropout in a pulse's silence is silence).
    std::vector<std::string> unchecked;
    std::string doubt;  // why the round trip cannot be trusted, if it cannot
    bool passed = false;
    std::vector<std::string> failures;  // why it did not pass

    PlotTrace trace;
};

// One input of a coded session's run: the routing it measured and why
// that fails, if it does.
struct RoutedChannel {
    int column = 0;
    std::string label;
    RoutedInput routed;
    bool passed = false;
    std::vector<std::string> failures;
};

struct RunResult {
    std::string file;
    int32_t runNumber = -1;
    int32_t inputLatency = 0;
    int32_t outputLatency = 0;
    int64_t leadIn = 0;
    int64_t rows = 0;
    SignalKind signal = SignalKind::none;
    std::optional<double> frequency;  // the sine's, given or estimated
    bool frequencyEstimated = false;
    int bits = 32;
    std::vector<ChannelResult> channels;
    // Why the harness itself flagged the run (a short stream, a reset), as
    // its session record says: whatever the samples show, it fails.
    std::vector<std::string> harnessFlags;
    // A coded session's run has its routing, by input, in place of
    // `channels`: every output played its own code, which no one signal's
    // check would take for its signal.
    bool routingMeasured = false;
    RoutingCode routingCode = RoutingCode::staircase;
    std::vector<RoutedChannel> routing;

    int64_t reportedLatency() const { return int64_t{inputLatency} + int64_t{outputLatency}; }
};

}  // namespace analyse

namespace analyse {

// How much was read and how fast.
struct ReadStatistics {
    int files = 0;
    uint64_t bytes = 0;
    double seconds = 0.0;

    double megabytesPerSecond() const { return seconds > 0.0 ? static_cast<double>(bytes) / 1e6 / seconds : 0.0; }
};

}  // namespace analyse
