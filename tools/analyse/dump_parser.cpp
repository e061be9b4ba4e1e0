#include "analyse/dump_parser.h"

#include <charconv>
#include <cstring>
#include <optional>
#include <system_error>

#include "analyse/file_blocks.h"

namespace analyse {

namespace {

// Walks the header lines; every failure names the line it is on.
class HeaderReader {
public:
    HeaderReader(const char* begin, const char* end) : p_(begin), end_(end) {}

    bool literal(const char* text)
    {
        const size_t n = std::strlen(text);
        if (static_cast<size_t>(end_ - p_) < n || std::memcmp(p_, text, n) != 0) return false;
        p_ += n;
        return true;
    }
    template <class Int>
    bool number(Int& value)
    {
        const auto r = std::from_chars(p_, end_, value);
        if (r.ec != std::errc() || r.ptr == p_) return false;
        p_ = r.ptr;
        return true;
    }
    // Accepts "\n" or "\r\n".
    bool lineEnd()
    {
        if (p_ < end_ && *p_ == '\r') ++p_;
        if (p_ < end_ && *p_ == '\n') {
            ++p_;
            ++line_;
            return true;
        }
        return false;
    }
    bool atLineEnd() const { return p_ == end_ || *p_ == '\n' || *p_ == '\r'; }
    const char* position() const { return p_; }
    int line() const { return line_; }

private:
    const char* p_;
    const char* end_;
    int line_ = 1;
};

std::string where(const std::string& name, int64_t line) { return name + ":" + std::to_string(line) + ": "; }

bool readLatencyLine(HeaderReader& in, DumpData& dump)
{
    return in.literal("Input latency is ") && in.number(dump.inputLatency) && in.literal(", output latency is ") &&
           in.number(dump.outputLatency) && in.lineEnd();
}

// What the harness can write: a magnitude, positions and counts of at least
// 0, and initial zeroes within the recording. Anything else would make the
// row count the line states (and so the verdict) meaningless.
bool plausible(const MaximaEntry& e)
{
    return e.maxAbs >= 0 && e.maxAbsSample >= 0 && e.totalSamples >= 0 && e.initialZeroes >= 0 &&
           e.initialZeroes <= e.totalSamples;
}

bool readMaximaLine(HeaderReader& in, DumpData& dump)
{
    while (!in.atLineEnd()) {
        MaximaEntry e;
        if (!(in.literal("Max Abs ") && in.number(e.maxAbs) && in.literal("(sample ") && in.number(e.maxAbsSample) &&
              in.literal(", Initial zeroes ") && in.number(e.initialZeroes) && in.literal(", total samples ") &&
              in.number(e.totalSamples) && in.literal(")\t") && plausible(e)))
            return false;
        dump.maxima.push_back(e);
    }
    return in.lineEnd();
}

// The position that starts the file's last row: the table's row count
// less one in a whole dump. Only used to size the columns up front.
int64_t lastRowPosition(const char* begin, const char* end)
{
    const char* p = end;
    while (p > begin && (p[-1] == '\n' || p[-1] == '\r')) --p;
    while (p > begin && p[-1] != '\n') --p;
    int64_t position = -1;
    std::from_chars(p, end, position);
    return position;
}

// The three lines above the table. False with `error` naming the line.
bool readHeader(const char*& p, const char* end, const std::string& name, DumpData& dump, std::string& error)
{
    HeaderReader header(p, end);
    if (!readLatencyLine(header, dump)) {
        error = where(name, 1) + "expected \"Input latency is N, output latency is N\"";
        return false;
    }
    if (!readMaximaLine(header, dump)) {
        error = where(name, 2) + "expected the line of \"Max Abs\" entries";
        return false;
    }
    if (!(header.literal("Position\tvalues") && header.lineEnd())) {
        error = where(name, 3) + "expected \"Position\tvalues\"";
        return false;
    }
    p = header.position();
    dump.columns.assign(dump.maxima.size(), {});
    return true;
}

// Reserves room for `lastPosition` + 1 rows, unless the table's `bytes`
// cannot hold that many: the hint comes from the file's end and may be
// anything.
void reserveRows(DumpData& dump, int64_t lastPosition, uint64_t bytes)
{
    // Every row takes at least two characters per cell: a digit and a tab.
    const int64_t bound = static_cast<int64_t>(bytes / (2 * (dump.columns.size() + 1))) + 1;
    const int64_t expectedRows = lastPosition + 1;
    if (expectedRows > 0 && expectedRows <= bound)
        for (auto& column : dump.columns) column.reserve(static_cast<size_t>(expectedRows));
}

// Every cell of a row holds at most an 11-character value and its tab.
constexpr size_t cellBytes = 12;

// Whether the text from `p` to the file's end can be the start of a row of
// `cells` cells (the position and one per input) that the writer stopped in.
// Anything else is not a cut row but text that was never a row.
bool cutRow(const char* p, const char* end, size_t cells)
{
    if (static_cast<size_t>(end - p) > cells * cellBytes + 1) return false;
    for (size_t cell = 0; p < end; ++cell) {
        const char* start = p;
        if (*p == '-') ++p;
        while (p < end && *p >= '0' && *p <= '9') ++p;
        if (p == end) return true;
        if (cell == cells) return *p == '\r' && p + 1 == end && p == start;
        if (*p != '\t' || (*start == '-' && p == start + 1)) return false;
        ++p;
    }
    return true;
}

// Reads the table's rows, block after block. It keeps its place between
// blocks; each block but the file's last ends with a line end.
class TableReader {
public:
    TableReader(DumpData& dump, const std::string& name) : dump_(dump), name_(name), ended_(dump.columns.size(), false) {}

    // False with `error` for a malformed row. In the file's last block a row
    // cut off before its line end (a dump whose writing stopped) is left
    // out with a note in `warnings`.
    bool rows(const char* p, const char* end, bool last, std::string& error, std::vector<std::string>& warnings)
    {
        const size_t channels = dump_.columns.size();
        int64_t row = dump_.rows;
        const char* failure = nullptr;
        const char* why = nullptr;
        while (p < end) {
            const char* rowStart = p;
            int64_t position = 0;
            auto r = std::from_chars(p, end, position);
            if (r.ec != std::errc() || r.ptr == p || r.ptr == end || *r.ptr != '\t') {
                failure = rowStart;
                why = "expected the row's position followed by a tab";
                break;
            }
            if (position != row) {
                failure = rowStart;
                why = "positions must count up from 0 by one";
                break;
            }
            p = r.ptr + 1;
            for (size_t c = 0; c < channels; ++c) {
                if (p < end && *p == '\t') {
                    // An empty cell: that input's recording ended before the table.
                    ended_[c] = true;
                    ++p;
                    continue;
                }
                int32_t value = 0;
                r = std::from_chars(p, end, value);
                if (r.ec != std::errc() || r.ptr == p || r.ptr == end || *r.ptr != '\t' || ended_[c]) {
                    why = ended_[c] ? "a value after an empty cell of the same column"
                                    : "expected a 32-bit sample value followed by a tab";
                    break;
                }
                dump_.columns[c].push_back(value);
                p = r.ptr + 1;
            }
            if (why == nullptr) {
                if (p < end && *p == '\r') ++p;
                if (p < end && *p == '\n') {
                    ++p;
                    ++row;
                    continue;
                }
                why = "expected the end of the row after its values";
            }
            failure = rowStart;
            break;
        }
        dump_.rows = row;
        if (failure == nullptr) return true;

        const bool ended = std::memchr(failure, '\n', static_cast<size_t>(end - failure)) != nullptr;
        if (ended || !last || !cutRow(failure, end, channels + 1)) {
            error = where(name_, row + 4) + why;
            return false;
        }
        // A row cut off before its line end: the writer stopped there.
        for (auto& column : dump_.columns)
            if (static_cast<int64_t>(column.size()) > row) column.resize(static_cast<size_t>(row));
        warnings.push_back(where(name_, row + 4) + "last row is incomplete and was left out");
        return true;
    }

    // No row is longer: text without a line end past this is no row.
    size_t longestRow() const { return (dump_.columns.size() + 1) * cellBytes + 2; }

private:
    DumpData& dump_;
    const std::string& name_;
    std::vector<bool> ended_;
};

// A whole dump's table runs until the outputs stopped. Each input's
// recording is longer by the lead-in of silence (or shorter, when it stopped
// early), so the maxima line's totals less the lead-in tell how many rows
// the harness wrote. Fewer rows: the file was cut while it was written, or
// afterwards.
bool checkWhole(const DumpData& dump, std::string& error)
{
    const int64_t leadIn = dump.leadIn();
    int64_t stated = 0;
    size_t input = 0;
    for (size_t c = 0; c < dump.maxima.size(); ++c) {
        const int64_t rows = int64_t{dump.maxima[c].totalSamples} - leadIn;
        if (rows > stated) {
            stated = rows;
            input = c;
        }
    }
    if (dump.rows >= stated) return true;
    // The harness sends no lead-in for latencies below 0 and its table then
    // matches the line; one that does not fit names the latency line.
    if (dump.inputLatency < 0 || dump.outputLatency < 0) {
        error = where(dump.path, 1) + "invalid latency line: input latency " + std::to_string(dump.inputLatency) +
                ", output latency " + std::to_string(dump.outputLatency) + " do not fit the table's " +
                std::to_string(dump.rows) + " rows";
        return false;
    }
    error = dump.path + ": cut dump: the table ends after " + std::to_string(dump.rows) +
            " rows where its maxima line states " + std::to_string(stated) + " (" +
            std::to_string(dump.maxima[input].totalSamples) + " samples of input " + std::to_string(input) +
            " less the lead-in of " + std::to_string(leadIn) + ")";
    return false;
}

// Bytes read from the file at a time. Large enough that the calls cost
// nothing next to the parsing, small enough to stay in the caches.
constexpr size_t blockSize = size_t{1} << 20;
// The last row of a table is far shorter than this.
constexpr size_t tailSize = 8192;

void startDump(DumpData& dump, const std::string& name)
{
    dump = DumpData{};
    dump.path = name;
    dump.runNumber = runNumberFromName(name);
}

size_t lineEnds(const char* begin, const char* end, size_t atMost)
{
    size_t n = 0;
    for (const char* p = begin; n < atMost && p < end; ++p) {
        p = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        if (p == nullptr) break;
        ++n;
    }
    return n;
}

}  // namespace

int32_t runNumberFromName(const std::string& path)
{
    const std::string tail = ").txt";
    const size_t open = path.rfind("(Run ");
    if (open == std::string::npos || path.size() < tail.size() ||
        path.compare(path.size() - tail.size(), tail.size(), tail) != 0)
        return -1;
    const char* first = path.data() + open + 5;
    const char* last = path.data() + path.size() - tail.size();
    int32_t number = -1;
    const auto r = std::from_chars(first, last, number);
    return r.ec == std::errc() && r.ptr == last ? number : -1;
}

bool parseDumpText(const char* begin, const char* end, const std::string& name, DumpData& dump,
                   std::string& error, std::vector<std::string>& warnings)
{
    startDump(dump, name);
    dump.bytes = static_cast<uint64_t>(end - begin);
    if (begin == end) {
        error = name + ": empty file, not a sample dump";
        return false;
    }
    const char* p = begin;
    if (!readHeader(p, end, name, dump, error)) return false;
    reserveRows(dump, lastRowPosition(p, end), static_cast<uint64_t>(end - p));
    TableReader table(dump, name);
    return table.rows(p, end, true, error, warnings) && checkWhole(dump, error);
}

bool readDumpFile(const std::string& path, DumpData& dump, std::string& error, std::vector<std::string>& warnings)
{
    FileBlocks file;
    if (!file.open(path, error)) return false;
    startDump(dump, path);
    // A text that does not parse may be one that changed under the reader:
    // then that is what is wrong with it.
    const auto failed = [&] {
        std::string changed;
        if (!file.unchanged(changed)) error = changed;
        return false;
    };

    std::vector<char> buffer(blockSize);
    size_t filled = 0;  // bytes at the buffer's start not parsed yet
    std::optional<TableReader> table;
    for (;;) {
        // A line longer than the buffer: make room for all of it.
        if (filled == buffer.size()) buffer.resize(buffer.size() * 2);
        size_t got = 0;
        if (!file.read(buffer.data() + filled, buffer.size() - filled, got, error)) return false;
        const bool last = got == 0;
        filled += got;
        const char* begin = buffer.data();
        const char* end = begin + filled;
        // Parse whole lines only; the rest waits for the next block.
        const char* whole = end;
        if (!last) {
            const void* lineEnd = memrchr(begin, '\n', filled);
            if (lineEnd == nullptr) {
                // Junk without line ends would otherwise be gathered whole
                // into memory before it could be refused.
                // The file is not read to its end here, so whether it changed
                // cannot be told: the text read is what is wrong.
                if (table && filled > table->longestRow() && !table->rows(begin, end, true, error, warnings))
                    return false;
                continue;
            }
            whole = static_cast<const char*>(lineEnd) + 1;
        }
        const char* p = begin;
        if (!table) {
            if (!last && lineEnds(begin, whole, 3) < 3) continue;
            if (file.bytesRead() == 0) {
                error = path + ": empty file, not a sample dump";
                return failed();
            }
            if (!readHeader(p, whole, path, dump, error)) return failed();
            std::vector<char> tail(tailSize);
            const size_t n = file.readTail(tail.data(), tail.size());
            const uint64_t header = static_cast<uint64_t>(p - begin);
            reserveRows(dump, lastRowPosition(tail.data(), tail.data() + n),
                        file.sizeWhenOpened() > header ? file.sizeWhenOpened() - header : 0);
            table.emplace(dump, path);
        }
        if (!table->rows(p, whole, last, error, warnings)) return failed();
        if (last) break;
        filled = static_cast<size_t>(end - whole);
        std::memmove(buffer.data(), whole, filled);
    }
    dump.bytes = file.bytesRead();
    return file.unchanged(error) && checkWhole(dump, error);
}

}  // namespace analyse
