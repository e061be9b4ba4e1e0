// Fuzzes loopcheck-analyse's command line: each input is its arguments, one
// a line. The options are read, and the outputs they name are checked
// against the dumps as the analyser does before it reads any of them.
#include <cstdint>
#include <string>
#include <vector>

#include "analyse/command_line.h"
#include "analyse/output_names.h"
#include "argument_lines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> arguments;
    argumentLines(data, size, "loopcheck-analyse", arguments);
    std::vector<const char*> argv;
    for (const std::string& a : arguments) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    analyse::CommandLine line;
    std::string error;
    if (analyse::parseCommandLine(static_cast<int>(arguments.size()), argv.data(), line, error))
        analyse::checkOutputNames(line, error);
    return 0;
}
