#include "report/report_folder.h"

#include <fstream>
#include <iterator>
#include <random>

#include "record/test_state.h"
#include "report/report_files.h"

void ReportTest::SetUp()
{
    StateTest::SetUp();
    home_ = std::filesystem::current_path();
    std::random_device random;
    folder_ = std::filesystem::temp_directory_path() / ("loopcheck-report-" + std::to_string(random()));
    std::filesystem::create_directories(folder_);
    std::filesystem::current_path(folder_);
}

void ReportTest::TearDown()
{
    testState.resultsFile.reset();
    std::filesystem::current_path(home_);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
    StateTest::TearDown();
}

void ReportTest::setRecording(size_t index, const std::vector<int32_t>& samples)
{
    SampleRecording& recording = testState.captures[index];
    recording.clear();
    recording.append(samples.data(), samples.size());
}

std::string ReportTest::readFile(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    if (!in) return "<missing>";
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void ReportTest::openResults()
{
    testState.resultsFile = openResultsFile();
}
