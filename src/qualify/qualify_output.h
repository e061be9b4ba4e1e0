// The qualification's report: report.json, junit.xml and index.html in the
// report folder, and the summary on standard output.
#pragma once

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

#include "qualify/qualify_report.h"

// The version of report.json's layout; raised when a field changes meaning
// or goes away (new fields do not raise it).
constexpr int qualifyReportVersion = 1;

nlohmann::json qualifyJson(const QualifyReport& report);

// One line per cell and the verdict.
void writeQualifySummary(const QualifyReport& report, std::ostream& out);

// Creates `folder` when needed and checks that a file can be made in it.
// False with the reason in `why`.
bool prepareReportFolder(const std::string& folder, std::string& why);

// Writes every file of the report into `folder`. False with the reason
// in `why` when one could not be written.
bool writeQualifyReport(const QualifyReport& report, const std::string& folder, std::string& why);
