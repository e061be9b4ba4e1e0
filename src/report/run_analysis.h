// The analysis after each run: the staircase check on the console, the
// statistics of every input recording, the report files, and the emptied
// recordings for the next run.
#pragma once

#include <cstdint>

// `runNumber` counts from 0 and names the run's dump file. Main thread,
// after the driver has been stopped and released. False when an
// interruption of the test cut the dump file short (it is removed).
bool analyseRun(int32_t runNumber);
