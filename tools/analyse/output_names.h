// Checks the output files against the inputs before anything is read or
// written: no output may replace a dump, and no two outputs may be one file.
#pragma once

#include <string>

#include "analyse/command_line.h"

namespace analyse {

// False with `error` when an output (--json, --plot, a WAV file of --wav)
// is one of the dumps, however it is named, or two outputs are one file.
bool checkOutputNames(const CommandLine& line, std::string& error);

}  // namespace analyse
