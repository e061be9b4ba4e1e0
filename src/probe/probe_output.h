// The probe's report as people read it (a table) and as programs read it
// (one JSON document).
#pragma once

#include <ostream>

#include "probe/probe_report.h"

void writeProbeTable(const ProbeReport& report, std::ostream& out);
void writeProbeJson(const ProbeReport& report, std::ostream& out);
