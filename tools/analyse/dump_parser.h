// Reads the harness's sample dump files ("ASIO PCM(Run N).txt"): the
// latency line, the line of maxima, the "Position\tvalues" heading and the
// table. Built for multi-gigabyte dumps: the file is read in large blocks
// and its numbers with std::from_chars in one pass.
#pragma once

#include <string>
#include <vector>

#include "analysis/dump_data.h"

namespace analyse {

// False with `error` as "PATH:LINE: what was wrong" (or "PATH: ..." for a
// file that cannot be read) when the file is not a readable dump: also when
// it changed while it was read, and when its table has fewer rows than its
// maxima line states (a cut dump). A last row cut off before its line end
// is left out with a note in `warnings`; the dump is then cut as well,
// unless its maxima line says otherwise.
bool readDumpFile(const std::string& path, DumpData& dump, std::string& error, std::vector<std::string>& warnings);

// The same for text already in memory; `name` stands for the file in
// messages and gives the run number.
bool parseDumpText(const char* begin, const char* end, const std::string& name, DumpData& dump,
                   std::string& error, std::vector<std::string>& warnings);

// The N of a name ending in "(Run N).txt"; -1 for any other name.
int32_t runNumberFromName(const std::string& path);

}  // namespace analyse
