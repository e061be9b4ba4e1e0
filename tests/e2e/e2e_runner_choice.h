// The harness build the end-to-end cases run against: the native one, or
// (when the environment names one) the Windows build under Wine.
#pragma once

#include "harness_runner.h"

HarnessRunner& harnessRunner();
