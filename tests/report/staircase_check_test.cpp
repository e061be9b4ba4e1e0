#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "record/test_state.h"
#include "report/report_folder.h"
#include "report/run_analysis.h"

namespace {

// The staircase check on the console; the report files are written to the
// test's own folder and not looked at here.
class StaircaseCheckTest : public ReportTest {
protected:
    void SetUp() override
    {
        ReportTest::SetUp();
        testState.staircaseMode = true;
        testState.signalLength = 4;
        testState.sampleType = ASIOSTInt32LSB;
        testState.outputChannelCount = 1;
        testState.inputChannelCount = 0;
    }

    // Three loops of a four-step staircase.
    static std::vector<int32_t> staircase() { return {0, 100, 200, 300, 0, 100, 200, 300, 0, 100, 200, 300}; }
};

TEST_F(StaircaseCheckTest, CorrectRecordingShowsItsFirstTenValuesAndNoMismatch)
{
    setRecording(0, staircase());
    analyseRun(0);
    EXPECT_EQ(out(),
              "Channel 0\n"
              "0,100,200,300,0,100,200,300,0,100,\n"
              "Channel 0 had 0 mismatches out of 12 Data samples\n");
}

TEST_F(StaircaseCheckTest, MismatchesArePrintedWhereTheyOccur)
{
    std::vector<int32_t> samples = staircase();
    samples[3] = 999;
    samples[11] = -5;
    setRecording(0, samples);
    analyseRun(0);
    EXPECT_EQ(out(),
              "Channel 0\n"
              "0,100,200,999,Mismatch at 3. Got back 999 was expecting 300\n"
              "0,100,200,300,0,100,Mismatch at 11. Got back -5 was expecting 300\n"
              "\n"
              "Channel 0 had 2 mismatches out of 12 Data samples\n");
}

TEST_F(StaircaseCheckTest, EachOutputCountsItsOwnMismatches)
{
    testState.outputChannelCount = 2;
    std::vector<int32_t> wrong = staircase();
    wrong[5] = 7;
    setRecording(0, staircase());
    setRecording(1, wrong);
    analyseRun(0);
    EXPECT_NE(out().find("Channel 0 had 0 mismatches out of 12 Data samples\n"), std::string::npos);
    EXPECT_NE(out().find("Mismatch at 5. Got back 7 was expecting 100\n"), std::string::npos);
    EXPECT_NE(out().find("Channel 1 had 1 mismatches out of 12 Data samples\n"), std::string::npos);
}

TEST_F(StaircaseCheckTest, EmptyRecordingPrintsAnEmptyLine)
{
    analyseRun(0);
    EXPECT_EQ(out(), "Channel 0\n\nChannel 0 had 0 mismatches out of 0 Data samples\n");
}

TEST_F(StaircaseCheckTest, SixteenBitStepsWrapLikeTheSamplesSent)
{
    // 328 x 100 = 32800 no longer fits: the staircase sent -32736 there.
    testState.sampleType = ASIOSTInt16LSB;
    testState.signalLength = 400;
    std::vector<int32_t> samples;
    for (int32_t p = 0; p < 800; ++p) samples.push_back(static_cast<int16_t>(static_cast<uint16_t>(p % 400 * 100)));
    samples[728] = 0;
    setRecording(0, samples);
    analyseRun(0);
    EXPECT_EQ(out(),
              "Channel 0\n"
              "0,100,200,300,400,500,600,700,800,900,Mismatch at 728. Got back 0 was expecting -32736\n"
              "\n"
              "Channel 0 had 1 mismatches out of 800 Data samples\n");
}

TEST_F(StaircaseCheckTest, NothingIsCheckedOutsideStaircaseModeOrWithoutOutputs)
{
    setRecording(0, {1, 2, 3});
    testState.staircaseMode = false;
    analyseRun(0);
    EXPECT_EQ(out(), "");

    testState.staircaseMode = true;
    testState.outputChannelCount = 0;
    testState.inputChannelCount = 1;
    setRecording(0, {1, 2, 3});
    analyseRun(0);
    EXPECT_EQ(out(), "");
}

}  // namespace
