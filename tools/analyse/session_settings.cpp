#include "analyse/session_settings.h"

#include <cmath>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "analyse/dump_parser.h"

namespace analyse {

namespace {

std::string folderOf(const std::string& file)
{
    const std::filesystem::path folder = std::filesystem::path(file).parent_path();
    return folder.empty() ? std::string(".") : folder.lexically_normal().string();
}

std::string numberText(double value)
{
    std::ostringstream text;
    text << value;
    return text.str();
}

}  // namespace

bool findSessionRecord(const CommandLine& line, SessionUse& use, std::string& error,
                       std::vector<std::string>& warnings)
{
    use = SessionUse{};
    if (!line.sessionFile.empty()) {
        if (!readSessionRecord(line.sessionFile, use.record, error)) return false;
        use.found = true;
        use.path = line.sessionFile;
        return true;
    }
    if (line.files.empty()) return true;
    // Dumps from several folders have no one record beside them.
    const std::string folder = folderOf(line.files.front());
    for (const std::string& file : line.files)
        if (folderOf(file) != folder) return true;
    const std::string path = (std::filesystem::path(folder) / sessionRecordFileName).string();
    std::error_code failure;
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, failure))) return true;
    std::string why;
    if (!readSessionRecord(path, use.record, why)) {
        warnings.push_back(why + "; the dumps are analysed without it");
        use.record = SessionRecord{};
        return true;
    }
    use.found = true;
    use.path = path;
    return true;
}

void applySessionRecord(const SessionUse& use, CommandLine& line, std::vector<std::string>& warnings)
{
    if (!use.found) return;
    const SessionRecord& r = use.record;
    AnalysisOptions& a = line.analysis;
    if (r.rate) {
        if (!line.rateGiven)
            a.rate = *r.rate;
        else if (std::fabs(a.rate - *r.rate) > 1e-6)
            warnings.push_back("--rate " + numberText(a.rate) + " disagrees with the session record's " +
                               numberText(*r.rate) + " Hz (" + use.path + "); --rate is used");
    }
    if (r.outputs) {
        if (line.firstChannel < 0)
            line.firstChannel = *r.outputs;
        else if (line.firstChannel != *r.outputs)
            warnings.push_back("--outputs " + std::to_string(line.firstChannel) +
                               " disagrees with the session record's " + std::to_string(*r.outputs) +
                               " outputs (" + use.path + "); --outputs is used");
    }
    // The frequency the harness played, so that a clock difference is told
    // against it rather than hidden in a measured one.
    if (r.sineFrequency) {
        if (!a.frequency)
            a.frequency = *r.sineFrequency;
        else if (std::fabs(*a.frequency - *r.sineFrequency) > 1e-9)
            warnings.push_back("--frequency " + numberText(*a.frequency) + " disagrees with the session record's " +
                               numberText(*r.sineFrequency) + " Hz (" + use.path + "); --frequency is used");
    }
    const int bits = r.sampleType ? bitsOfSampleType(*r.sampleType) : 0;
    if (bits != 0) {
        if (a.bits == 0)
            a.bits = bits;
        else if (a.bits != bits)
            warnings.push_back("--bits " + std::to_string(a.bits) + " disagrees with the session record's sample type " +
                               std::to_string(*r.sampleType) + ", " + std::to_string(bits) + "-bit (" + use.path +
                               "); --bits is used");
    }
}

bool dumpOfSession(const SessionUse& use, const std::string& file, std::string& warning)
{
    if (!use.found) return true;
    const int32_t number = runNumberFromName(file);
    if (number < 0) return true;
    const RecordedRun* run = use.record.run(number);
    if (run != nullptr && !run->dumpFile.empty()) return true;
    warning = file + ": not a dump of the session in " + use.path + " (" +
              (run == nullptr ? "it has no run " + std::to_string(number)
                              : "its run " + std::to_string(number) + " left no dump") +
              "); left out";
    return false;
}

std::vector<std::string> sessionFlags(const SessionUse& use, int32_t runNumber)
{
    if (!use.found || runNumber < 0) return {};
    const RecordedRun* run = use.record.run(runNumber);
    if (run == nullptr) return {};
    std::vector<std::string> flags = run->reasons;
    // The harness warned when it wrote it; a cut or unwritten table would
    // read as a shorter run.
    if (!run->dumpWhole) flags.push_back("the harness could not write the dump whole");
    return flags;
}

}  // namespace analyse
