// The picture: for every input of every run, its waveform around the onset
// and the whole run's envelope, with the onset and every fault marked.
// Drawn with PLplot into a PNG file.
#pragma once

#include <string>
#include <vector>

#include "analysis/analysis_result.h"

namespace analyse {

// Inputs beyond this many rows are left out of the picture (with a note).
constexpr size_t plottedRowsAtMost = 48;

// False with `error` when the file cannot be written or PLplot has no PNG
// device. `left` tells how many inputs did not fit.
bool writePlot(const std::string& path, const std::vector<RunResult>& runs, double rate, std::string& error,
               size_t& left);

}  // namespace analyse
