#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "record/test_state.h"
#include "platform/interruption.h"
#include "report/report_files.h"
#include "report/report_folder.h"
#include "report/run_analysis.h"

namespace {

// A small run: 2 outputs of 6 samples (so 6 positions), 3 inputs of 8
// (2 samples of lead-in past the last position), buffers of 2, slices of
// 4 positions: one slice boundary inside the table.
class SmallRunTest : public ReportTest {
protected:
    void SetUp() override
    {
        ReportTest::SetUp();
        fillRun();
    }

    static void fillRun()
    {
        TestState& s = testState;
        s.outputChannelCount = 2;
        s.inputChannelCount = 3;
        s.bufferSize = 2;
        s.sampleRate = 4.0;
        s.callCount = 4;
        s.samplesProcessed = 8;
        s.inputLatency = 3;
        s.outputLatency = -1;
        setRecording(0, {0, 100, 200, 300, 400, 500});
        setRecording(1, {0, 100, 200, 300, 400, 500});
        // Earliest of equal magnitudes wins (-7 before 7); 9 lies past the
        // table and counts nowhere.
        setRecording(2, {0, 0, 0, 5, -7, 7, 3, 9});
        // Full-scale negative has the full-scale magnitude.
        setRecording(3, {INT32_MIN, 0, 0, 0, 0, 0, 0, 0});
        setRecording(4, {0, 0, 0, 0, 0, 0, 0, 0});
    }

    static std::string entries()
    {
        return "Max Abs 7(sample 4, Initial zeroes 2, total samples 8)\t"
               "Max Abs 2147483647(sample 0, Initial zeroes 0, total samples 8)\t"
               "Max Abs 0(sample 0, Initial zeroes 0, total samples 8)\t\n";
    }

    static std::string resultsBlock()
    {
        return "Calls 4, samples detected 8\n"
               "Input latency is 3, output latency is -1\n" +
               entries() +
               "Channel 2\t2\n5(3) 7(4) \n"
               "Channel 3\t2\n2147483647(0) 0(4) \n"
               "Channel 4\t2\n0(0) 0(4) \n"
               "\n";
    }

    static std::string dump()
    {
        return "Input latency is 3, output latency is -1\n" + entries() +
               "Position\tvalues\n"
               "0\t0\t-2147483648\t0\t\n"
               "1\t0\t0\t0\t\n"
               "2\t0\t0\t0\t\n"
               "3\t5\t0\t0\t\n"
               "4\t-7\t0\t0\t\n"
               "5\t7\t0\t0\t\n";
    }

    static void expectAllRecordingsEmpty()
    {
        for (size_t k = 0; k < testState.captures.size(); ++k) EXPECT_TRUE(testState.captures[k].empty()) << k;
    }
};

TEST_F(SmallRunTest, WritesBothFilesByteForByte)
{
    openResults();
    analyseRun(3);
    testState.resultsFile.reset();
    EXPECT_EQ(readFile("ASIO Results.txt"), resultsBlock());
    EXPECT_EQ(readFile("ASIO PCM(Run 3).txt"), dump());
    EXPECT_EQ(out(), "");
    EXPECT_EQ(err(), "");
    expectAllRecordingsEmpty();
}

// An interruption stops the dump table at once: the run's block, written
// before the table, stays; the table cut short goes with its file.
TEST_F(SmallRunTest, AnInterruptedDumpIsRemovedAndTheBlockStays)
{
    openResults();
    simulateInterruption(130);
    const bool whole = analyseRun(2);
    simulateInterruption(0);
    testState.resultsFile.reset();
    EXPECT_FALSE(whole);
    EXPECT_EQ(readFile("ASIO Results.txt"), resultsBlock());
    EXPECT_EQ(readFile("ASIO PCM(Run 2).txt"), "<missing>");
    EXPECT_EQ(err(), "");
    expectAllRecordingsEmpty();

    fillRun();
    EXPECT_TRUE(analyseRun(3));
    EXPECT_EQ(readFile("ASIO PCM(Run 3).txt"), dump());
}

TEST_F(SmallRunTest, WithoutResultsFileTheDumpIsStillWritten)
{
    analyseRun(0);
    EXPECT_EQ(readFile("ASIO PCM(Run 0).txt"), dump());
    EXPECT_EQ(readFile("ASIO Results.txt"), "<missing>");
    EXPECT_EQ(err(), "");
    expectAllRecordingsEmpty();
}

TEST_F(SmallRunTest, DumpFileThatCannotBeCreatedLeavesOnlyTheCountersLineAndOneWarning)
{
    openResults();
    std::filesystem::create_directory("ASIO PCM(Run 0).txt");
    analyseRun(0);
    EXPECT_EQ(err(), "warning: could not create \"ASIO PCM(Run 0).txt\": Is a directory\n");
    expectAllRecordingsEmpty();

    // The next run's block follows directly.
    clearOutput();
    fillRun();
    analyseRun(1);
    testState.resultsFile.reset();
    EXPECT_EQ(readFile("ASIO Results.txt"), "Calls 4, samples detected 8\n" + resultsBlock());
    EXPECT_EQ(readFile("ASIO PCM(Run 1).txt"), dump());
    EXPECT_EQ(err(), "");
}

TEST_F(SmallRunTest, ResultsFileThatCannotBeWrittenCostsOneWarningPerRun)
{
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    testState.resultsFile.reset(std::fopen("/dev/full", "wt"));
    ASSERT_TRUE(testState.resultsFile);
    analyseRun(0);
    EXPECT_EQ(err(), "warning: could not write \"ASIO Results.txt\": No space left on device\n");
    EXPECT_EQ(readFile("ASIO PCM(Run 0).txt"), dump());
    expectAllRecordingsEmpty();
}

TEST_F(SmallRunTest, DumpFileThatCannotBeWrittenIsWarnedAboutOnce)
{
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    std::filesystem::create_symlink("/dev/full", "ASIO PCM(Run 0).txt");
    openResults();
    analyseRun(0);
    testState.resultsFile.reset();
    EXPECT_EQ(err(), "warning: could not write \"ASIO PCM(Run 0).txt\": No space left on device\n");
    EXPECT_EQ(readFile("ASIO Results.txt"), resultsBlock());
}

TEST_F(ReportTest, ResultsFileThatCannotBeCreatedIsWarnedAbout)
{
    std::filesystem::create_directory("ASIO Results.txt");
    EXPECT_FALSE(openResultsFile());
    EXPECT_EQ(err(), "warning: could not create \"ASIO Results.txt\": Is a directory\n");
}

TEST_F(SmallRunTest, ReportFilesThatAreFifosWithoutAReaderAreRefusedWithoutWaiting)
{
    // Opening one for writing would wait for a reader for ever.
    ASSERT_EQ(mkfifo("ASIO Results.txt", 0600), 0);
    ASSERT_EQ(mkfifo("ASIO PCM(Run 0).txt", 0600), 0);
    EXPECT_FALSE(openResultsFile());
    analyseRun(0);
    EXPECT_EQ(err(), "warning: could not create \"ASIO Results.txt\": a FIFO that nothing reads\n"
                     "warning: could not create \"ASIO PCM(Run 0).txt\": a FIFO that nothing reads\n");
    expectAllRecordingsEmpty();
}

TEST_F(ReportTest, ClosingResultsFileWarnsWhenTheLastWritesFail)
{
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    testState.resultsFile.reset(std::fopen("/dev/full", "wt"));
    std::fputs("still buffered", testState.resultsFile.get());
    closeResultsFile();
    EXPECT_FALSE(testState.resultsFile);
    EXPECT_EQ(err(), "warning: could not write \"ASIO Results.txt\": No space left on device\n");
}

TEST_F(ReportTest, RunWithoutInputs)
{
    TestState& s = testState;
    s.outputChannelCount = 1;
    s.inputChannelCount = 0;
    s.staircaseMode = true;
    s.signalLength = 48000;
    s.inputLatency = 10;
    s.outputLatency = 20;
    setRecording(0, {0, 100, 200});
    openResults();
    analyseRun(0);
    testState.resultsFile.reset();
    EXPECT_EQ(readFile("ASIO Results.txt"),
              "Calls 0, samples detected 0\nInput latency is 10, output latency is 20\n\n\n");
    EXPECT_EQ(readFile("ASIO PCM(Run 0).txt"),
              "Input latency is 10, output latency is 20\n\nPosition\tvalues\n0\t\n1\t\n2\t\n");
    // The staircase check still runs over the output.
    EXPECT_EQ(out(), "Channel 0\n0,100,200,\nChannel 0 had 0 mismatches out of 3 Data samples\n");
}

TEST_F(ReportTest, RunWithoutPositions)
{
    // An empty first recording: no rows and no slices, but the input's own
    // samples still give its initial zeroes and length.
    TestState& s = testState;
    s.outputChannelCount = 1;
    s.inputChannelCount = 1;
    s.bufferSize = 2;
    s.callCount = UINT64_MAX;
    s.samplesProcessed = uint64_t{1} << 40;
    setRecording(1, {0, 0, 4, 0});
    openResults();
    analyseRun(0);
    testState.resultsFile.reset();
    const std::string entry = "Max Abs 0(sample 0, Initial zeroes 2, total samples 4)\t\n";
    EXPECT_EQ(readFile("ASIO Results.txt"),
              "Calls 18446744073709551615, samples detected 1099511627776\n"
              "Input latency is 0, output latency is 0\n" +
                  entry + "Channel 1\t0\n\n\n");
    EXPECT_EQ(readFile("ASIO PCM(Run 0).txt"),
              "Input latency is 0, output latency is 0\n" + entry + "Position\tvalues\n");
}

TEST_F(ReportTest, OneSecondSlicesSplitAtTheRate)
{
    // 48000 positions make one slice, 48001 a second one holding only the
    // last position.
    for (size_t positions : {size_t{48000}, size_t{48001}}) {
        SCOPED_TRACE(positions);
        resetTestState();
        TestState& s = testState;
        s.outputChannelCount = 1;
        s.inputChannelCount = 1;
        s.bufferSize = 256;
        std::vector<int32_t> output(positions, 0), input(positions + 256, 0);
        input[47999] = -12;
        input[positions - 1] = 30;
        setRecording(0, output);
        setRecording(1, input);
        openResults();
        analyseRun(0);
        testState.resultsFile.reset();
        const std::string results = readFile("ASIO Results.txt");
        const std::string slices = positions == 48000 ? "Channel 1\t1\n30(47999) \n" : "Channel 1\t2\n12(47999) 30(48000) \n";
        EXPECT_NE(results.find(slices), std::string::npos) << results;
    }
}

TEST_F(ReportTest, ChannelCountsBeyondTheRecordingsAreBounded)
{
    // Counts no setup would leave, yet nothing may walk past the 64
    // recordings: 32 outputs and 32 inputs are analysed.
    testState.outputChannelCount = 50;
    testState.inputChannelCount = 50;
    for (size_t k = 0; k < 64; ++k) setRecording(k, {static_cast<int32_t>(k)});
    openResults();
    analyseRun(0);
    testState.resultsFile.reset();
    const std::string results = readFile("ASIO Results.txt");
    EXPECT_NE(results.find("Channel 32\t1\n32(0) \n"), std::string::npos);
    EXPECT_NE(results.find("Channel 63\t1\n63(0) \n"), std::string::npos);
    EXPECT_EQ(results.find("Channel 64"), std::string::npos);
}

TEST_F(ReportTest, LargeDumpMatchesThePrintfLayout)
{
    // Several megabytes: many blocks pass through the writing thread, and
    // they must arrive whole and in order.
    TestState& s = testState;
    s.outputChannelCount = 1;
    s.inputChannelCount = 3;
    s.bufferSize = 512;
    const size_t positions = 200000;
    std::vector<int32_t> output(positions, 0);
    std::vector<std::vector<int32_t>> inputs(3, std::vector<int32_t>(positions));
    uint32_t state = 12345;
    for (auto& input : inputs)
        for (int32_t& v : input) v = static_cast<int32_t>(state = state * 1664525u + 1013904223u);
    setRecording(0, output);
    for (size_t i = 0; i < 3; ++i) setRecording(1 + i, inputs[i]);

    analyseRun(0);

    const std::string written = readFile("ASIO PCM(Run 0).txt");
    const size_t table = written.find("Position\tvalues\n");
    ASSERT_NE(table, std::string::npos);
    std::string expected;
    char row[80];
    for (size_t p = 0; p < positions; ++p) {
        std::snprintf(row, sizeof row, "%d\t%d\t%d\t%d\t\n", static_cast<int>(p), inputs[0][p], inputs[1][p],
                      inputs[2][p]);
        expected += row;
    }
    EXPECT_TRUE(written.compare(table + 16, std::string::npos, expected) == 0);
    EXPECT_EQ(written.size() - table - 16, expected.size());
}

}  // namespace
