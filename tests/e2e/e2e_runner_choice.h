// The harness build the end-to-end cases run against: the native one, or
// (when the environment names one) the Windows build under Wine.
#pragma once

#include "harness_runner.h"
#include "wine_runner.h"

HarnessRunner& harnessRunner();

// The Windows build under Wine when LOOPCHECK_E2E_WINE names it, else null.
WineRunner* wineRunner();
