// Fuzzes loopcheck-analyse's command line: each input is its arguments, one
// a line. The options are read, and the outputs they name are checked
// against the dumps as the analyser does before it reads any of them.
#include <cstdint>
#include <string>
#include <vector>

#include "analyse/command_line.h"
#include "analyse/output_names.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> arguments = {"loopcheck-analyse"};
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\n') {
            arguments.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) arguments.push_back(current);
    std::vector<const char*> argv;
    for (const std::string& a : arguments) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    analyse::CommandLine line;
    std::string error;
    if (analyse::parseCommandLine(static_cast<int>(arguments.size()), argv.data(), line, error))
        analyse::checkOutputNames(line, error);
    return 0;
}
