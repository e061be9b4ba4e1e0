// The driver's buffer-switch callback: the audio heart of the harness.
#pragma once

#include "driver/asio_interface.h"

// Fills every output half with the lead-in silence and then the looping
// signal, records what was sent and what was received, and advances the
// run counters. Runs on the driver's real-time thread.
void processBufferSwitch(ASIOLong doubleBufferIndex, ASIOBool directProcess);

// The same for the time-info variant: the time record's sample position
// goes into the run's accounts.
void processTimedBufferSwitch(ASIOLong doubleBufferIndex, const ASIOTime& time);
