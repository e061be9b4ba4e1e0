// The time record passed with bufferSwitchTimeInfo.
#pragma once

#include <cstdint>

#include "driver/asio_interface.h"

// Validity flags of the time info, as the interface defines them.
enum : uint32_t {
    timeInfoSystemTimeValid = 1u << 0,
    timeInfoSamplePositionValid = 1u << 1,
    timeInfoSampleRateValid = 1u << 2,
    timeInfoSpeedValid = 1u << 3,
    timeInfoSampleRateChanged = 1u << 4,
};

// Fills every field: position of the half's first sample, the system time
// of the switch in nanoseconds, the rate, normal speed; no time code.
void fillTimeInfo(ASIOTime& time, int64_t samplePosition, int64_t systemTimeNs, double sampleRate,
                  bool sampleRateChanged);

// 64-bit values travel as two 32-bit halves.
ASIOSamples toSamples(int64_t value);
ASIOTimeStamp toTimeStamp(int64_t value);
