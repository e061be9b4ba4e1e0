#include "time_info.h"

#include <cstring>

ASIOSamples toSamples(int64_t value)
{
    const uint64_t bits = static_cast<uint64_t>(value);
    return ASIOSamples{static_cast<uint32_t>(bits >> 32), static_cast<uint32_t>(bits)};
}

ASIOTimeStamp toTimeStamp(int64_t value)
{
    const uint64_t bits = static_cast<uint64_t>(value);
    return ASIOTimeStamp{static_cast<uint32_t>(bits >> 32), static_cast<uint32_t>(bits)};
}

void fillTimeInfo(ASIOTime& time, int64_t samplePosition, int64_t systemTimeNs, double sampleRate,
                  bool sampleRateChanged)
{
    std::memset(&time, 0, sizeof time);
    time.timeInfo.speed = 1.0;
    time.timeInfo.systemTime = toTimeStamp(systemTimeNs);
    time.timeInfo.samplePosition = toSamples(samplePosition);
    time.timeInfo.sampleRate = sampleRate;
    time.timeInfo.flags = timeInfoSystemTimeValid | timeInfoSamplePositionValid | timeInfoSampleRateValid |
                          timeInfoSpeedValid | (sampleRateChanged ? timeInfoSampleRateChanged : 0u);
}
