// Puts the process-wide test record back to its start values and captures
// what the code under test prints, so each test starts from a clean state.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "record/test_state.h"

// The record back at its start values, and no limit on sample memory.
void resetTestStateAndLimits();

class StateTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string out() const { return out_.str(); }
    std::string err() const { return err_.str(); }
    void clearOutput();

    std::ostringstream out_;
    std::ostringstream err_;
};
