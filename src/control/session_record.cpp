#include "control/session_record.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "platform/report_file.h"
#include "probe/probe_report.h"
#include "record/console.h"
#include "record/test_state.h"
#include "report/report_files.h"
#include "stream/accounts_json.h"
#include "stream/coded_signal.h"

const char sessionRecordName[] = "loopcheck-session.json";

namespace {

struct Session {
    TestPlan plan;
    std::vector<SessionRun> runs;
    // What the last failed write was told with: a folder that takes no
    // files would otherwise repeat the same line after every run.
    std::string lastWarning;
};
Session session;

const char* signalName()
{
    if (testState.staircaseMode) return "staircase";
    if (testState.pulseMode) return "pulse";
    return "sine";
}

nlohmann::json runJson(const SessionRun& run)
{
    using nlohmann::json;
    json entry = {{"index", run.index},
                  {"setUp", run.setUp},
                  {"streamed", run.streamed},
                  {"accounts", run.streamed ? accountsJson(run.accounts, run.reasons) : json(nullptr)},
                  {"flagged", !run.reasons.empty()},
                  {"reasons", run.reasons},
                  {"dumpFile", run.dumped ? json(dumpFileName(run.index)) : json(nullptr)},
                  {"dumpWhole", run.dumpWhole}};
    return entry;
}

nlohmann::json recordJson()
{
    using nlohmann::json;
    const TestState& s = testState;
    const int32_t device = session.plan.device;
    const bool named = device >= 0 && static_cast<size_t>(device) < s.driverNames.size();
    // The stream as the last run that set one up had it: the runs of one
    // session share it unless the driver changed its mind.
    const SessionRun* stream = nullptr;
    for (const SessionRun& run : session.runs)
        if (run.setUp) stream = &run;
    json runs = json::array();
    for (const SessionRun& run : session.runs) runs.push_back(runJson(run));
    json record = {{"version", s.codedSignal ? codedSessionRecordVersion : sessionRecordVersion},
                   {"answers",
                    {{"runs", session.plan.runCount},
                     {"durationMs", s.runDurationMs},
                     {"frequencyHz", s.toneFrequencyHz},
                     {"signal", signalName()},
                     {"device", device},
                     {"sampleRate", s.sampleRate}}},
                   {"driver", {{"name", named ? json(s.driverNames[static_cast<size_t>(device)]) : json(nullptr)}, {"index", device}}},
                   {"sampleRate", s.sampleRate},
                   {"bufferSize", stream != nullptr ? json(stream->bufferSize) : json(nullptr)},
                   {"sampleType",
                    stream != nullptr ? json{{"number", stream->sampleType}, {"name", sampleTypeName(stream->sampleType)}}
                                      : json(nullptr)},
                   {"outputChannels", stream != nullptr ? json(stream->outputChannels) : json(nullptr)},
                   {"inputChannels", stream != nullptr ? json(stream->inputChannels) : json(nullptr)},
                   {"runs", runs}};
    // Only a coded session names its code: a plain one's record stays as it was.
    if (s.codedSignal)
        record["signalCode"] = stream != nullptr ? json(staircaseCoded(stream->sampleType) ? "staircase" : "tones")
                                                 : json(nullptr);
    return record;
}

// Written beside its final name and then put in its place: a reader, or a
// test stopped half-way, never finds half a record.
bool writeRecord(const std::string& text, std::string& why)
{
    const std::string temporary = std::string(sessionRecordName) + ".tmp";
    std::FILE* file = createReportFile(temporary.c_str(), why);
    if (file == nullptr) return false;
    errno = 0;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
    int error = written ? 0 : (errno != 0 ? errno : EIO);
    errno = 0;
    if (std::fclose(file) != 0 && error == 0) error = errno != 0 ? errno : EIO;
    if (error == 0 && replaceReportFile(temporary.c_str(), sessionRecordName, why)) return true;
    if (error != 0) why = std::strerror(error);
    std::remove(temporary.c_str());
    return false;
}

void rewriteRecord()
{
    // A driver's name may hold any bytes: replaced rather than refused.
    const std::string text = recordJson().dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    std::string why;
    if (writeRecord(text, why)) {
        session.lastWarning.clear();
    } else if (why != session.lastWarning) {
        console::warning("could not write \"", sessionRecordName, "\": ", why);
        session.lastWarning = why;
    }
}

}  // namespace

// Written before the first run as well: a record of the last session must
// not stand beside this session's results file.
void beginSessionRecord(const TestPlan& plan)
{
    session = Session{};
    session.plan = plan;
    rewriteRecord();
}

void recordSessionRun(const SessionRun& run)
{
    session.runs.push_back(run);
    rewriteRecord();
}
