#include "support/test_state_fixture.h"

#include <cfloat>

#include "record/console.h"
#include "record/sample_memory.h"
#include "record/test_state.h"

void resetTestStateAndLimits()
{
    resetTestState();
    setSampleMemoryLimit(0);
}

void StateTest::SetUp()
{
    resetTestStateAndLimits();
    console::redirectOut(&out_);
    console::redirectErr(&err_);
}

void StateTest::TearDown()
{
    console::redirectOut(nullptr);
    console::redirectErr(nullptr);
    resetTestStateAndLimits();
}

void StateTest::clearOutput()
{
    out_.str("");
    err_.str("");
}
