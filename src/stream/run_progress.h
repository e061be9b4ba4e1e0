// The main thread's wait while the driver streams, with a progress line on
// standard error when that is a terminal: which run of how many, and a bar
// for the run's streaming time. The line is cleared when the wait ends, so
// nothing of it stays among the harness's own lines; standard output is
// never touched.
#pragma once

#include <cstdint>
#include <string>

// How many runs the test has; 0 (the default) shows no run total.
void setRunTotal(int32_t runs);

// Text the line starts with, before the run ("48000 Hz, 256 samples: "),
// for waits that are part of something larger than a run; "" for none.
void setProgressLabel(const std::string& text);

// Sleeps for `milliseconds` measured from now, drawing the progress of
// run `runNumber` (counted from 0) as it goes. Ends early, with false, when
// the test is interrupted (Ctrl-C, termination).
bool waitWhileStreaming(int32_t milliseconds, int32_t runNumber);

// Sleeps for `milliseconds`; false when an interruption ended it early.
bool pauseUnlessInterrupted(int32_t milliseconds);
