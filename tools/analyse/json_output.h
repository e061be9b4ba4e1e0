// Everything the analysis found, machine-readable.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "analysis/analysis_options.h"
#include "analysis/analysis_result.h"
#include "analysis/channel_verdict.h"
#include "analysis/cross_run_summary.h"
#include "analysis/routed_run.h"

namespace analyse {

// `routing` is given for a coded session only: a plain one's document
// holds no routing field.
nlohmann::json analysisJson(const std::vector<RunResult>& runs, const std::vector<ChannelSummary>& summary,
                            const ReadStatistics& read, const Verdict& verdict, const AnalysisOptions& options,
                            const RoutingOptions* routing = nullptr);

// False with `error` naming the file when it cannot be written.
bool writeJsonFile(const std::string& path, const nlohmann::json& document, std::string& error);

}  // namespace analyse
