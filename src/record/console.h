// Console output as the harness writes it: a prompt stays on its line and is
// flushed before the answer is read; every other message is one whole line,
// flushed at once. Values go through the stream's default formatting, so
// integers print in plain decimal and floating-point values with at most six
// significant digits.
//
// Tests redirect both streams to capture exactly what a user would see.
#pragma once

#include <ostream>

namespace console {

std::ostream& out();  // standard output unless redirected
std::ostream& err();  // standard error unless redirected

// Null restores the real stream.
void redirectOut(std::ostream* stream);
void redirectErr(std::ostream* stream);

template <class... Parts>
void line(const Parts&... parts)
{
    std::ostream& o = out();
    (o << ... << parts);
    o << '\n';
    o.flush();
}

template <class... Parts>
void prompt(const Parts&... parts)
{
    std::ostream& o = out();
    (o << ... << parts);
    o.flush();
}

// Text without a line end and without a flush: for lines built in pieces,
// which end with line().
template <class... Parts>
void text(const Parts&... parts)
{
    std::ostream& o = out();
    (o << ... << parts);
}

// Problems the user should know of that are not part of the harness's own
// report: one line on standard error, starting with "warning: ".
template <class... Parts>
void warning(const Parts&... parts)
{
    std::ostream& e = err();
    e << "warning: ";
    (e << ... << parts);
    e << '\n';
    e.flush();
}

}  // namespace console
