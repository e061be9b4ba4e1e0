// junit.xml for CI servers: each rate a test suite, each buffer size a test
// case; a cell that is not offered is skipped, a failing one carries its
// reasons.
#include <pugixml.hpp>
#include <sstream>

#include "qualify/qualify_pages.h"

namespace {

std::string rateName(double rate)
{
    std::ostringstream text;
    text.precision(12);
    text << rate;
    return text.str();
}

std::string joinedLines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

}  // namespace

bool qualifyJunit(const QualifyReport& report, std::string& xml)
{
    pugi::xml_document document;
    pugi::xml_node declaration = document.append_child(pugi::node_declaration);
    declaration.append_attribute("version") = "1.0";
    declaration.append_attribute("encoding") = "UTF-8";
    pugi::xml_node suites = document.append_child("testsuites");
    suites.append_attribute("name") = ("loopcheck qualification of " + report.driverName).c_str();
    int totalTests = 0, totalFailures = 0, totalSkipped = 0;
    for (double rate : report.rates) {
        pugi::xml_node suite = suites.append_child("testsuite");
        suite.append_attribute("name") = (rateName(rate) + " Hz").c_str();
        int tests = 0, failures = 0, skipped = 0;
        double seconds = 0.0;
        for (const QualifyCell& cell : report.cells) {
            if (cell.rate != rate) continue;
            ++tests;
            pugi::xml_node test = suite.append_child("testcase");
            test.append_attribute("name") = ("buffer size " + std::to_string(cell.bufferSize)).c_str();
            test.append_attribute("classname") = ("loopcheck.qualify." + rateName(rate)).c_str();
            double cellSeconds = 0.0;
            for (const QualifyRun& run : cell.runs) cellSeconds += run.accounts.seconds;
            test.append_attribute("time") = cellSeconds;
            seconds += cellSeconds;
            switch (cell.verdict) {
            case CellVerdict::passed: break;
            case CellVerdict::failed: {
                ++failures;
                pugi::xml_node failure = test.append_child("failure");
                failure.append_attribute("message") =
                    (cell.failures.empty() ? std::string("failed") : cell.failures.front()).c_str();
                failure.append_attribute("type") = "qualification";
                failure.text() = joinedLines(cell.failures).c_str();
                break;
            }
            case CellVerdict::notOffered:
                ++skipped;
                test.append_child("skipped").append_attribute("message") =
                    ("not offered: " + cell.notOfferedBecause).c_str();
                break;
            case CellVerdict::interrupted:
            case CellVerdict::notRun:
                ++skipped;
                test.append_child("skipped").append_attribute("message") = cellVerdictName(cell.verdict);
                break;
            }
        }
        suite.append_attribute("tests") = tests;
        suite.append_attribute("failures") = failures;
        suite.append_attribute("errors") = 0;
        suite.append_attribute("skipped") = skipped;
        suite.append_attribute("time") = seconds;
        totalTests += tests;
        totalFailures += failures;
        totalSkipped += skipped;
    }
    suites.append_attribute("tests") = totalTests;
    suites.append_attribute("failures") = totalFailures;
    suites.append_attribute("skipped") = totalSkipped;
    std::ostringstream text;
    document.save(text, "  ", pugi::format_default | pugi::format_no_declaration);
    xml = text.str();
    return !xml.empty();
}
