#include "e2e_runner_choice.h"

WineRunner* wineRunner()
{
    static const std::unique_ptr<WineRunner> wine = WineRunner::fromEnvironment();
    return wine.get();
}

HarnessRunner& harnessRunner()
{
    if (WineRunner* wine = wineRunner()) return *wine;
    static NativeRunner native;
    return native;
}
