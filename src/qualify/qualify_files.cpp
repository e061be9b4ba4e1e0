// The report folder and the files in it, and the summary on standard
// output.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <sstream>
#include <system_error>

#include "platform/report_file.h"
#include "qualify/qualify_output.h"
#include "qualify/qualify_pages.h"

namespace {

std::string pathIn(const std::string& folder, const char* name)
{
    return (std::filesystem::path(folder) / name).string();
}

bool writeFile(const std::string& path, const std::string& text, std::string& why)
{
    std::string reason;
    std::FILE* file = createReportFile(path.c_str(), reason);
    if (file == nullptr) {
        why = path + ": " + reason;
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        why = path + ": cannot write";
        return false;
    }
    return true;
}

std::string fixed(double value, int decimals)
{
    std::ostringstream text;
    text << std::fixed << std::setprecision(decimals) << value;
    return text.str();
}

}  // namespace

bool prepareReportFolder(const std::string& folder, std::string& why)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        why = folder + ": " + error.message();
        return false;
    }
    if (!std::filesystem::is_directory(folder, error)) {
        why = folder + ": not a folder";
        return false;
    }
    // A folder that takes no file is better found before the driver streams.
    return writeFile(pathIn(folder, "report.json"), "{}\n", why);
}

bool writeQualifyReport(const QualifyReport& report, const std::string& folder, std::string& why)
{
    bool ok = writeFile(pathIn(folder, "report.json"), qualifyJson(report).dump(2) + "\n", why);
    std::string pageWhy;
    if (!writeFile(pathIn(folder, "index.html"), qualifyPage(report), pageWhy) && ok) {
        why = pageWhy;
        ok = false;
    }
#if LOOPCHECK_HAVE_PUGIXML  // not in the MinGW builds, which have no pugixml
    std::string junit;
    if (!(qualifyJunit(report, junit) && writeFile(pathIn(folder, "junit.xml"), junit, pageWhy)) && ok) {
        why = pageWhy.empty() ? "junit.xml: cannot be made" : pageWhy;
        ok = false;
    }
#endif
    return ok;
}

void writeQualifySummary(const QualifyReport& report, std::ostream& out)
{
    out << "rate     size  reported  measured  hidden  glitches  late  verdict\n";
    for (const QualifyCell& cell : report.cells) {
        out << std::left << std::setw(7) << fixed(cell.rate, 0) << std::right << std::setw(6) << cell.bufferSize;
        const bool measured = cell.verdict == CellVerdict::passed || cell.verdict == CellVerdict::failed;
        if (measured) {
            out << std::setw(10) << cell.reportedRoundTrip();
            if (cell.roundTripKnown)
                out << std::setw(10) << fixed(cell.roundTrip, 2) << std::setw(8) << fixed(cell.hiddenLatency, 2);
            else
                out << std::setw(10) << "-" << std::setw(8) << "-";
            out << std::setw(10) << cell.glitches << std::setw(6) << cell.lateCallbacks;
        } else {
            out << std::setw(10) << "-" << std::setw(10) << "-" << std::setw(8) << "-" << std::setw(10) << "-"
                << std::setw(6) << "-";
        }
        out << "  " << cellVerdictName(cell.verdict) << '\n';
    }
    out << "qualification of driver " << report.index << " (" << report.driverName << "): " << report.verdict()
        << ", " << report.failedCells() << " of " << report.offeredCells() << " offered cells failed\n";
}
