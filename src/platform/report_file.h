// Creates a report file in the working folder for writing, as fopen with
// "wt" does, but never waits on the name: a FIFO that nothing reads would
// otherwise block the harness for ever, and no signal could end it cleanly.
#pragma once

#include <cstdio>
#include <string>

// The file opened for writing (a regular file emptied), or null with the
// reason in `why`.
std::FILE* createReportFile(const char* name, std::string& why);

// Puts the finished file `temporary` in the place of `name`, in one step,
// so that a reader finds the old file or the new one, never half of
// either. False with the reason in `why`; `temporary` is then left as it was.
bool replaceReportFile(const char* temporary, const char* name, std::string& why);
