// The harness's session record ("loopcheck-session.json") as the analyser
// uses it: read as hostile input and reduced to the plain values the
// analysis is given.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/channel_routing.h"

namespace analyse {

extern const char sessionRecordFileName[];
// Version 2 is a coded session's record, version 1 with "signalCode".
constexpr int64_t oldestSessionVersion = 1;
constexpr int64_t newestSessionVersion = 2;

struct RecordedRun {
    int32_t index = 0;
    std::vector<std::string> reasons;  // why the harness flagged it; empty when it did not
    std::string dumpFile;              // empty: the run left no dump
    bool dumpWhole = false;
};

struct SessionRecord {
    std::optional<double> rate;           // Hz
    std::optional<int32_t> sampleType;    // the driver's sample type number
    std::optional<int32_t> outputs;       // output channels the harness numbered the inputs after
    std::optional<double> sineFrequency;  // Hz, when the session played a sine
    // The channel code every output played its own of (loopcheck --coded);
    // none for a session that played one signal on every output.
    std::optional<RoutingCode> signalCode;
    std::vector<RecordedRun> runs;

    // The run of that number, or null when the record has none.
    const RecordedRun* run(int32_t index) const;
};

// False with `error` set when the text is not JSON, holds another version,
// or lacks or misshapes a field the analyser reads.
bool parseSessionRecord(const std::string& text, SessionRecord& record, std::string& error);
// The file read and parsed; `error` names the file.
bool readSessionRecord(const std::string& path, SessionRecord& record, std::string& error);

// The full scale a sample type records in: 16 or 32, 0 when unknown.
int bitsOfSampleType(int32_t type);

}  // namespace analyse
