// The report's documents for people and for CI servers: the HTML page and
// the JUnit XML file.
#pragma once

#include <string>

#include "qualify/qualify_report.h"

// index.html: one page that needs nothing beyond itself.
std::string qualifyPage(const QualifyReport& report);

// junit.xml: one test suite per rate, one test case per buffer size.
// False when the document could not be made. Only where pugixml is built
// in (LOOPCHECK_HAVE_PUGIXML).
bool qualifyJunit(const QualifyReport& report, std::string& xml);
