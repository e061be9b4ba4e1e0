#include "driver_answers.h"

#include <cmath>
#include <cstring>

#include "time_info.h"

void copyText(char* destination, size_t capacity, const char* text)
{
    std::strncpy(destination, text, capacity - 1);
    destination[capacity - 1] = '\0';
}

bool sameRate(double a, double b) { return std::fabs(a - b) < 1e-6; }

ASIOError listSingleClock(ASIOClockSource* clocks, ASIOLong* numSources, const char* name)
{
    if (clocks == nullptr || numSources == nullptr)
        return ASE_InvalidParameter;
    if (*numSources >= 1) {
        std::memset(&clocks[0], 0, sizeof clocks[0]);
        clocks[0].index = 0;
        clocks[0].associatedChannel = -1;
        clocks[0].associatedGroup = -1;
        clocks[0].isCurrentSource = ASIOTrue;
        copyText(clocks[0].name, sizeof clocks[0].name, name);
    }
    *numSources = 1;
    return ASE_OK;
}

ASIOError selectSingleClock(ASIOLong reference) { return reference == 0 ? ASE_OK : ASE_InvalidParameter; }

ASIOError readSamplePosition(const std::atomic<bool>& streaming, const std::atomic<int64_t>& samplePosition,
                             const std::atomic<int64_t>& systemTimeNs, ASIOSamples* sPos, ASIOTimeStamp* tStamp)
{
    if (sPos == nullptr || tStamp == nullptr)
        return ASE_InvalidParameter;
    if (!streaming.load())
        return ASE_SPNotAdvancing;
    *sPos = toSamples(samplePosition.load());
    *tStamp = toTimeStamp(systemTimeNs.load());
    return ASE_OK;
}
