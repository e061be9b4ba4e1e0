// Fuzzes the analyser's reading of the harness's session record: each input
// is the record's text. What a record that reads sets in the analysis, and
// which dumps it keeps, follow as the analyser would take them.
#include <cstdint>
#include <string>
#include <vector>

#include "analyse/command_line.h"
#include "analyse/session_reader.h"
#include "analyse/session_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    analyse::SessionUse use;
    std::string error;
    if (!analyse::parseSessionRecord(text, use.record, error)) return 0;
    use.found = true;
    use.path = "loopcheck-session.json";
    analyse::CommandLine line;
    line.files = {"ASIO PCM(Run 0).txt", "ASIO PCM(Run 7).txt", "other.txt"};
    std::vector<std::string> warnings;
    analyse::applySessionRecord(use, line, warnings);
    for (const std::string& file : line.files) {
        std::string warning;
        analyse::dumpOfSession(use, file, warning);
    }
    for (const analyse::RecordedRun& run : use.record.runs) analyse::sessionFlags(use, run.index);
    return 0;
}
