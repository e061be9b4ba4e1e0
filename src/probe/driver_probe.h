// The driver probe: loads one driver, initialises it, asks it every query
// the interface has, then streams silence for a short while and times its
// callbacks.
#pragma once

#include <cstdint>

#include "probe/probe_report.h"
#include "driver/asio_interface.h"

struct ProbeOptions {
    double seconds = 2.0;
    double rate = 0.0;       // 0: the driver's current rate
    int32_t bufferSize = 0;  // 0: the driver's preferred size
};

// The rates canSampleRate is asked about.
extern const double probedSampleRates[13];

// Probes an opened driver: `report` receives every answer. False when the
// driver refused init; the probe then stops there.
bool probeDriver(IASIO& driver, const ProbeOptions& options, ProbeReport& report);

// Opens driver `index` of a fresh scan of the registry and probes it. False
// when it could not be opened or initialised.
bool probeInstalledDriver(int32_t index, const ProbeOptions& options, ProbeReport& report);
