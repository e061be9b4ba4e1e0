#include "analyse/dump_parser.h"

#include <charconv>
#include <cstring>
#include <system_error>

#include "analyse/mapped_file.h"

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

bool readMaximaLine(HeaderReader& in, DumpData& dump)
{
    while (!in.atLineEnd()) {
        MaximaEntry e;
        if (!(in.literal("Max Abs ") && in.number(e.maxAbs) && in.literal("(sample ") && in.number(e.maxAbsSample) &&
              in.literal(", Initial zeroes ") && in.number(e.initialZeroes) && in.literal(", total samples ") &&
              in.number(e.totalSamples) && in.literal(")\t")))
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
    dump = DumpData{};
    dump.path = name;
    dump.runNumber = runNumberFromName(name);
    dump.bytes = static_cast<uint64_t>(end - begin);

    HeaderReader header(begin, end);
    if (begin == end) {
        error = name + ": empty file, not a sample dump";
        return false;
    }
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

    const size_t channels = dump.maxima.size();
    dump.columns.assign(channels, {});
    const char* p = header.position();
    // Every row takes at least two characters per cell: a digit and a tab.
    const int64_t bound = (end - p) / static_cast<int64_t>(2 * (channels + 1)) + 1;
    const int64_t expectedRows = lastRowPosition(p, end) + 1;
    if (expectedRows > 0 && expectedRows <= bound)
        for (auto& column : dump.columns) column.reserve(static_cast<size_t>(expectedRows));

    std::vector<bool> ended(channels, false);
    int64_t row = 0;
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
                ended[c] = true;
                ++p;
                continue;
            }
            int32_t value = 0;
            r = std::from_chars(p, end, value);
            if (r.ec != std::errc() || r.ptr == p || r.ptr == end || *r.ptr != '\t' || ended[c]) {
                why = ended[c] ? "a value after an empty cell of the same column"
                               : "expected a 32-bit sample value followed by a tab";
                break;
            }
            dump.columns[c].push_back(value);
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

    if (failure != nullptr) {
        const char* lineEnd = static_cast<const char*>(std::memchr(failure, '\n', static_cast<size_t>(end - failure)));
        if (lineEnd != nullptr) {
            error = where(name, row + 4) + why;
            return false;
        }
        // A row cut off before its line end: the writer stopped there.
        for (auto& column : dump.columns)
            if (static_cast<int64_t>(column.size()) > row) column.resize(static_cast<size_t>(row));
        warnings.push_back(where(name, row + 4) + "last row is incomplete and was left out");
    }
    dump.rows = row;
    return true;
}

bool readDumpFile(const std::string& path, DumpData& dump, std::string& error, std::vector<std::string>& warnings)
{
    MappedFile file;
    if (!file.open(path, error)) return false;
    return parseDumpText(file.begin(), file.end(), path, dump, error, warnings);
}

}  // namespace analyse
