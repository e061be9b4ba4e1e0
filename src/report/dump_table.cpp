#include "report/dump_table.h"

#include <algorithm>
#include <cstddef>

#include "record/test_state.h"
#include "platform/interruption.h"

namespace {

// Rows between two looks for an interruption: a few milliseconds of
// formatting, so a table of gigabytes stops at once when asked to.
constexpr int32_t rowsPerLook = 4096;

bool interruptedAt(int32_t row) { return row % rowsPerLook == 0 && interruptionStatus() != 0; }

struct Column {
    const int32_t* values;
    size_t length;
};

}  // namespace

bool writeDumpRows(TextFileWriter& dump, const RunStatistics& statistics)
{
    const int32_t rows = std::max<int32_t>(statistics.positionCount, 0);
    const size_t firstInput = static_cast<size_t>(std::clamp(statistics.firstInput, int32_t{0}, maxChannels));
    const size_t inputs = std::min({statistics.inputs.size(), static_cast<size_t>(maxChannelsPerDirection),
                                    static_cast<size_t>(maxChannels) - firstInput});
    Column columns[maxChannelsPerDirection];
    int32_t fullRows = rows;
    for (size_t i = 0; i < inputs; ++i) {
        const SampleRecording& recording = testState.captures[firstInput + i];
        columns[i] = Column{recording.data(), recording.size()};
        fullRows = static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(fullRows), recording.size()));
    }

    // Every number plus its tab, and the line end.
    const size_t rowBytes = (inputs + 1) * (maxDecimalChars + 1) + 1;
    int32_t p = 0;
    for (; p < fullRows; ++p) {
        if (interruptedAt(p)) return false;
        char* out = dump.room(rowBytes);
        out = writeDecimal(out, p);
        *out++ = '\t';
        for (size_t i = 0; i < inputs; ++i) {
            out = writeDecimal(out, columns[i].values[p]);
            *out++ = '\t';
        }
        *out++ = '\n';
        dump.commit(out);
    }
    // Only a recording that stopped early (it could not grow during the
    // run) is shorter than the table: its cells past its end stay empty
    // rather than show samples that were never received.
    for (; p < rows; ++p) {
        if (interruptedAt(p)) return false;
        char* out = dump.room(rowBytes);
        out = writeDecimal(out, p);
        *out++ = '\t';
        for (size_t i = 0; i < inputs; ++i) {
            if (static_cast<size_t>(p) < columns[i].length) out = writeDecimal(out, columns[i].values[p]);
            *out++ = '\t';
        }
        *out++ = '\n';
        dump.commit(out);
    }
    return true;
}
