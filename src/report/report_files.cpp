#include "report/report_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/report_file.h"
#include "record/console.h"
#include "report/dump_table.h"
#include "report/text_file_writer.h"

const char resultsFileName[] = "ASIO Results.txt";

namespace {

// A results-file write that failed and is not yet warned about. The file
// stays open for the whole test, so its failures are collected over the
// writes of one run and told once, at the end of the run's block.
int pendingResultsError = 0;

DumpOutcome dumpOutcome = DumpOutcome::none;

void noteResultsError(int error)
{
    if (pendingResultsError == 0) pendingResultsError = error;
}

void warnCannotCreate(const char* name, const std::string& why)
{
    console::warning("could not create \"", name, "\": ", why);
}

void warnCannotWrite(const char* name, int error)
{
    console::warning("could not write \"", name, "\": ", std::strerror(error));
}

// Everything of the run's block reaches the system here, so a full disk
// shows now rather than at the end of the test.
void endResultsBlock()
{
    std::FILE* results = testState.resultsFile.get();
    if (results == nullptr) return;
    errno = 0;
    if (std::fflush(results) != 0) noteResultsError(errno != 0 ? errno : EIO);
    if (pendingResultsError != 0) {
        warnCannotWrite(resultsFileName, pendingResultsError);
        pendingResultsError = 0;
        std::clearerr(results);
    }
}

// "%d" of a length, which no recording reaches in a run the dialogue allows.
int32_t lengthAsInt(size_t length)
{
    return static_cast<int32_t>(std::min<size_t>(length, INT32_MAX));
}

void writeLatencyLine(TextFileWriter& file)
{
    file.text("Input latency is ");
    file.number(testState.inputLatency.load(std::memory_order_relaxed));
    file.text(", output latency is ");
    file.number(testState.outputLatency.load(std::memory_order_relaxed));
    file.character('\n');
}

void writeEntry(TextFileWriter& file, const InputStatistics& input, size_t recordingLength)
{
    file.text("Max Abs ");
    file.number(input.maxAbs);
    file.text("(sample ");
    file.number(input.maxAbsSample);
    file.text(", Initial zeroes ");
    file.number(input.initialZeroes);
    file.text(", total samples ");
    file.number(lengthAsInt(recordingLength));
    file.text(")\t");
}

void writeSlices(TextFileWriter& results, int32_t channel, const InputStatistics& input)
{
    results.text("Channel ");
    results.number(channel);
    results.character('\t');
    results.number(lengthAsInt(input.secondPeaks.size()));
    results.character('\n');
    const size_t slices = std::min(input.secondPeaks.size(), input.secondPeakSamples.size());
    for (size_t k = 0; k < slices; ++k) {
        results.number(input.secondPeaks[k]);
        results.character('(');
        results.number(input.secondPeakSamples[k]);
        results.text(") ");
    }
    results.character('\n');
}

}  // namespace

FileHandle openResultsFile()
{
    std::string why;
    FileHandle file(createReportFile(resultsFileName, why));
    if (!file) warnCannotCreate(resultsFileName, why);
    pendingResultsError = 0;
    return file;
}

void closeResultsFile()
{
    std::FILE* results = testState.resultsFile.release();
    if (results == nullptr) return;
    const bool failed = std::ferror(results) != 0;
    errno = 0;
    const bool closeFailed = std::fclose(results) != 0;
    if (closeFailed) noteResultsError(errno != 0 ? errno : EIO);
    if (pendingResultsError != 0 || failed) warnCannotWrite(resultsFileName, pendingResultsError != 0 ? pendingResultsError : EIO);
    pendingResultsError = 0;
}

void writeCountersLine()
{
    TextFileWriter results(testState.resultsFile.get());
    results.text("Calls ");
    results.number(testState.callCount);
    results.text(", samples detected ");
    results.number(testState.samplesProcessed);
    results.character('\n');
    if (const int error = results.finish(false)) noteResultsError(error);
}

std::string dumpFileName(int32_t runNumber)
{
    char name[64];
    std::snprintf(name, sizeof name, "ASIO PCM(Run %d).txt", runNumber);
    return name;
}

DumpOutcome lastDumpOutcome()
{
    return dumpOutcome;
}

bool writeRunReport(int32_t runNumber, const RunStatistics& statistics)
{
    dumpOutcome = DumpOutcome::none;
    const std::string dumpNameText = dumpFileName(runNumber);
    const char* dumpName = dumpNameText.c_str();
    std::string why;
    FileHandle dumpFile(createReportFile(dumpName, why));
    if (!dumpFile) {
        warnCannotCreate(dumpName, why);
        endResultsBlock();
        return true;
    }

    TextFileWriter results(testState.resultsFile.get());
    TextFileWriter dump(dumpFile.get(), TextFileWriter::Writes::background);
    const size_t firstInput = static_cast<size_t>(std::clamp(statistics.firstInput, int32_t{0}, maxChannels));
    const size_t inputs = std::min(statistics.inputs.size(), static_cast<size_t>(maxChannels) - firstInput);

    writeLatencyLine(results);
    writeLatencyLine(dump);
    for (size_t i = 0; i < inputs; ++i) {
        const size_t length = testState.captures[firstInput + i].size();
        writeEntry(dump, statistics.inputs[i], length);
        writeEntry(results, statistics.inputs[i], length);
    }
    results.character('\n');
    for (size_t i = 0; i < inputs; ++i)
        writeSlices(results, static_cast<int32_t>(firstInput + i), statistics.inputs[i]);
    dump.character('\n');
    results.character('\n');
    if (const int error = results.finish(false)) noteResultsError(error);

    dump.text("Position\tvalues\n");
    const bool whole = writeDumpRows(dump, statistics);
    int dumpError = dump.finish(false);
    errno = 0;
    const bool closeFailed = std::fclose(dumpFile.release()) != 0;
    if (closeFailed && dumpError == 0) dumpError = errno != 0 ? errno : EIO;
    // A table cut short would read as a run that streamed less; no file is
    // better than that one.
    if (!whole)
        std::remove(dumpName);
    else if (dumpError != 0)
        warnCannotWrite(dumpName, dumpError);
    dumpOutcome = !whole ? DumpOutcome::none : dumpError != 0 ? DumpOutcome::incomplete : DumpOutcome::whole;

    endResultsBlock();
    return whole;
}
