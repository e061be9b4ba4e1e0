// One run of a test: load and initialise the driver, set up the streams,
// stream for the run's duration, release the driver and analyse.
#pragma once

#include <cstdint>

// How a run ended. An interrupted run (Ctrl-C, termination) still stops
// and releases its driver, but is not analysed; one interrupted while its
// dump file was written leaves its results block and no dump file.
enum class RunEnd { completed, interrupted, interruptedInDump };

RunEnd runOnce(int32_t deviceIndex, int32_t runNumber);

// True when the driver could be loaded, whatever its initialisation gave.
bool initDevice(int32_t deviceIndex);

// Disposes the driver's buffers and releases it.
void deinitDevice();
