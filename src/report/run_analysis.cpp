#include "report/run_analysis.h"

#include <algorithm>
#include <cstddef>

#include "record/test_state.h"
#include "report/input_scan.h"
#include "report/report_files.h"
#include "report/run_statistics.h"
#include "report/staircase_check.h"

namespace {

// One second of samples, the length of a slice: the rate truncated, kept
// within what a position can count.
int32_t sliceLengthFor(double sampleRate)
{
    if (!(sampleRate >= 1.0)) return 1;
    if (sampleRate >= 2147483647.0) return 2147483647;
    return static_cast<int32_t>(sampleRate);
}

}  // namespace

bool analyseRun(int32_t runNumber)
{
    TestState& s = testState;
    writeCountersLine();

    const int32_t outputs = usedOutputChannels();
    const int32_t inputs = usedInputChannels();

    RunStatistics statistics;
    statistics.firstInput = outputs;
    statistics.positionCount = static_cast<int32_t>(std::min<size_t>(s.captures[0].size(), INT32_MAX));
    statistics.inputs.resize(static_cast<size_t>(inputs));

    for (int32_t i = 0; i < inputs; ++i) {
        const SampleRecording& recording = s.captures[static_cast<size_t>(outputs + i)];
        statistics.inputs[static_cast<size_t>(i)].initialZeroes =
            initialZeroes(recording.data(), recording.size(), s.bufferSize);
    }

    // A coded staircase differs from output to output by design: the check
    // of what was sent knows only the one every output plays.
    if (s.staircaseMode && s.signalChannelBytes == 0 && outputs > 0) checkStaircase(outputs);

    // Positions past the table's length take no part; nor, in a recording
    // that stopped early, do positions it never received.
    const int32_t sliceLength = sliceLengthFor(s.sampleRate);
    for (int32_t i = 0; i < inputs; ++i) {
        const SampleRecording& recording = s.captures[static_cast<size_t>(outputs + i)];
        const size_t count = std::min(recording.size(), static_cast<size_t>(statistics.positionCount));
        scanPeaks(recording.data(), count, sliceLength, statistics.inputs[static_cast<size_t>(i)]);
    }

    const bool whole = writeRunReport(runNumber, statistics);

    // Every recording, not only those of this run's channels: the next run
    // starts empty whatever its channel counts. The storage stays.
    for (SampleRecording& recording : s.captures) recording.clear();
    return whole;
}
