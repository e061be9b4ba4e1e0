// One run of a test: load and initialise the driver, set up the streams,
// stream for the run's duration, release the driver and analyse.
#pragma once

#include <cstdint>

void runOnce(int32_t deviceIndex, int32_t runNumber);

// True when the driver could be loaded, whatever its initialisation gave.
bool initDevice(int32_t deviceIndex);

// Disposes the driver's buffers and releases it.
void deinitDevice();
