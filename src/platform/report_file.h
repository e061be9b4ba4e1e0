// Creates a report file in the working folder for writing, as fopen with
// "wt" does, but never waits on the name: a FIFO that nothing reads would
// otherwise block the harness for ever, and no signal could end it cleanly.
#pragma once

#include <cstdio>
#include <string>

// The file opened for writing (a regular file emptied), or null with the
// reason in `why`.
std::FILE* createReportFile(const char* name, std::string& why);
