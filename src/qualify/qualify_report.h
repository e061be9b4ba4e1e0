// Everything a qualification found: the driver, and for every cell (a rate
// and a buffer size) whether it was offered, each run's timing, accounts
// and analysis, and the cell's figures and verdict. Filled by the
// qualification, written out as JSON, JUnit XML and an HTML page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/analysis_result.h"
#include "analysis/channel_routing.h"
#include "probe/probe_report.h"
#include "qualify/qualify_options.h"
#include "stream/run_accounts.h"

enum class CellVerdict { passed, failed, notOffered, interrupted, notRun };

const char* cellVerdictName(CellVerdict verdict);

struct QualifyRun {
    int32_t number = 0;  // from 0 within the cell
    analyse::SignalKind signal = analyse::SignalKind::none;
    bool interrupted = false;  // cut short: neither analysed nor judged
    ProbeStream timing;        // rate, intervals and late callbacks, as the probe times them
    RunAccounts::Summary accounts;
    std::vector<std::string> accountWarnings;  // the run is flagged when there are any
    uint64_t lostSamples = 0;  // samples a recording could not take
    analyse::RunResult analysis;
};

// Samples of one input around the first fault a cell found (or, for an
// input that failed without one, around where its signal should start).
struct FaultWaveform {
    bool present = false;
    int32_t run = 0;
    std::string label;  // the input
    std::string what;   // the fault in words
    int64_t start = 0;  // position of samples[0] in the run's recording
    int64_t position = 0;
    std::vector<int32_t> samples;
};

struct QualifyCell {
    double rate = 0.0;
    int32_t bufferSize = 0;
    CellVerdict verdict = CellVerdict::notRun;
    std::string notOfferedBecause;

    bool latenciesKnown = false;
    int32_t inputLatency = 0;
    int32_t outputLatency = 0;
    std::vector<QualifyRun> runs;

    // Over every input of every run.
    bool roundTripKnown = false;
    double roundTrip = 0.0;      // measured, samples: the first usable input of the first run
    double minRoundTrip = 0.0;
    double maxRoundTrip = 0.0;
    double hiddenLatency = 0.0;  // measured less reported
    int64_t glitches = 0;        // faults of every kind
    int64_t lateCallbacks = 0;
    std::vector<std::string> failures;  // why it failed, one reason each
    FaultWaveform firstFault;

    // The routing, from one more start with each output playing its own
    // code: the staircase's where the format carries it, else tones.
    bool routingMeasured = false;
    analyse::RoutingCode routingCode = analyse::RoutingCode::staircase;
    std::vector<analyse::RoutedInput> routing;  // by input
    double routingSeconds = 0.0;                // how long that start streamed

    int64_t reportedRoundTrip() const { return int64_t{inputLatency} + int64_t{outputLatency}; }
};

struct QualifyReport {
    int32_t index = 0;
    std::string registryName;
    std::string driverName;
    bool opened = false;
    bool initialised = false;
    std::string error;  // why nothing could be qualified, if nothing could

    int32_t inputs = 0;
    int32_t outputs = 0;
    int32_t sampleType = 0;
    int32_t bufferMin = 0;
    int32_t bufferMax = 0;
    int32_t bufferPreferred = 0;
    int32_t bufferGranularity = 0;

    QualifyOptions options;
    std::vector<double> rates;   // the rates tried, in order
    std::vector<int32_t> sizes;  // the sizes tried, in order
    std::vector<QualifyCell> cells;  // rate by rate, size by size

    bool interrupted = false;
    std::string interruptedBy;  // "SIGINT"...

    int32_t offeredCells() const;
    int32_t failedCells() const;
    // "passed", "failed", "not qualified" (nothing offered or opened) or
    // "interrupted".
    std::string verdict() const;
};
