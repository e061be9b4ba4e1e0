// Counts what keeps the library loaded: live objects, class factories
// and server locks. DllCanUnloadNow answers from it.
#pragma once

namespace module_usage {

void acquire();
void release();
bool inUse();

}  // namespace module_usage
