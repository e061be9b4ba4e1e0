#include "analyse/session_reader.h"

#include <limits>
#include <nlohmann/json.hpp>
#include <set>

#include "analyse/file_blocks.h"

namespace analyse {

const char sessionRecordFileName[] = "loopcheck-session.json";

namespace {

using nlohmann::json;

// A record of a few hundred runs is some hundred kilobytes; anything far
// beyond is not one.
constexpr size_t largestRecord = size_t{16} << 20;
// The record nests four deep; the limit keeps a hostile file from taking
// the parser's (and the destructor's) stack.
constexpr int deepestNesting = 32;

bool nestsTooDeep(const std::string& text)
{
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"') inString = false;
            continue;
        }
        if (c == '"') inString = true;
        else if (c == '[' || c == '{') {
            if (++depth > deepestNesting) return true;
        } else if (c == ']' || c == '}')
            --depth;
    }
    return false;
}

const json* field(const json& object, const char* key)
{
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

bool wholeNumber(const json& value, int64_t lowest, int64_t highest, int64_t& out)
{
    if (value.is_number_unsigned()) {
        const uint64_t n = value.get<uint64_t>();
        if (n > static_cast<uint64_t>(highest)) return false;
        out = static_cast<int64_t>(n);
    } else if (value.is_number_integer()) {
        out = value.get<int64_t>();
    } else {
        return false;
    }
    return out >= lowest && out <= highest;
}

// A field that must be there: a whole number within the bounds, or null
// when `nullable`.
bool readWhole(const json& object, const char* key, int64_t lowest, int64_t highest, bool nullable,
               std::optional<int64_t>& out, std::string& error)
{
    const json* value = field(object, key);
    if (value == nullptr) {
        error = std::string("no \"") + key + "\"";
        return false;
    }
    if (nullable && value->is_null()) {
        out.reset();
        return true;
    }
    int64_t n = 0;
    if (!wholeNumber(*value, lowest, highest, n)) {
        error = std::string("\"") + key + "\" is not a whole number from " + std::to_string(lowest) + " to " +
                std::to_string(highest);
        return false;
    }
    out = n;
    return true;
}

bool readRun(const json& entry, size_t position, RecordedRun& run, std::string& error)
{
    const std::string where = "runs[" + std::to_string(position) + "]: ";
    if (!entry.is_object()) {
        error = where + "not an object";
        return false;
    }
    std::optional<int64_t> index;
    if (!readWhole(entry, "index", 0, std::numeric_limits<int32_t>::max(), false, index, error)) {
        error = where + error;
        return false;
    }
    run.index = static_cast<int32_t>(*index);

    const json* flagged = field(entry, "flagged");
    const json* reasons = field(entry, "reasons");
    if (flagged == nullptr || !flagged->is_boolean()) {
        error = where + "\"flagged\" is not true or false";
        return false;
    }
    if (reasons == nullptr || !reasons->is_array()) {
        error = where + "\"reasons\" is not a list";
        return false;
    }
    for (const json& reason : *reasons) {
        if (!reason.is_string()) {
            error = where + "a reason is not a text";
            return false;
        }
        run.reasons.push_back(reason.get<std::string>());
    }
    // A flag without its reason still fails the run.
    if (flagged->get<bool>() && run.reasons.empty()) run.reasons.push_back("flagged without a reason");
    if (!flagged->get<bool>() && !run.reasons.empty()) {
        error = where + "reasons for a run that is not flagged";
        return false;
    }

    const json* dumpFile = field(entry, "dumpFile");
    if (dumpFile == nullptr || !(dumpFile->is_null() || dumpFile->is_string())) {
        error = where + "\"dumpFile\" is neither a file name nor null";
        return false;
    }
    if (dumpFile->is_string()) run.dumpFile = dumpFile->get<std::string>();
    const json* whole = field(entry, "dumpWhole");
    if (whole == nullptr || !whole->is_boolean()) {
        error = where + "\"dumpWhole\" is not true or false";
        return false;
    }
    run.dumpWhole = whole->get<bool>();
    return true;
}

bool readRecord(const json& document, SessionRecord& record, std::string& error)
{
    if (!document.is_object()) {
        error = "not a JSON object";
        return false;
    }
    const json* version = field(document, "version");
    int64_t number = 0;
    if (version == nullptr || !wholeNumber(*version, std::numeric_limits<int64_t>::min(),
                                           std::numeric_limits<int64_t>::max(), number)) {
        error = "no version number";
        return false;
    }
    if (number < oldestSessionVersion || number > newestSessionVersion) {
        error = "version " + std::to_string(number) + ", and this analyser reads versions " +
                std::to_string(oldestSessionVersion) + " and " + std::to_string(newestSessionVersion);
        return false;
    }

    const json* rate = field(document, "sampleRate");
    if (rate == nullptr || !rate->is_number() || !(rate->get<double>() >= 1000.0 && rate->get<double>() <= 1e7)) {
        error = "\"sampleRate\" is not a sample rate in Hz";
        return false;
    }
    record.rate = rate->get<double>();

    // The sine's frequency as the operator gave it (0 for the pulse, -1 for
    // the staircase); older or hand-made records may lack it.
    const json* answers = field(document, "answers");
    if (answers != nullptr && answers->is_object()) {
        const json* frequency = field(*answers, "frequencyHz");
        if (frequency != nullptr && frequency->is_number()) {
            const double hz = frequency->get<double>();
            if (hz > 0.0 && hz < 1e7) record.sineFrequency = hz;
        }
    }

    // Only a coded session's record has it; null when the session set up
    // no stream, so that no code was played.
    const json* code = number == newestSessionVersion ? field(document, "signalCode") : nullptr;
    if (number == newestSessionVersion && code == nullptr) {
        error = "no \"signalCode\"";
        return false;
    }
    if (code != nullptr && !code->is_null()) {
        if (*code == "staircase") record.signalCode = RoutingCode::staircase;
        else if (*code == "tones") record.signalCode = RoutingCode::tones;
        else {
            error = "\"signalCode\" is none of \"staircase\", \"tones\" and null";
            return false;
        }
    }

    std::optional<int64_t> outputs;
    if (!readWhole(document, "outputChannels", 0, std::numeric_limits<int32_t>::max(), true, outputs, error))
        return false;
    if (outputs) record.outputs = static_cast<int32_t>(*outputs);

    const json* type = field(document, "sampleType");
    if (type == nullptr || !(type->is_null() || type->is_object())) {
        error = "\"sampleType\" is neither an object nor null";
        return false;
    }
    if (type->is_object()) {
        std::optional<int64_t> typeNumber;
        if (!readWhole(*type, "number", std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(),
                       false, typeNumber, error)) {
            error = "\"sampleType\": " + error;
            return false;
        }
        record.sampleType = static_cast<int32_t>(*typeNumber);
    }

    const json* runs = field(document, "runs");
    if (runs == nullptr || !runs->is_array()) {
        error = "\"runs\" is not a list";
        return false;
    }
    std::set<int32_t> seen;
    for (size_t i = 0; i < runs->size(); ++i) {
        RecordedRun run;
        if (!readRun((*runs)[i], i, run, error)) return false;
        if (!seen.insert(run.index).second) {
            error = "run " + std::to_string(run.index) + " is listed twice";
            return false;
        }
        record.runs.push_back(std::move(run));
    }
    return true;
}

}  // namespace

const RecordedRun* SessionRecord::run(int32_t index) const
{
    for (const RecordedRun& r : runs)
        if (r.index == index) return &r;
    return nullptr;
}

bool parseSessionRecord(const std::string& text, SessionRecord& record, std::string& error)
{
    record = SessionRecord{};
    if (text.size() > largestRecord) {
        error = "larger than any session record (" + std::to_string(text.size()) + " bytes)";
        return false;
    }
    if (nestsTooDeep(text)) {
        error = "nested deeper than any session record";
        return false;
    }
    const json document = json::parse(text, nullptr, false);
    if (document.is_discarded()) {
        error = "not JSON";
        return false;
    }
    if (!readRecord(document, record, error)) {
        record = SessionRecord{};
        return false;
    }
    return true;
}

bool readSessionRecord(const std::string& path, SessionRecord& record, std::string& error)
{
    // Never waits on a FIFO, and reads only what a record could be.
    FileBlocks file;
    if (!file.open(path, error)) return false;
    if (file.sizeWhenOpened() > largestRecord) {
        error = path + ": larger than any session record (" + std::to_string(file.sizeWhenOpened()) + " bytes)";
        return false;
    }
    std::string text(static_cast<size_t>(file.sizeWhenOpened()), '\0');
    size_t got = 0;
    if (!file.read(text.data(), text.size(), got, error)) return false;
    text.resize(got);
    if (!file.unchanged(error)) return false;
    if (!parseSessionRecord(text, record, error)) {
        error = path + ": not a session record this analyser can read: " + error;
        return false;
    }
    return true;
}

int bitsOfSampleType(int32_t type)
{
    switch (type) {
    case 16: return 16;  // 16-bit integers, recorded as they are
    case 18:             // 32-bit integers
    case 19: return 32;  // floats, recorded scaled to 32-bit
    default: return 0;
    }
}

}  // namespace analyse
