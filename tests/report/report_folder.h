// Analysis and report tests run in a fresh empty working folder of their
// own, since the report files are written to the working directory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_state_fixture.h"

class ReportTest : public StateTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Replaces recording `index` with `samples`.
    static void setRecording(size_t index, const std::vector<int32_t>& samples);
    // The whole file, or "<missing>" when it does not exist.
    static std::string readFile(const std::string& name);
    // testState.resultsFile freshly opened in the folder.
    static void openResults();

    std::filesystem::path folder_;
    std::filesystem::path home_;
};
