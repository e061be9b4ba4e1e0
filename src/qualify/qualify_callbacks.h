// The qualification's driver callbacks: the harness's own buffer switch
// (signal out, every input recorded), with the time of each call kept as
// the probe keeps it, and driver messages answered as a run answers them
// but without a console line, which would land amid the qualification's
// own output. One qualification at a time.
#pragma once

#include <cstdint>

#include "driver/asio_interface.h"

// Main thread, before the cell's buffers are created: room for the times
// of `capacity` callbacks per run (bounded); later ones are counted only.
void prepareCallbackTimes(int64_t capacity);
// Main thread, before each start: forgets the last run's times.
void clearCallbackTimes();
// Between start and the return of stop; outside it no time is kept.
void setTimingCallbacks(bool timing);
// After stop has returned: the times kept (at most the capacity) and the
// count of every call.
const int64_t* callbackTimes();
int64_t keptCallbackTimes();
int64_t countedCallbacks();
int64_t timeInfoCallbacks();

ASIOCallbacks qualifyCallbacks();
