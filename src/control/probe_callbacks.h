// The probe's own driver callbacks: they keep the outputs silent, count and
// time every buffer switch, keep the sample position the driver reports
// with it, and record every message the driver sends. The driver calls them
// without a context argument, so what they fill is one process-wide record;
// one probe at a time.
#pragma once

#include <cstdint>
#include <vector>

#include "control/probe_report.h"
#include "driver/asio_interface.h"

// What the probe is doing when a message comes.
enum class ProbePhase : int32_t {
    createBuffers,
    outputReady,
    start,
    streaming,
    stop,
    disposeBuffers,
};

const char* probePhaseName(ProbePhase phase);

// Readies the record for a stream, on the main thread before createBuffers.
// `infos` (outputs and inputs as handed to createBuffers) and `bytesPerHalf`
// (the size of one half of each entry's buffer, 0 for inputs) must outlive
// the stream. Room is made for the times and positions of `capacity`
// callbacks; later ones are counted only.
void prepareProbeCallbacks(IASIO* driver, const ASIOBufferInfo* infos, const int32_t* bytesPerHalf,
                           int32_t entryCount, int64_t capacity);
// Whether the callbacks tell the driver, after each half, that the outputs
// are ready.
void setProbeOutputReady(bool callOutputReady);
void setProbePhase(ProbePhase phase);
ASIOCallbacks probeCallbacks();

// Hands what the callbacks recorded to the report and drops the storage.
// Only after the driver's stop has returned.
void collectProbeCallbacks(ProbeStream& stream, std::vector<ProbeMessage>& messages);
// Hands over the messages alone; for a probe that never started.
void collectProbeMessages(std::vector<ProbeMessage>& messages);
