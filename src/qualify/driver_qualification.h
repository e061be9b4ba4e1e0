// The qualification of one driver: every cell of rates by buffer sizes,
// each set up once and streamed for a number of runs with every input
// recorded into memory, analysed in-process and judged.
#pragma once

#include <cstdint>

#include "qualify/qualify_options.h"
#include "qualify/qualify_report.h"

// Opens driver `index` of a fresh scan of the registry and qualifies it
// into `report`. The driver is stopped and released before it returns,
// an interruption included (`report.interrupted` then says so, and the
// cells hold what ran).
void qualifyInstalledDriver(int32_t index, const QualifyOptions& options, QualifyReport& report);

// The memory one run of a cell needs: its recordings and their copy for
// the analysis, in bytes.
uint64_t cellMemoryBytes(int32_t channels, int32_t inputs, double seconds, double rate, int32_t bufferSize);
// The most a cell may ask for.
uint64_t cellMemoryLimit();
