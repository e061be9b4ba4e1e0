// The table of a run's input samples in the dump file: one row per
// position, the position and then each input's value, each followed by a
// tab.
#pragma once

#include "report/run_statistics.h"
#include "report/text_file_writer.h"

// False when an interruption of the test (Ctrl-C, termination) stopped
// the table before its last row.
bool writeDumpRows(TextFileWriter& dump, const RunStatistics& statistics);
