#include "e2e_runner_choice.h"

HarnessRunner& harnessRunner()
{
    static NativeRunner native;
    return native;
}
