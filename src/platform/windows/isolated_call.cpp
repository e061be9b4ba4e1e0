#include "platform/isolated_call.h"

// Windows cannot fork; the step runs in this process.
bool runIsolated(const std::function<std::string()>& step, std::string& result, std::string& failure)
{
    failure.clear();
    result = step();
    return true;
}
