#include "analyse/plot_output.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <plplot.h>
#include <utility>
#include <vector>

#include "analysis/fault_text.h"
#include "analyse/output_file.h"

namespace analyse {

namespace {

const char* const pngDevice = "pngcairo";
constexpr int width = 1500;
constexpr int rowHeight = 260;
// More markers than this in one panel would hide the envelope.
constexpr size_t markersAtMost = 200;

enum Colour { background, ink, wave, onsetMark, faultMark, faultShade, pulseMark, colourCount };

void setPalette()
{
    // white, black, blue, red, orange, see-through orange, green
    PLINT r[colourCount] = {255, 0, 31, 214, 255, 255, 44};
    PLINT g[colourCount] = {255, 0, 119, 39, 127, 127, 160};
    PLINT b[colourCount] = {255, 0, 180, 40, 14, 14, 44};
    PLFLT alpha[colourCount] = {1.0, 1.0, 1.0, 1.0, 1.0, 0.35, 1.0};
    plscmap0a(r, g, b, alpha, colourCount);
}

bool hasDevice(const char* name)
{
    const int room = 128;
    std::vector<const char*> menus(room), names(room);
    const char** menuList = menus.data();
    const char** nameList = names.data();
    int count = room;
    plgFileDevs(&menuList, &nameList, &count);
    for (int i = 0; i < count; ++i)
        if (nameList[i] != nullptr && std::strcmp(nameList[i], name) == 0) return true;
    return false;
}

std::string milliseconds(double ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", ms);
    return text;
}

// PLplot reads '#' as the start of an escape sequence.
std::string plotText(const std::string& text)
{
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '#') out += '#';
    }
    return out;
}

std::string runName(const RunResult& run)
{
    return run.runNumber >= 0 ? "Run " + std::to_string(run.runNumber) : run.file;
}

void limits(const std::vector<int32_t>& lo, const std::vector<int32_t>& hi, double& bottom, double& top)
{
    bottom = 0.0;
    top = 0.0;
    for (int32_t v : lo) bottom = std::min(bottom, static_cast<double>(v));
    for (int32_t v : hi) top = std::max(top, static_cast<double>(v));
    if (top - bottom < 1.0) {
        top += 1.0;
        bottom -= 1.0;
    }
    const double margin = (top - bottom) * 0.08;
    top += margin;
    bottom -= margin;
}

void verticalLine(double x, double bottom, double top, Colour colour, PLINT style)
{
    plcol0(colour);
    pllsty(style);
    pljoin(x, bottom, x, top);
    pllsty(1);
}

void markFaults(const ChannelResult& ch, double from, double to, double scale, double bottom, double top)
{
    size_t marked = 0;
    for (const Fault& f : ch.faults.entries()) {
        const double start = static_cast<double>(f.position);
        const double end = start + static_cast<double>(std::max<int64_t>(f.length, 1));
        if (end < from || start > to || marked >= markersAtMost) continue;
        ++marked;
        const bool wholeSignal = f.kind == FaultKind::inverted || f.kind == FaultKind::offset;
        if (!wholeSignal && end - start > 1.0) {
            // A stretch: shade it.
            const PLFLT xs[4] = {std::max(start, from) * scale, std::min(end, to) * scale, std::min(end, to) * scale,
                                 std::max(start, from) * scale};
            const PLFLT ys[4] = {bottom, bottom, top, top};
            plcol0(faultShade);
            plfill(4, xs, ys);
        }
        verticalLine(start * scale, bottom, top, faultMark, 1);
    }
}

void drawOnsetPanel(const RunResult& run, const ChannelResult& ch)
{
    const PlotTrace& t = ch.trace;
    pladv(0);
    plvsta();
    if (t.window.empty()) {
        plwind(0.0, 1.0, -1.0, 1.0);
        plcol0(ink);
        plbox("bc", 0.0, 0, "bc", 0.0, 0);
        pllab("", "", plotText(runName(run) + ", " + ch.label + ": no samples").c_str());
        return;
    }
    const double from = static_cast<double>(t.windowStart);
    const double to = from + static_cast<double>(t.window.size() - 1);
    double bottom = 0.0, top = 0.0;
    limits(t.window, t.window, bottom, top);
    plwind(from, std::max(to, from + 1.0), bottom, top);
    markFaults(ch, from, to, 1.0, bottom, top);

    std::vector<PLFLT> x(t.window.size()), y(t.window.size());
    for (size_t i = 0; i < t.window.size(); ++i) {
        x[i] = from + static_cast<double>(i);
        y[i] = t.window[i];
    }
    plcol0(wave);
    plline(static_cast<PLINT>(x.size()), x.data(), y.data());
    plssym(0.0, 0.35);
    plpoin(static_cast<PLINT>(x.size()), x.data(), y.data(), 17);
    if (ch.status == ChannelStatus::usable) verticalLine(ch.onset, bottom, top, onsetMark, 2);

    plcol0(ink);
    plbox("bcnst", 0.0, 0, "bcnstv", 0.0, 0);
    std::string title = runName(run) + ", " + ch.label + ": ";
    if (ch.status == ChannelStatus::usable)
        title += "onset " + formatSamples(ch.onset) + ", round trip " + formatSamples(ch.roundTrip) + " samples (" +
                 milliseconds(ch.roundTripMs) + " ms), hidden " + formatSignedSamples(ch.hiddenLatency);
    else
        title += "no usable signal (" + ch.note + ")";
    pllab("table position", "sample value", plotText(title).c_str());
}

void drawEnvelopePanel(const ChannelResult& ch, double rate)
{
    const PlotTrace& t = ch.trace;
    pladv(0);
    plvsta();
    const size_t bins = t.envelopeMax.size();
    const double scale = 1.0 / rate;  // table positions to seconds
    const double end = static_cast<double>(std::max<int64_t>(ch.samples, 1));
    double bottom = 0.0, top = 0.0;
    limits(t.envelopeMin, t.envelopeMax, bottom, top);
    plwind(0.0, end * scale, bottom, top);
    markFaults(ch, 0.0, end, scale, bottom, top);

    if (bins > 0) {
        // The band between each bin's lowest and highest sample.
        std::vector<PLFLT> x, y;
        for (size_t i = 0; i < bins; ++i) {
            x.push_back(static_cast<double>(i) * static_cast<double>(t.binSize) * scale);
            y.push_back(t.envelopeMax[i]);
            x.push_back(static_cast<double>(std::min<int64_t>((static_cast<int64_t>(i) + 1) * t.binSize, ch.samples)) * scale);
            y.push_back(t.envelopeMax[i]);
        }
        for (size_t i = bins; i-- > 0;) {
            x.push_back(static_cast<double>(std::min<int64_t>((static_cast<int64_t>(i) + 1) * t.binSize, ch.samples)) * scale);
            y.push_back(t.envelopeMin[i]);
            x.push_back(static_cast<double>(i) * static_cast<double>(t.binSize) * scale);
            y.push_back(t.envelopeMin[i]);
        }
        plcol0(wave);
        plfill(static_cast<PLINT>(x.size()), x.data(), y.data());
        plline(static_cast<PLINT>(x.size()), x.data(), y.data());
    }
    size_t marked = 0;
    for (double p : ch.pulses)
        if (marked++ < markersAtMost) verticalLine(p * scale, bottom, top, pulseMark, 3);
    if (ch.status == ChannelStatus::usable) verticalLine(ch.onset * scale, bottom, top, onsetMark, 2);

    plcol0(ink);
    plbox("bcnst", 0.0, 0, "bcnstv", 0.0, 0);
    std::string title = "whole run: ";
    if (ch.faults.total() == 0) {
        title += ch.status == ChannelStatus::usable ? "no fault" : "not checked";
    } else {
        title += std::to_string(ch.faults.total()) + (ch.faults.total() == 1 ? " fault" : " faults");
        if (!ch.faults.entries().empty()) title += ", first: " + describeFault(ch.faults.entries().front());
    }
    title += ch.passed ? "  [ok]" : "  [FAIL]";
    pllab("seconds", "sample value", plotText(title).c_str());
}

}  // namespace

bool writePlot(const std::string& path, const std::vector<RunResult>& runs, double rate, std::string& error,
               size_t& left)
{
    std::vector<std::pair<const RunResult*, const ChannelResult*>> rows;
    left = 0;
    for (const RunResult& run : runs) {
        for (const ChannelResult& ch : run.channels) {
            if (rows.size() < plottedRowsAtMost)
                rows.emplace_back(&run, &ch);
            else
                ++left;
        }
    }
    if (rows.empty()) {
        error = path + ": no input to draw";
        return false;
    }
    if (!hasDevice(pngDevice)) {
        error = path + ": PLplot has no PNG device (\"" + pngDevice + "\"); install its cairo driver";
        return false;
    }
    // PLplot neither reports a failed write nor survives a file it cannot
    // open: it is handed a stream whose every write is checked.
    OutputFile out;
    if (!out.open(path, error)) return false;
    FILE* stream = out.stream();
    if (stream == nullptr) {
        error = path + ": cannot write: " + std::strerror(errno);
        return false;
    }

    const std::string geometry = std::to_string(width) + "x" + std::to_string(rowHeight * static_cast<int>(rows.size()));
    setPalette();
    plsdev(pngDevice);
    plsfile(stream);
    plsetopt("geometry", geometry.c_str());
    plssub(2, static_cast<PLINT>(rows.size()));
    plinit();
    plschr(0.0, 0.75);
    for (const auto& [run, ch] : rows) {
        drawOnsetPanel(*run, *ch);
        drawEnvelopePanel(*ch, rate);
    }
    plend();
    return out.commit(error);
}

}  // namespace analyse
