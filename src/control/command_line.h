// The program's options. Without any, the program is the console dialogue;
// with them it shows its usage or version, lists the installed drivers,
// probes one or qualifies one.
#pragma once

#include <istream>

// Exit statuses of the options (the dialogue itself always ends with 0).
constexpr int exitSuccess = 0;
constexpr int exitDriverFailed = 1;  // the probed driver could not be opened or initialised; a qualified cell failed
constexpr int exitUsage = 2;         // an unknown option, a missing or bad value; nothing could be qualified
constexpr int exitOutputFailed = 3;  // standard output could not be written in full
// An interrupted probe ends with the status the interruption calls for
// (130 for Ctrl-C, 143 for termination).

// `in` feeds the dialogue when there are no options.
int runCommandLine(int argc, char** argv, std::istream& in);
