#include "report_check.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

// "Max Abs a(sample b, Initial zeroes c, total samples d)\t", repeated.
bool parseEntries(const std::string& line, std::vector<InputEntry>* entries)
{
    const char* at = line.c_str();
    while (*at != '\0') {
        InputEntry e;
        int used = 0;
        if (std::sscanf(at, "Max Abs %lld(sample %lld, Initial zeroes %lld, total samples %lld)\t%n", &e.maxAbs,
                        &e.maxAbsSample, &e.initialZeroes, &e.totalSamples, &used) != 4 ||
            used == 0 || at[used - 1] != '\t')
            return false;
        entries->push_back(e);
        at += used;
    }
    return true;
}

// "peak(position) ", repeated.
bool parsePairs(const std::string& line, std::vector<std::pair<long long, long long>>* pairs)
{
    const char* at = line.c_str();
    while (*at != '\0') {
        long long peak = 0, position = 0;
        int used = 0;
        if (std::sscanf(at, "%lld(%lld) %n", &peak, &position, &used) != 2 || used == 0 || at[used - 1] != ' ')
            return false;
        pairs->emplace_back(peak, position);
        at += used;
    }
    return true;
}

// Decimal values each followed by a tab, to the end of the line.
bool parseRow(const std::string& line, std::vector<long long>* values)
{
    const char* at = line.c_str();
    while (*at != '\0') {
        char* end = nullptr;
        const long long v = std::strtoll(at, &end, 10);
        if (end == at || *end != '\t') return false;
        values->push_back(v);
        at = end + 1;
    }
    return true;
}

long long magnitude(long long v) { return v == INT32_MIN ? INT32_MAX : (v < 0 ? -v : v); }

std::string describe(const InputEntry& e)
{
    std::ostringstream o;
    o << "maxAbs " << e.maxAbs << " at " << e.maxAbsSample << ", initial zeroes " << e.initialZeroes << ", total "
      << e.totalSamples;
    return o.str();
}

// The block's statistics of input column `column`, worked out again from
// the dump table.
::testing::AssertionResult statisticsMatch(const ResultsBlock& block, const DumpTable& dump, size_t column,
                                           const RunShape& shape)
{
    const InputEntry& entry = block.entries[column];
    InputEntry recomputed;
    std::vector<std::pair<long long, long long>> slices;
    long long firstNonzero = -1;
    for (const auto& row : dump.rows) {
        const long long p = row[0];
        const long long v = row[column + 1];
        const long long m = magnitude(v);
        if (m > recomputed.maxAbs) {
            recomputed.maxAbs = m;
            recomputed.maxAbsSample = p;
        }
        if (p % shape.sliceLength == 0) slices.emplace_back(0, p);
        if (m > slices.back().first) slices.back() = {m, p};
        if (v != 0 && firstNonzero < 0) firstNonzero = p;
    }
    if (entry.maxAbs != recomputed.maxAbs || entry.maxAbsSample != recomputed.maxAbsSample)
        return ::testing::AssertionFailure() << "input " << column << ": the block says " << describe(entry)
                                             << ", its dump table gives maxAbs " << recomputed.maxAbs << " at "
                                             << recomputed.maxAbsSample;
    // Past the table's rows the recording goes on, so only a sound seen
    // in the table pins down where the silence ended.
    if (firstNonzero >= 0 && entry.initialZeroes != firstNonzero / shape.bufferSize * shape.bufferSize)
        return ::testing::AssertionFailure() << "input " << column << ": initial zeroes " << entry.initialZeroes
                                             << " but the first sound is at " << firstNonzero;
    if (block.slices[column] != slices)
        return ::testing::AssertionFailure() << "input " << column << ": the one-second peaks differ from the table's";
    return ::testing::AssertionSuccess();
}

}  // namespace

::testing::AssertionResult runConsistent(const ResultsBlock& block, const DumpTable& dump, const RunShape& shape)
{
    if (!block.reported) return ::testing::AssertionFailure() << "the block has the counters line alone";
    if (block.samples != block.calls * static_cast<unsigned long long>(shape.bufferSize))
        return ::testing::AssertionFailure() << block.calls << " calls of " << shape.bufferSize << " samples, but "
                                             << block.samples << " samples detected";
    if (dump.latencyLine != block.latencyLine || dump.entriesLine != block.entriesLine)
        return ::testing::AssertionFailure() << "the dump file's head differs from the results block:\n"
                                             << dump.latencyLine << "\n" << dump.entriesLine;
    if (block.entries.size() != static_cast<size_t>(shape.inputs))
        return ::testing::AssertionFailure() << block.entries.size() << " entries for " << shape.inputs << " inputs";
    std::vector<long long> channels;
    for (int i = 0; i < shape.inputs; ++i) channels.push_back(shape.outputs + i);
    if (block.channels != channels) return ::testing::AssertionFailure() << "the slice lines name other channels";

    // The table runs over the first recording: the first output's signal
    // after the lead-in, or without outputs the first input.
    const long long samples = static_cast<long long>(block.samples);
    const long long positions =
        shape.outputs > 0 ? (samples > shape.leadIn ? samples - shape.leadIn : 0) : samples;
    if (static_cast<long long>(dump.rows.size()) != positions)
        return ::testing::AssertionFailure() << "the dump table has " << dump.rows.size() << " rows, expected "
                                             << positions;
    for (size_t p = 0; p < dump.rows.size(); ++p) {
        const auto& row = dump.rows[p];
        if (row.size() != static_cast<size_t>(shape.inputs) + 1 || row[0] != static_cast<long long>(p))
            return ::testing::AssertionFailure() << "dump row " << p << " is not its position and "
                                                 << shape.inputs << " values";
    }
    for (size_t i = 0; i < block.entries.size(); ++i) {
        if (block.entries[i].totalSamples != samples)
            return ::testing::AssertionFailure() << "input " << i << " recorded " << block.entries[i].totalSamples
                                                 << " samples of " << samples;
        if (auto match = statisticsMatch(block, dump, i, shape); !match) return match;
    }
    return ::testing::AssertionSuccess();
}

bool parseResultsFile(const std::string& text, std::vector<ResultsBlock>* blocks, std::string* why)
{
    const std::vector<std::string> lines = linesOf(text);
    size_t i = 0;
    auto fail = [&](const std::string& reason) {
        *why = "results file line " + std::to_string(i + 1) + ": " + reason + "\n--- whole file ---\n" + text;
        return false;
    };
    while (i < lines.size()) {
        ResultsBlock block;
        int used = 0;
        if (std::sscanf(lines[i].c_str(), "Calls %llu, samples detected %llu%n", &block.calls, &block.samples,
                        &used) != 2 ||
            static_cast<size_t>(used) != lines[i].size())
            return fail("expected the counters line");
        ++i;
        if (i < lines.size() && lines[i].rfind("Input latency is ", 0) == 0) {
            block.reported = true;
            block.latencyLine = lines[i];
            if (std::sscanf(lines[i].c_str(), "Input latency is %lld, output latency is %lld", &block.inputLatency,
                            &block.outputLatency) != 2)
                return fail("unreadable latency line");
            ++i;
            if (i >= lines.size() || !parseEntries(lines[i], &block.entries)) return fail("unreadable entries line");
            block.entriesLine = lines[i];
            ++i;
            for (size_t k = 0; k < block.entries.size(); ++k, i += 2) {
                long long channel = 0, count = 0;
                int n = 0;
                if (i + 1 >= lines.size() ||
                    std::sscanf(lines[i].c_str(), "Channel %lld\t%lld%n", &channel, &count, &n) != 2 ||
                    static_cast<size_t>(n) != lines[i].size())
                    return fail("expected a channel's slice line");
                block.channels.push_back(channel);
                block.slices.emplace_back();
                if (!parsePairs(lines[i + 1], &block.slices.back()) ||
                    static_cast<long long>(block.slices.back().size()) != count)
                    return fail("the peaks do not match the channel's count");
            }
            if (i >= lines.size() || !lines[i].empty()) return fail("expected the empty line ending the block");
            ++i;
        }
        blocks->push_back(std::move(block));
    }
    return true;
}

bool parseDumpFile(const std::string& text, DumpTable* dump, std::string* why)
{
    const std::vector<std::string> lines = linesOf(text);
    if (lines.size() < 3 || lines[0].rfind("Input latency is ", 0) != 0 || lines[2] != "Position\tvalues") {
        *why = "the dump file's head is not the latency line, the entries and \"Position\\tvalues\"";
        return false;
    }
    dump->latencyLine = lines[0];
    dump->entriesLine = lines[1];
    dump->rows.reserve(lines.size() - 3);
    for (size_t i = 3; i < lines.size(); ++i) {
        dump->rows.emplace_back();
        if (!parseRow(lines[i], &dump->rows.back())) {
            *why = "dump line " + std::to_string(i + 1) + " is not tab-ended numbers: " + lines[i];
            return false;
        }
    }
    return true;
}

::testing::AssertionResult reportsConsistent(const HarnessResult& result, int analysedRuns, const RunShape& shape,
                                             RunFiles* files, const std::vector<int>& withoutDump)
{
    RunFiles own;
    RunFiles& f = files != nullptr ? *files : own;
    std::string why;
    if (!result.hasFile("ASIO Results.txt")) return ::testing::AssertionFailure() << "no results file";
    if (!parseResultsFile(result.file("ASIO Results.txt"), &f.blocks, &why))
        return ::testing::AssertionFailure() << why;
    if (f.blocks.size() != static_cast<size_t>(analysedRuns))
        return ::testing::AssertionFailure() << f.blocks.size() << " blocks for " << analysedRuns << " runs";
    f.dumps.assign(f.blocks.size(), DumpTable{});
    for (int k = 0; k < analysedRuns; ++k) {
        const std::string name = "ASIO PCM(Run " + std::to_string(k) + ").txt";
        const ResultsBlock& block = f.blocks[static_cast<size_t>(k)];
        if (std::find(withoutDump.begin(), withoutDump.end(), k) != withoutDump.end()) {
            if (block.reported) return ::testing::AssertionFailure() << "run " << k << " has a report without its dump";
            continue;
        }
        DumpTable& dump = f.dumps[static_cast<size_t>(k)];
        if (!result.hasFile(name)) return ::testing::AssertionFailure() << "no " << name;
        if (!parseDumpFile(result.file(name), &dump, &why)) return ::testing::AssertionFailure() << name << ": " << why;
        if (auto consistent = runConsistent(block, dump, shape); !consistent) return consistent << " (" << name << ")";
    }
    return ::testing::AssertionSuccess();
}

std::vector<long long> staircaseSampleCounts(const std::string& out)
{
    std::vector<long long> counts;
    for (const std::string& line : linesOf(out)) {
        long long channel = 0, mismatches = 0, samples = 0;
        int used = 0;
        if (std::sscanf(line.c_str(), "Channel %lld had %lld mismatches out of %lld Data samples%n", &channel,
                        &mismatches, &samples, &used) == 3 &&
            static_cast<size_t>(used) == line.size())
            counts.push_back(samples);
    }
    return counts;
}

bool everyInputValue(const DumpTable& dump, const std::function<bool(long long, long long)>& fits, std::string* why)
{
    for (const auto& row : dump.rows) {
        for (size_t c = 1; c < row.size(); ++c) {
            if (!fits(row[0], row[c])) {
                *why = "input column " + std::to_string(c - 1) + " at position " + std::to_string(row[0]) +
                       " holds " + std::to_string(row[c]);
                return false;
            }
        }
    }
    return true;
}
