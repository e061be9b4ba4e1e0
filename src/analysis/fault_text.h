// A fault as one line of text for people, shared by the table and the plot.
#pragma once

#include <string>

#include "analysis/fault_list.h"

namespace analyse {

std::string describeFault(const Fault& fault);

// A number of samples with at most two decimals, none when whole.
std::string formatSamples(double samples);
// The same with a plus sign before a positive number.
std::string formatSignedSamples(double samples);

}  // namespace analyse
