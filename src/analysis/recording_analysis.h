// One dump, analysed: which signal it carries, then for every input its
// level, where the looped signal starts, the round trip and the faults,
// and whether it passed.
#pragma once

#include <string>

#include "analysis/analysis_options.h"
#include "analysis/analysis_result.h"
#include "analysis/dump_data.h"

namespace analyse {

// `firstChannel` numbers the inputs as the harness does (after its
// outputs); below 0 they are named by column.
RunResult analyseRun(const DumpData& dump, const AnalysisOptions& options, int firstChannel);

// A result that names the dump's run and its latencies and holds nothing
// measured yet: what every way of reading a run starts from.
RunResult runOfDump(const DumpData& dump);

// The input's name in the table: "input N" by column, or "channel N" as
// the harness numbers it.
std::string channelLabel(int column, int firstChannel);

}  // namespace analyse
