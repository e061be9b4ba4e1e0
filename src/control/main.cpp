#include <iostream>

#include "control/command_line.h"
#include "platform/standard_streams.h"

namespace {

// Runs before every static constructor of the program (the driver list
// scans the registry in one of them, opening its file), so no file can
// take the number of a closed standard stream.
__attribute__((constructor(101))) void guardStandardStreams() { openClosedStandardStreams(); }

}  // namespace

int main(int argc, char** argv) { return runCommandLine(argc, argv, std::cin); }
