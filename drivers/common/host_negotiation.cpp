#include "host_negotiation.h"

bool negotiateWithHost(const ASIOCallbacks& callbacks)
{
    if (callbacks.asioMessage == nullptr)
        return false;
    const bool knowsEngineVersion =
        callbacks.asioMessage(kAsioSelectorSupported, kAsioEngineVersion, nullptr, nullptr) == 1;
    const bool knowsTimeInfo =
        callbacks.asioMessage(kAsioSelectorSupported, kAsioSupportsTimeInfo, nullptr, nullptr) == 1;
    if (knowsEngineVersion)
        callbacks.asioMessage(kAsioEngineVersion, 0, nullptr, nullptr);
    return knowsTimeInfo && callbacks.asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr) == 1;
}
