#include <iostream>

#include "control/dialogue.h"
#include "platform/standard_streams.h"

namespace {

// Runs before every static constructor of the program (the driver list
// scans the registry in one of them, opening its file), so no file can
// take the number of a closed standard stream.
__attribute__((constructor(101))) void guardStandardStreams() { openClosedStandardStreams(); }

}  // namespace

int main() { return runTestDialogue(std::cin); }
