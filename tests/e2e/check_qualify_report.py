"""Reads a qualification's report folder the way its readers do and checks
that every document tells the same story as report.json:

- junit.xml through junitparser, a real JUnit reader: one suite per rate,
  one case per buffer size, failures and skips where report.json has them;
- index.html through headless Chromium: the table as the browser's DOM
  holds it, cell by cell against report.json, the verdict on top, and each
  cell's routing heat map, square by square against its routing, and the
  chart's dots, a reported and a measured round trip per cell.

Usage: check_qualify_report.py FOLDER CHROMIUM [--no-junit]
Prints what differs and exits 1, or exits 0.
"""
import json
import subprocess
import sys
from html.parser import HTMLParser

import junitparser


def rate_text(rate):
    return ("%.0f" % rate) if float(rate).is_integer() else repr(rate)


def check_junit(folder, report, problems):
    xml = junitparser.JUnitXml.fromfile(folder + "/junit.xml")
    suites = {suite.name: suite for suite in xml}
    for rate in report["rates"]:
        name = rate_text(rate) + " Hz"
        if name not in suites:
            problems.append("junit.xml has no suite " + name)
            continue
        cases = {case.name: case for case in suites[name]}
        for cell in report["cells"]:
            if cell["rate"] != rate:
                continue
            case_name = "buffer size %d" % cell["bufferSize"]
            case = cases.get(case_name)
            if case is None:
                problems.append("junit.xml: %s has no case %s" % (name, case_name))
                continue
            kinds = [type(r).__name__ for r in case.result]
            expected = {"passed": [], "failed": ["Failure"]}.get(cell["verdict"], ["Skipped"])
            if kinds != expected:
                problems.append("junit.xml: %s %s is %s, report.json says %s" % (name, case_name, kinds, cell["verdict"]))
            if cell["verdict"] == "failed" and case.result and case.result[0].message != cell["failures"][0]:
                problems.append("junit.xml: %s %s fails with %r, report.json with %r"
                                % (name, case_name, case.result[0].message, cell["failures"][0]))
        if len(cases) != sum(1 for c in report["cells"] if c["rate"] == rate):
            problems.append("junit.xml: %s has %d cases" % (name, len(cases)))


class TableReader(HTMLParser):
    """The rows of table#cells by data-field, the text of h1#verdict, and
    the routing heat maps: per figure its rate and buffer size, its squares
    (input, output, dB, outlined) and the inputs marked dead; the chart's
    dots (kind, rate, buffer size, round trip)."""

    def __init__(self):
        super().__init__()
        self.rows, self.verdict, self.maps, self.dots = [], None, [], []
        self.in_table = self.in_verdict = self.in_chart = False
        self.field = None

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "figure" and "routing" in attrs.get("class", "").split():
            self.maps.append({"rate": attrs.get("data-rate"), "bufferSize": attrs.get("data-buffer"),
                              "squares": [], "dead": []})
        elif tag == "rect" and self.maps and "level" in attrs.get("class", "").split():
            self.maps[-1]["squares"].append((int(attrs["data-input"]), int(attrs["data-output"]),
                                             attrs["data-db"], "stroke" in attrs))
        elif tag == "text" and self.maps and "dead" in attrs.get("class", "").split():
            self.maps[-1]["dead"].append(int(attrs["data-input"]))
        elif tag == "svg" and attrs.get("id") == "chart":
            self.in_chart = True
        elif tag == "circle" and self.in_chart:
            self.dots.append((attrs.get("class"), attrs.get("data-rate"), attrs.get("data-buffer"),
                              attrs.get("data-trip")))
        elif tag == "table" and attrs.get("id") == "cells":
            self.in_table = True
        elif tag == "h1" and attrs.get("id") == "verdict":
            self.in_verdict, self.verdict = True, ""
        elif self.in_table and tag == "tr":
            self.rows.append({})
        elif self.in_table and tag == "td":
            self.field = attrs.get("data-field")
            self.rows[-1][self.field] = ""

    def handle_endtag(self, tag):
        if tag == "svg":
            self.in_chart = False
        elif tag == "table":
            self.in_table = False
        elif tag == "h1":
            self.in_verdict = False
        elif tag == "td":
            self.field = None

    def handle_data(self, data):
        if self.in_verdict:
            self.verdict += data
        elif self.in_table and self.field:
            self.rows[-1][self.field] += data


def close(shown, value, tolerance):
    try:
        return abs(float(shown) - value) <= tolerance
    except ValueError:
        return False


def check_routing_maps(maps, report, problems):
    cells = [c for c in report["cells"] if "routing" in c]
    if len(maps) != len(cells):
        problems.append("index.html has %d routing maps for %d cells with a routing" % (len(maps), len(cells)))
        return
    for shown, cell in zip(maps, cells):
        where = "index.html's routing, %s Hz %d: " % (rate_text(cell["rate"]), cell["bufferSize"])
        if shown["rate"] != rate_text(cell["rate"]) or shown["bufferSize"] != str(cell["bufferSize"]):
            problems.append(where + "the map is of %s %s" % (shown["rate"], shown["bufferSize"]))
        inputs = cell["routing"]["inputs"]
        dead = [i["input"] for i in inputs if i["dead"]]
        if sorted(shown["dead"]) != dead:
            problems.append(where + "inputs %s shown dead, not %s" % (sorted(shown["dead"]), dead))
        for routed in inputs:
            k = routed["input"]
            row = sorted((s for s in shown["squares"] if s[0] == k), key=lambda s: s[1])
            outlined = [s[1] for s in row if s[3]]
            heard = [] if routed["heard"] is None else [routed["heard"]]
            if outlined != heard:
                problems.append(where + "input %d: output %s outlined, report.json hears %s" % (k, outlined, heard))
            levels = routed["levelsDb"]
            if [s[1] for s in row] != list(range(len(levels))):
                problems.append(where + "input %d: squares for outputs %s" % (k, [s[1] for s in row]))
                continue
            for square, level in zip(row, levels):
                if not close(square[2], level, 0.051):
                    problems.append(where + "input %d, output %d: %s dB, not %s" % (k, square[1], square[2], level))


def check_chart(dots, report, problems):
    expected = []
    for cell in report["cells"]:
        if cell["verdict"] not in ("passed", "failed"):
            continue
        where = ("%.0f" % cell["rate"], str(cell["bufferSize"]))
        expected.append(("reported",) + where + (cell["reported"]["roundTrip"],))
        if cell["measured"] is not None:
            expected.append(("measured",) + where + (cell["measured"]["roundTrip"],))
    shown = sorted((d[0], d[1], d[2], float(d[3])) for d in dots)
    expected.sort()
    if [d[:3] for d in shown] != [e[:3] for e in expected]:
        problems.append("index.html's chart has dots %s, report.json cells %s"
                        % ([d[:3] for d in shown], [e[:3] for e in expected]))
        return
    for d, e in zip(shown, expected):
        if abs(d[3] - e[3]) > 0.0005:
            problems.append("index.html's chart: the %s dot of %s Hz %s is at %s, not %s" % (d[0], d[1], d[2], d[3], e[3]))


def check_page(folder, report, chromium, problems):
    dom = subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                          "--user-data-dir=" + folder + "/.chromium", "--dump-dom",
                          "file://" + folder + "/index.html"],
                         capture_output=True, text=True, timeout=120).stdout
    reader = TableReader()
    reader.feed(dom)
    if reader.verdict != report["verdict"]:
        problems.append("index.html's verdict is %r, report.json's %r" % (reader.verdict, report["verdict"]))
    check_routing_maps(reader.maps, report, problems)
    check_chart(reader.dots, report, problems)
    rows = [r for r in reader.rows if r]
    if len(rows) != len(report["cells"]):
        problems.append("index.html's table has %d rows for %d cells" % (len(rows), len(report["cells"])))
        return
    for row, cell in zip(rows, report["cells"]):
        where = "index.html, %s Hz %d: " % (rate_text(cell["rate"]), cell["bufferSize"])
        if row["rate"] != rate_text(cell["rate"]) or row["bufferSize"] != str(cell["bufferSize"]):
            problems.append(where + "the row shows %s %s" % (row["rate"], row["bufferSize"]))
        if row["verdict"] != cell["verdict"]:
            problems.append(where + "verdict %r, not %r" % (row["verdict"], cell["verdict"]))
        if cell["verdict"] not in ("passed", "failed"):
            if any(row[f] != "-" for f in ("reported", "measured", "hiddenLatency", "glitches")):
                problems.append(where + "figures for a cell that was not measured: %r" % row)
            continue
        if row["reported"] != str(cell["reported"]["roundTrip"]):
            problems.append(where + "reported %s, not %s" % (row["reported"], cell["reported"]["roundTrip"]))
        if not close(row["reportedMs"], cell["reported"]["roundTripMs"], 0.0005):
            problems.append(where + "reported %s ms, not %s" % (row["reportedMs"], cell["reported"]["roundTripMs"]))
        if cell["measured"] is None:
            if row["measured"] != "-":
                problems.append(where + "a measured round trip where none is known")
        else:
            if not close(row["measured"], cell["measured"]["roundTrip"], 0.005):
                problems.append(where + "measured %s, not %s" % (row["measured"], cell["measured"]["roundTrip"]))
            if not close(row["measuredMs"], cell["measured"]["roundTripMs"], 0.0005):
                problems.append(where + "measured %s ms" % row["measuredMs"])
            if not close(row["hiddenLatency"], cell["hiddenLatency"], 0.005):
                problems.append(where + "hidden latency %s, not %s" % (row["hiddenLatency"], cell["hiddenLatency"]))
        if row["glitches"] != str(cell["glitches"]) or row["lateCallbacks"] != str(cell["lateCallbacks"]):
            problems.append(where + "glitches %s, late %s" % (row["glitches"], row["lateCallbacks"]))


def main():
    folder, chromium = sys.argv[1], sys.argv[2]
    with open(folder + "/report.json") as f:
        report = json.load(f)
    problems = []
    if "--no-junit" not in sys.argv:
        check_junit(folder, report, problems)
    check_page(folder, report, chromium, problems)
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
