// Everything one probe of a driver found out: what the driver says about
// itself, what each call answered and how long it took, and how its clock
// behaved in a short stream. Filled by the probe, written out as a table or
// as JSON.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver/asio_interface.h"
#include "stream/run_accounts.h"

// One call of the driver interface.
struct ProbeCall {
    std::string call;
    int32_t result = 0;           // the error code; for init the boolean it answered
    bool ok = true;
    double milliseconds = 0.0;
    std::string errorMessage;     // what getErrorMessage said after a failure
};

struct ProbeChannel {
    bool isInput = false;
    int32_t channel = 0;
    int32_t result = ASE_OK;      // of getChannelInfo; the fields below only on ASE_OK
    std::string errorMessage;     // what getErrorMessage said after a failure
    bool isActive = false;
    int32_t group = 0;
    int32_t type = 0;
    std::string name;
};

struct ProbeRate {
    double rate = 0.0;
    int32_t result = ASE_OK;      // of canSampleRate
};

struct ProbeClockSource {
    int32_t index = 0;
    int32_t associatedChannel = 0;
    int32_t associatedGroup = 0;
    bool isCurrent = false;
    std::string name;
};

// A message the driver sent through asioMessage, with what the probe
// answered and which step of the probe was under way.
struct ProbeMessage {
    std::string phase;
    int32_t selector = 0;
    int32_t value = 0;
    int32_t answer = 0;
};

// The callbacks of the short stream, counted and timed.
struct ProbeStream {
    bool ran = false;                // buffers were created and the driver started
    bool interrupted = false;        // Ctrl-C or termination ended it early
    std::string notRunBecause;       // set when it did not run
    double nominalRate = 0.0;        // 0 when the driver's rate is not known
    int32_t bufferSize = 0;
    double seconds = 0.0;
    int64_t callbacks = 0;
    int64_t timeInfoCallbacks = 0;   // through bufferSwitchTimeInfo
    int64_t plainCallbacks = 0;      // through bufferSwitch
    int64_t timedCallbacks = 0;      // those whose time was kept
    double measuredRate = 0.0;       // 0 with fewer than two timed callbacks
    double ppm = 0.0;                // measured against nominal
    double periodMs = 0.0;
    double meanIntervalMs = 0.0;
    double minIntervalMs = 0.0;
    double maxIntervalMs = 0.0;
    int64_t lateCallbacks = 0;       // more than half a period after their due time
    bool positionKnown = false;      // the driver reported sample positions
    int64_t firstPosition = 0;
    int64_t lastPosition = 0;
    int64_t framesCounted = 0;       // buffer size x callbacks between those two
    int64_t positionDifference = 0;  // reported advance minus frames counted
    int64_t rateChanges = 0;         // sampleRateDidChange calls
    double lastChangedRate = 0.0;
    // The same accounts a run keeps, and the warnings they gave.
    RunAccounts::Summary accounts;
    std::vector<std::string> accountWarnings;
};

struct ProbeReport {
    int32_t index = 0;
    // The registry's entry.
    std::string registryName;
    std::string keyName;
    std::string clsidText;
    std::string serverPath;

    bool opened = false;
    std::string openError;
    bool initialised = false;
    std::string initError;          // getErrorMessage after a refused init

    std::string driverName;
    int32_t driverVersion = 0;

    bool channelsKnown = false;
    int32_t inputs = 0;
    int32_t outputs = 0;
    std::vector<ProbeChannel> channels;  // inputs first, then outputs

    bool bufferSizesKnown = false;
    int32_t bufferMin = 0;
    int32_t bufferMax = 0;
    int32_t bufferPreferred = 0;
    int32_t bufferGranularity = 0;

    bool rateKnown = false;
    double currentRate = 0.0;
    std::vector<ProbeRate> rates;

    bool latenciesKnown = false;
    int32_t inputLatency = 0;
    int32_t outputLatency = 0;
    int32_t latencyBufferSize = 0;  // the buffers they were asked with; 0: no buffers

    bool clockSourcesKnown = false;
    std::vector<ProbeClockSource> clockSources;

    int32_t outputReadyResult = ASE_NotPresent;
    int32_t futureSelector = 0;
    int32_t futureResult = ASE_NotPresent;

    std::vector<ProbeMessage> messages;
    ProbeStream stream;
    std::vector<ProbeCall> calls;
};

// Names of the interface's codes, for people reading a report.
const char* errorCodeName(int32_t code);
const char* sampleTypeName(int32_t type);
const char* messageSelectorName(int32_t selector);
// A remark on latencies that cannot be a device's own (both 0), which some
// servers report for ports that carry no latency; null otherwise.
const char* latencyNote(const ProbeReport& report);
