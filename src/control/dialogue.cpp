#include "control/dialogue.h"

#include <cstdint>
#include <memory>
#include <vector>

#include "control/answer_reader.h"
#include "record/console.h"
#include "stream/run_progress.h"
#include "control/run_sequence.h"
#include "control/session_record.h"
#include "record/test_state.h"
#include "driver/driver_registry.h"
#include "platform/interruption.h"
#include "report/report_files.h"

namespace {

constexpr double sampleRateChoices[] = {44100.0, 48000.0, 96000.0, 192000.0};
constexpr int32_t sampleRateChoiceCount = 4;
constexpr int32_t pauseAfterRunMs = 500;

// The one line that tells an interrupted test apart from a finished one.
void reportInterruption(int32_t runNumber, RunEnd end, int32_t runCount)
{
    const int32_t completed = end == RunEnd::completed ? runNumber + 1 : runNumber;
    const char* what = end == RunEnd::completed        ? "after run "
                       : end == RunEnd::interruptedInDump ? "while writing the dump file (now removed) of run "
                                                          : "during run ";
    console::warning("interrupted by ", interruptionName(), " ", what, runNumber, " (runs count from 0); ", completed,
                     " of ", runCount, " runs completed");
}

// The session's lines are its own record for the operator: lost ones are
// told of, while the exit status stays that of the test.
void warnIfOutputLost()
{
    if (!console::out()) console::warning("standard output: cannot write; the console lines of this session are lost");
}

}  // namespace

bool collectDriverNames()
{
    // Standard output lists only the drivers found; why any other key was
    // passed over is for standard error.
    for (const SkippedDriverEntry& skipped : driverList.skippedEntries()) console::warning(skipped.reason);
    const int count = driverList.count();
    if (count <= 0) return false;
    std::vector<char> storage(static_cast<size_t>(count) * 32, '\0');
    std::vector<char*> names(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) names[static_cast<size_t>(i)] = &storage[static_cast<size_t>(i) * 32];
    const int filled = driverList.fillNames(names.data(), count);
    for (int i = 0; i < filled; ++i) testState.driverNames.emplace_back(names[static_cast<size_t>(i)]);
    return filled > 0;
}

bool askTestQuestions(std::istream& in, TestPlan& plan)
{
    TestState& s = testState;
    AnswerReader answers(in);

    plan.runCount = 1;
    plan.device = 0;
    console::prompt("How many runs? ");
    answers.readInteger(plan.runCount);

    console::prompt("Duration of each run in milli-seconds (1000 ms = 1 s)? ");
    answers.readInteger(s.runDurationMs);
    if (s.runDurationMs < 1 || s.runDurationMs > 100000) {
        console::line("Valid values are between 1 and 100000");
        return false;
    }

    console::prompt("Frequency in Hz of sinusoid (0 for pulse, -1 for staircase): ");
    answers.readNumber(s.toneFrequencyHz);
    if (s.toneFrequencyHz == 0.0) {
        s.pulseMode = true;
        s.staircaseMode = false;
    } else if (s.toneFrequencyHz == -1.0) {
        s.pulseMode = false;
        s.staircaseMode = true;
    }

    if (collectDriverNames()) {
        for (size_t i = 0; i < s.driverNames.size(); ++i) console::line(i, " ", s.driverNames[i]);
    }
    const int32_t driverCount = static_cast<int32_t>(s.driverNames.size());
    if (driverCount == 0) {
        console::line("No ASIO devices are available");
        return false;
    }
    if (driverCount >= 2) {
        console::prompt("Which device (enter number from list)?");
        if (!answers.readInteger(plan.device) || plan.device < 0 || plan.device >= driverCount) {
            console::line("Invalid device number. Vaid values range from ", 0, " to ", driverCount - 1);
            return false;
        }
    }

    for (int32_t id = 0; id < sampleRateChoiceCount; ++id) console::line(id, " ", sampleRateChoices[id] / 1000.0, " kHz");
    console::prompt("Enter sampling rate ID (left column):");
    int32_t rateId = 0;
    if (!answers.readInteger(rateId) || rateId < 0 || rateId >= sampleRateChoiceCount) {
        console::line("Invalid sample rate ID");
        return false;
    }
    s.sampleRate = sampleRateChoices[rateId];
    return true;
}

int runTestDialogue(std::istream& in)
{
    TestPlan plan;
    if (!askTestQuestions(in, plan)) {
        warnIfOutputLost();
        return 0;
    }

    // From here on a driver may be running: Ctrl-C and termination wind
    // the test down rather than end the process under the driver's feet.
    catchInterruptions();
    testState.resultsFile = openResultsFile();
    beginSessionRecord(plan);
    setRunTotal(plan.runCount);
    for (int32_t run = 0; run < plan.runCount; ++run) {
        const RunEnd end = runOnce(plan.device, run);
        if (end != RunEnd::completed || !pauseUnlessInterrupted(pauseAfterRunMs)) {
            closeResultsFile();
            reportInterruption(run, end, plan.runCount);
            warnIfOutputLost();
            interruptionHandled();
            return interruptionStatus();
        }
    }
    closeResultsFile();
    warnIfOutputLost();
    return 0;
}
