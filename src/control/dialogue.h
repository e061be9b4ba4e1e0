// The program entry: the operator's questions, the driver and sample-rate
// lists, the results file and the runs.
#pragma once

#include <cstdint>
#include <istream>

// Reads the answers from `in`. Returns the exit status: 0 on every path of
// the dialogue, 130 or 143 when Ctrl-C or termination cut the runs short.
int runTestDialogue(std::istream& in);

// What the answers ask for beyond the test record's parameters.
struct TestPlan {
    int32_t runCount = 1;
    int32_t device = 0;
};

// The question phase: asks every question, writes the answers into the
// test record and `plan`. False when an answer ended the test (its line
// is written); the runs follow only on true.
bool askTestQuestions(std::istream& in, TestPlan& plan);

// Appends the display names of the installed drivers to the test's driver
// names; true when there is at least one.
bool collectDriverNames();
