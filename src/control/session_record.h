// The session record, "loopcheck-session.json" beside the report files: what
// the harness knew of the test and of every run, for loopcheck-analyse and
// anyone else who reads the dumps later. Rewritten whole after every run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "control/dialogue.h"
#include "stream/run_accounts.h"

extern const char sessionRecordName[];
constexpr int sessionRecordVersion = 1;
// A coded session's record (loopcheck --coded) adds "signalCode": a reader
// of version 1 alone would take its dumps for one signal's.
constexpr int codedSessionRecordVersion = 2;

// One run as the record tells it.
struct SessionRun {
    int32_t index = 0;
    bool setUp = false;     // its stream was set up
    bool streamed = false;  // the driver started
    bool dumped = false;    // its dump file was made, whole or not
    bool dumpWhole = false;
    RunAccounts::Summary accounts;
    std::vector<std::string> reasons;  // the warning lines its accounts gave
    // The stream the run set up.
    int32_t bufferSize = 0;
    int32_t sampleType = 0;
    int32_t outputChannels = 0;
    int32_t inputChannels = 0;
};

// Forgets the runs of an earlier session and writes the record without
// runs; the answers come from `plan` and the test record.
void beginSessionRecord(const TestPlan& plan);
// Adds the run and rewrites the record. A record that cannot be written
// costs one warning on standard error and nothing else.
void recordSessionRun(const SessionRun& run);
