// The program entry: the operator's questions, the driver and sample-rate
// lists, the results file and the runs.
#pragma once

#include <istream>

// Reads the answers from `in`. Returns the exit status, 0 on every path.
int runTestDialogue(std::istream& in);

// Appends the display names of the installed drivers to the test's driver
// names; true when there is at least one.
bool collectDriverNames();
