// The analyser's command line: dump files and options.
#pragma once

#include <string>
#include <vector>

#include "analysis/analysis_options.h"
#include "analysis/route_map.h"

namespace analyse {

struct CommandLine {
    AnalysisOptions analysis;
    std::vector<std::string> files;
    std::string jsonFile;  // empty: none
    std::string wavFolder;
    std::string plotFile;
    int firstChannel = -1;  // --outputs: inputs numbered after that many outputs
    bool rateGiven = false;  // --rate, which a session record's rate does not replace
    std::string sessionFile;  // --session; empty: the record beside the dumps, if any
    // A coded session's routing expected, and the loudest leak allowed.
    RouteMap routeMap;
    double maxCrosstalkDb = defaultMaxCrosstalkDb;
    bool crosstalkGiven = false;
    bool help = false;
    bool version = false;
};

// False with `error` set for an unknown option, a missing or malformed
// value, or no file to read.
bool parseCommandLine(int argc, const char* const* argv, CommandLine& line, std::string& error);

const char* usageText();

}  // namespace analyse
