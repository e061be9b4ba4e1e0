// What the user asked for on the command line that shapes the analysis.
#pragma once

#include <cstdint>
#include <optional>

namespace analyse {

enum class SignalKind { automatic, staircase, pulse, sine, none };

const char* signalKindName(SignalKind kind);

struct AnalysisOptions {
    double rate = 48000.0;  // Hz; one second of it is the signal's loop length
    SignalKind signal = SignalKind::automatic;
    std::optional<double> frequency;  // Hz of the sine; estimated from the data when absent
    std::optional<int64_t> maxExtraLatency;  // samples; unlimited when absent
    int bits = 0;  // full scale of the samples: 16 or 32, 0 to tell from the data
    double minLevelDbfs = -100.0;  // a channel whose peak stays below carries no usable signal
    double glitchDb = -50.0;  // a sample further than this from the fitted signal (re its amplitude) is a glitch
    bool allowSilent = false;  // channels without a usable signal do not fail the verdict
    // Keep each input's envelope over the whole run for a picture: a pass
    // over every sample that nothing else reads.
    bool plotEnvelope = false;

    // The signal loops after one second: this many samples.
    int64_t loopLength() const { return rate >= 1.0 ? static_cast<int64_t>(rate) : 1; }
};

}  // namespace analyse
