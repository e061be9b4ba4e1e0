// index.html: the verdict, the table of rates by buffer sizes, a chart of
// round trips against buffer size, and the faults of every failing cell.
// Styles and pictures are inline: the page is read where there may be no
// network, and attached to CI runs as a single file.
#include <algorithm>
#include <cmath>
#include <iomanip>
#include <map>
#include <sstream>

#include "analysis/fault_text.h"
#include "qualify/qualify_pages.h"

namespace {

std::string escaped(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string fixed(double value, int decimals)
{
    if (!std::isfinite(value)) return "-";
    std::ostringstream text;
    text << std::fixed << std::setprecision(decimals) << value;
    return text.str();
}

bool measured(const QualifyCell& cell)
{
    return cell.verdict == CellVerdict::passed || cell.verdict == CellVerdict::failed;
}

const char* style =
    "body{font-family:sans-serif;margin:1.5em;color:#222}"
    "h1.passed{color:#1a7f37}h1.failed,h1.interrupted{color:#b42318}h1.not-qualified{color:#8a6d00}"
    "table{border-collapse:collapse;margin:1em 0}th,td{border:1px solid #ccc;padding:.25em .6em;text-align:right}"
    "th{background:#f3f3f3}td.verdict{text-align:left;font-weight:bold;white-space:nowrap}"
    "tr.passed td.verdict{color:#1a7f37}tr.failed td.verdict,tr.interrupted td.verdict{color:#b42318}"
    "tr.not-offered td,tr.not-run td{color:#888}"
    "section.cell{border-left:4px solid #b42318;padding-left:1em;margin:1em 0}"
    "code{background:#f3f3f3;padding:0 .2em}";

std::string cssClass(const std::string& name)
{
    std::string out = name;
    std::replace(out.begin(), out.end(), ' ', '-');
    return out;
}

void writeTable(std::ostringstream& page, const QualifyReport& report)
{
    page << "<table id=\"cells\"><thead><tr><th>rate (Hz)</th><th>buffer size</th>"
            "<th>reported round trip (samples)</th><th>reported (ms)</th>"
            "<th>measured round trip (samples)</th><th>measured (ms)</th>"
            "<th>hidden latency (samples)</th><th>glitches</th><th>late callbacks</th><th>verdict</th>"
            "</tr></thead><tbody>\n";
    for (const QualifyCell& cell : report.cells) {
        const std::string verdict = cellVerdictName(cell.verdict);
        page << "<tr class=\"" << cssClass(verdict) << "\"><td data-field=\"rate\">" << fixed(cell.rate, 0)
             << "</td><td data-field=\"bufferSize\">" << cell.bufferSize << "</td>";
        if (measured(cell)) {
            const double reported = static_cast<double>(cell.reportedRoundTrip());
            page << "<td data-field=\"reported\">" << cell.reportedRoundTrip() << "</td><td data-field=\"reportedMs\">"
                 << fixed(reported / cell.rate * 1000.0, 3) << "</td>";
            if (cell.roundTripKnown)
                page << "<td data-field=\"measured\">" << fixed(cell.roundTrip, 2)
                     << "</td><td data-field=\"measuredMs\">" << fixed(cell.roundTrip / cell.rate * 1000.0, 3)
                     << "</td><td data-field=\"hiddenLatency\">" << fixed(cell.hiddenLatency, 2) << "</td>";
            else
                page << "<td data-field=\"measured\">-</td><td data-field=\"measuredMs\">-</td>"
                        "<td data-field=\"hiddenLatency\">-</td>";
            page << "<td data-field=\"glitches\">" << cell.glitches << "</td><td data-field=\"lateCallbacks\">"
                 << cell.lateCallbacks << "</td>";
        } else {
            for (const char* field :
                 {"reported", "reportedMs", "measured", "measuredMs", "hiddenLatency", "glitches", "lateCallbacks"})
                page << "<td data-field=\"" << field << "\">-</td>";
        }
        page << "<td class=\"verdict\" data-field=\"verdict\"";
        if (!cell.notOfferedBecause.empty()) page << " title=\"" << escaped(cell.notOfferedBecause) << "\"";
        page << ">" << escaped(verdict) << "</td></tr>\n";
    }
    page << "</tbody></table>\n";
}

const char* palette[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e", "#17becf", "#8c564b", "#e377c2"};

// Round trip against buffer size, the sizes on a base-2 scale: one solid
// line per rate for what was measured, one dashed for what the driver said.
void writeChart(std::ostringstream& page, const QualifyReport& report)
{
    std::map<double, std::vector<const QualifyCell*>> byRate;
    double lowSize = 0, highSize = 0, highTrip = 0;
    bool any = false;
    for (const QualifyCell& cell : report.cells) {
        if (!measured(cell)) continue;
        byRate[cell.rate].push_back(&cell);
        const double size = static_cast<double>(cell.bufferSize);
        lowSize = any ? std::min(lowSize, size) : size;
        highSize = any ? std::max(highSize, size) : size;
        highTrip = std::max({highTrip, static_cast<double>(cell.reportedRoundTrip()),
                             cell.roundTripKnown ? cell.roundTrip : 0.0});
        any = true;
    }
    if (!any) return;
    const double width = 640, height = 360, left = 70, right = 150, top = 20, bottom = 50;
    const double plotW = width - left - right, plotH = height - top - bottom;
    const double lowLog = std::log2(lowSize), highLog = std::log2(highSize);
    const double span = highLog > lowLog ? highLog - lowLog : 1.0;
    const double tripTop = highTrip > 0 ? highTrip * 1.1 : 1.0;
    auto x = [&](double size) { return left + (highLog > lowLog ? (std::log2(size) - lowLog) / span : 0.5) * plotW; };
    auto y = [&](double trip) { return top + plotH - trip / tripTop * plotH; };

    page << "<svg id=\"chart\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
         << "\" viewBox=\"0 0 " << width << " " << height << "\" font-size=\"12\">\n";
    page << "<rect x=\"" << left << "\" y=\"" << top << "\" width=\"" << plotW << "\" height=\"" << plotH
         << "\" fill=\"none\" stroke=\"#999\"/>\n";
    for (int i = 0; i <= 4; ++i) {
        const double trip = tripTop * i / 4.0;
        page << "<text x=\"" << left - 6 << "\" y=\"" << fixed(y(trip) + 4, 1) << "\" text-anchor=\"end\">"
             << fixed(trip, 0) << "</text>\n";
    }
    for (double size = lowSize; size <= highSize * 1.0001; size *= 2)
        page << "<text x=\"" << fixed(x(size), 1) << "\" y=\"" << top + plotH + 16
             << "\" text-anchor=\"middle\">" << fixed(size, 0) << "</text>\n";
    page << "<text x=\"" << left + plotW / 2 << "\" y=\"" << height - 8
         << "\" text-anchor=\"middle\">buffer size (samples)</text>\n"
         << "<text transform=\"rotate(-90)\" x=\"" << -(top + plotH / 2) << "\" y=\"16\" text-anchor=\"middle\">"
            "round trip (samples)</text>\n";
    size_t colour = 0;
    double legendY = top + 10;
    for (const auto& entry : byRate) {
        const char* stroke = palette[colour++ % (sizeof palette / sizeof palette[0])];
        std::string measuredPoints, reportedPoints;
        // A dot at every cell, as one size alone makes a line of no length.
        std::ostringstream dots;
        const std::string rate = fixed(entry.first, 0);
        auto dot = [&](const char* kind, const QualifyCell& cell, double trip, const char* fill) {
            dots << "<circle class=\"" << kind << "\" data-rate=\"" << rate << "\" data-buffer=\"" << cell.bufferSize
                 << "\" data-trip=\"" << fixed(trip, 3) << "\" cx=\"" << fixed(x(cell.bufferSize), 1) << "\" cy=\""
                 << fixed(y(trip), 1) << "\" r=\"3\" fill=\"" << fill << "\" stroke=\"" << stroke << "\"/>\n";
        };
        for (const QualifyCell* cell : entry.second) {
            const std::string px = fixed(x(cell->bufferSize), 1);
            const double reported = static_cast<double>(cell->reportedRoundTrip());
            reportedPoints += px + "," + fixed(y(reported), 1) + " ";
            dot("reported", *cell, reported, "#fff");
            if (cell->roundTripKnown) {
                measuredPoints += px + "," + fixed(y(cell->roundTrip), 1) + " ";
                dot("measured", *cell, cell->roundTrip, stroke);
            }
        }
        page << "<polyline class=\"reported\" data-rate=\"" << rate << "\" fill=\"none\" stroke=\"" << stroke
             << "\" stroke-dasharray=\"5,4\" points=\"" << reportedPoints << "\"/>\n";
        page << "<polyline class=\"measured\" data-rate=\"" << rate << "\" fill=\"none\" stroke-width=\"2\" stroke=\""
             << stroke << "\" points=\"" << measuredPoints << "\"/>\n";
        page << dots.str();
        page << "<line x1=\"" << width - right + 10 << "\" y1=\"" << legendY << "\" x2=\"" << width - right + 34
             << "\" y2=\"" << legendY << "\" stroke=\"" << stroke << "\" stroke-width=\"2\"/><text x=\""
             << width - right + 40 << "\" y=\"" << legendY + 4 << "\">" << rate << " Hz</text>\n";
        legendY += 18;
    }
    page << "<line x1=\"" << width - right + 10 << "\" y1=\"" << legendY << "\" x2=\"" << width - right + 34
         << "\" y2=\"" << legendY << "\" stroke=\"#444\" stroke-dasharray=\"5,4\"/><text x=\"" << width - right + 40
         << "\" y=\"" << legendY + 4 << "\">reported</text>\n</svg>\n";
}

void writeWaveform(std::ostringstream& page, const FaultWaveform& waveform)
{
    if (waveform.samples.size() < 2) return;
    const double width = 640, height = 160;
    double peak = 1.0;
    for (int32_t v : waveform.samples) peak = std::max(peak, std::fabs(static_cast<double>(v)));
    const double step = width / static_cast<double>(waveform.samples.size() - 1);
    std::string points;
    for (size_t i = 0; i < waveform.samples.size(); ++i)
        points += fixed(i * step, 1) + "," +
                  fixed(height / 2 - static_cast<double>(waveform.samples[i]) / peak * (height / 2 - 4), 1) + " ";
    const double mark = static_cast<double>(waveform.position - waveform.start) * step;
    page << "<svg class=\"waveform\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\""
         << height << "\" viewBox=\"0 0 " << width << " " << height << "\">"
         << "<rect width=\"" << width << "\" height=\"" << height << "\" fill=\"#fafafa\" stroke=\"#ccc\"/>"
         << "<line x1=\"0\" y1=\"" << height / 2 << "\" x2=\"" << width << "\" y2=\"" << height / 2
         << "\" stroke=\"#ddd\"/><line x1=\"" << fixed(mark, 1) << "\" y1=\"0\" x2=\"" << fixed(mark, 1)
         << "\" y2=\"" << height << "\" stroke=\"#b42318\" stroke-dasharray=\"3,3\"/>"
         << "<polyline fill=\"none\" stroke=\"#1f77b4\" points=\"" << points << "\"/></svg>\n";
}

// Entries listed per input; report.json has them all.
constexpr size_t faultsShown = 20;

void writeFailingCell(std::ostringstream& page, const QualifyCell& cell)
{
    page << "<section class=\"cell\"><h3>" << fixed(cell.rate, 0) << " Hz, " << cell.bufferSize
         << " samples</h3>\n<ul class=\"failures\">";
    for (const std::string& failure : cell.failures) page << "<li>" << escaped(failure) << "</li>";
    page << "</ul>\n";
    for (const QualifyRun& run : cell.runs) {
        for (const analyse::ChannelResult& channel : run.analysis.channels) {
            if (channel.faults.entries().empty()) continue;
            page << "<p>run " << run.number << ", " << escaped(channel.label) << ": " << channel.faults.total()
                 << " faults</p><ul class=\"faults\">";
            size_t shown = 0;
            for (const analyse::Fault& fault : channel.faults.entries()) {
                if (shown++ == faultsShown) break;
                page << "<li data-position=\"" << fault.position << "\">" << escaped(analyse::describeFault(fault))
                     << "</li>";
            }
            page << "</ul>\n";
        }
    }
    if (cell.firstFault.present) {
        page << "<p>Run " << cell.firstFault.run << ", " << escaped(cell.firstFault.label) << ": "
             << escaped(cell.firstFault.what) << " (samples " << cell.firstFault.start << " to "
             << cell.firstFault.start + static_cast<int64_t>(cell.firstFault.samples.size()) - 1
             << ", the dashed line at " << cell.firstFault.position << ")</p>\n";
        writeWaveform(page, cell.firstFault);
    }
    page << "</section>\n";
}

// One cell's routing as a heat map: a row per input, a column per output,
// each square as bright as that output is loud at that input (0 dB white,
// the floor or -120 dB black), the heard output outlined.
void writeRoutingMap(std::ostringstream& page, const QualifyCell& cell)
{
    size_t outputs = 0;
    for (const analyse::RoutedInput& input : cell.routing) outputs = std::max(outputs, input.levelsDb.size());
    const int square = 14;
    const int left = 70;
    const int top = 20;
    const int width = left + square * static_cast<int>(std::max<size_t>(outputs, 1)) + 10;
    const int height = top + square * static_cast<int>(cell.routing.size()) + 10;
    page << "<figure class=\"routing\" data-rate=\"" << fixed(cell.rate, 0) << "\" data-buffer=\""
         << cell.bufferSize << "\"><figcaption>" << fixed(cell.rate, 0) << " Hz, " << cell.bufferSize
         << " samples: level of each output at each input (dB re the heard one)</figcaption>"
         << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height << "\">";
    page << "<text x=\"" << left << "\" y=\"12\" font-size=\"10\">outputs 0 to "
         << (outputs > 0 ? outputs - 1 : 0) << "</text>";
    for (size_t k = 0; k < cell.routing.size(); ++k) {
        const analyse::RoutedInput& input = cell.routing[k];
        const int y = top + square * static_cast<int>(k);
        page << "<text x=\"0\" y=\"" << y + square - 3 << "\" font-size=\"10\">input " << k << "</text>";
        for (size_t c = 0; c < input.levelsDb.size(); ++c) {
            const double db = input.levelsDb[c];
            const double share = std::min(1.0, std::max(0.0, 1.0 + db / 120.0));
            const int grey = static_cast<int>(std::lround(255.0 * share));
            const bool heard = static_cast<int>(c) == input.heard;
            page << "<rect class=\"level\" data-input=\"" << k << "\" data-output=\"" << c << "\" data-db=\""
                 << fixed(db, 1) << "\" x=\"" << left + square * static_cast<int>(c) << "\" y=\"" << y
                 << "\" width=\"" << square << "\" height=\"" << square << "\" fill=\"rgb(" << grey << ',' << grey
                 << ',' << grey << ")\"" << (heard ? " stroke=\"#c00\" stroke-width=\"2\"" : "") << "><title>input "
                 << k << ", output " << c << ": " << fixed(db, 1) << " dB</title></rect>";
        }
        if (input.dead)
            page << "<text class=\"dead\" data-input=\"" << k << "\" x=\"" << left << "\" y=\"" << y + square - 3
                 << "\" font-size=\"10\">dead</text>";
    }
    page << "</svg></figure>\n";
}

void writeRouting(std::ostringstream& page, const QualifyReport& report)
{
    bool heading = false;
    for (const QualifyCell& cell : report.cells) {
        if (!cell.routingMeasured) continue;
        if (!heading) page << "<h2>Routing</h2>\n";
        heading = true;
        writeRoutingMap(page, cell);
    }
}

}  // namespace

std::string qualifyPage(const QualifyReport& report)
{
    std::ostringstream page;
    const std::string verdict = report.verdict();
    const std::string title =
        "loopcheck qualification of " + (report.driverName.empty() ? report.registryName : report.driverName);
    page << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" << escaped(title)
         << "</title><style>" << style << "</style></head><body>\n";
    page << "<h1 id=\"verdict\" class=\"" << cssClass(verdict) << "\">" << escaped(verdict) << "</h1>\n";
    page << "<p id=\"summary\">" << escaped(title) << ": " << report.failedCells() << " of " << report.offeredCells()
         << " offered cells failed";
    if (report.interrupted)
        page << "; interrupted by " << escaped(report.interruptedBy) << ", the table shows what ran";
    page << ".</p>\n";
    if (!report.error.empty()) page << "<p id=\"error\">" << escaped(report.error) << "</p>\n";
    page << "<p>" << report.outputs << " outputs, " << report.inputs << " inputs, sample type " << report.sampleType
         << "; " << report.options.runs << " runs of " << fixed(report.options.seconds, 2)
         << " s per cell.</p>\n";
    writeTable(page, report);
    writeChart(page, report);
    writeRouting(page, report);
    bool heading = false;
    for (const QualifyCell& cell : report.cells) {
        if (cell.verdict != CellVerdict::failed) continue;
        if (!heading) page << "<h2>Failing cells</h2>\n";
        heading = true;
        writeFailingCell(page, cell);
    }
    page << "</body></html>\n";
    return page.str();
}
