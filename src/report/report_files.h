// The two report files a test leaves in the working directory: the results
// file, one per test with a block per run, and one sample dump file per
// run. Lines meant for a file that could not be opened are skipped; every
// file that cannot be opened or written costs one warning on standard
// error naming it, and the rest of the report goes on as before.
#pragma once

#include <cstdint>
#include <string>

#include "record/test_state.h"
#include "report/run_statistics.h"

extern const char resultsFileName[];

// Creates (or empties) the results file in text mode. An empty handle,
// after a warning, when it cannot be created.
FileHandle openResultsFile();
// Closes testState.resultsFile, if open, with a warning when what was still
// buffered cannot be written.
void closeResultsFile();

// The run's counters line, when the results file is open. First thing of
// every analysis.
void writeCountersLine();

// Creates the run's dump file and, when that worked, writes the run's block
// to the results file and the dump table. Ends the run's part of the
// results file: a write to it that failed since the counters line is
// warned about here, once. False when an interruption of the test stopped
// the dump table: the dump file, cut short, is then removed.
bool writeRunReport(int32_t runNumber, const RunStatistics& statistics);

// The dump file name of a run: "ASIO PCM(Run N).txt".
std::string dumpFileName(int32_t runNumber);
// What the last writeRunReport made of its dump file: none (it could not be
// created, or an interruption removed it), one that a write error cut
// short, or one created, written to the end and closed without an error.
enum class DumpOutcome { none, incomplete, whole };
DumpOutcome lastDumpOutcome();
