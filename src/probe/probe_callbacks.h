// The probe's own driver callbacks: they keep the outputs silent, count and
// time every buffer switch, keep the sample position the driver reports
// with it, and record every message the driver sends. The driver calls them
// without a context argument, so what they fill is one process-wide record;
// one probe at a time.
#pragma once

#include <cstdint>
#include <vector>

#include "probe/probe_report.h"
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

// Readies the record for a stream, on the main thread before createBuffers:
// it keeps `infos` (the entries for createBuffers) and `bytesPerHalf` (the
// size of one half of each entry's buffer; 0 for those left alone) and
// returns the entries to hand to createBuffers. Room is made for the times
// and positions of `capacity` callbacks; later ones are counted only. The
// storage stays until the next stream, so a driver that calls after its
// stop failed writes nowhere it should not.
ASIOBufferInfo* prepareProbeCallbacks(IASIO* driver, std::vector<ASIOBufferInfo> infos,
                                      std::vector<int32_t> bytesPerHalf, int64_t capacity);
// Between start and the return of stop; outside it the buffer switch
// touches nothing.
void setProbeStreaming(bool streaming);
// Whether the callbacks tell the driver, after each half, that the outputs
// are ready.
void setProbeOutputReady(bool callOutputReady);
void setProbePhase(ProbePhase phase);
ASIOCallbacks probeCallbacks();

// Just before the driver's start, and once its stop has returned: the
// stream's accounts, held against `durationMs` at `rate`.
void beginProbeAccounts(int32_t bufferSize, double rate, int32_t durationMs);
void endProbeAccounts();

// Hands what the callbacks recorded to the report. Only after the driver's
// stop has returned.
void collectProbeCallbacks(ProbeStream& stream, std::vector<ProbeMessage>& messages);
// Hands over the messages alone; for a probe that never started.
void collectProbeMessages(std::vector<ProbeMessage>& messages);
