// Words for a failed driver creation: what the loader or the server said,
// as far as the platform can tell, for the operator's warning line.
#pragma once

#include <string>

#include "platform/com_types.h"

// Why the last CoCreateInstance on this thread failed with result, e.g.
// "the loader said: libfoo.so: cannot open shared object file (0x80040155)".
std::string describeCreateFailure(HRESULT result);
