// A run's inputs as one WAV file, so the recording can be opened in an
// audio editor: one channel per input, at the run's rate and width.
#pragma once

#include <string>

#include "analysis/dump_data.h"

namespace analyse {

// The file's name in `folder` (created when missing): the dump's name with
// ".wav" for ".txt". 16-bit runs are written as 16-bit samples, all others
// as 32-bit; recordings past 4 GiB as RF64. False with `error` when the
// file cannot be written.
bool writeRunWav(const DumpData& dump, int bits, double rate, const std::string& folder, std::string& written,
                 std::string& error);

// The name the WAV file of `dumpPath` gets.
std::string wavFileName(const std::string& dumpPath);

}  // namespace analyse
