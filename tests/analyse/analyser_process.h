// Runs loopcheck-analyse as a user would, collecting what it printed and
// its exit status.
#pragma once

#include <string>
#include <vector>

struct AnalyserResult {
    std::string out;
    std::string err;
    int exitCode = -1;
};

AnalyserResult runAnalyser(const std::vector<std::string>& arguments);

std::string readFile(const std::string& path);
