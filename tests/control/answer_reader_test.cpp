#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "control/answer_reader.h"

namespace {

// Reads integer, integer, number from `input` into variables that start at
// 1, 1000 and 220, the way the dialogue asks its first three questions.
struct ThreeAnswers {
    int32_t runs = 1;
    int32_t duration = 1000;
    double frequency = 220.0;
    bool ok[3] = {};
};

ThreeAnswers readThree(const std::string& input)
{
    std::istringstream in(input);
    AnswerReader reader(in);
    ThreeAnswers a;
    a.ok[0] = reader.readInteger(a.runs);
    a.ok[1] = reader.readInteger(a.duration);
    a.ok[2] = reader.readNumber(a.frequency);
    return a;
}

TEST(AnswerReaderTest, ReadsAnswersAsTheDialogueNeedsThem)
{
    struct Case {
        const char* input;
        int32_t runs, duration;
        double frequency;
        bool ok0, ok1, ok2;
    } cases[] = {
        {"2 1500 0\n", 2, 1500, 0.0, true, true, true},             // three answers on one line
        {"\n\n  3\n\t250\n-1\n", 3, 250, -1.0, true, true, true},    // empty lines and blanks skipped
        {"2\r\n1500\r\n1e3\r\n", 2, 1500, 1000.0, true, true, true}, // Windows line ends
        {"+4 -5 -0.5", 4, -5, -0.5, true, true, true},
        {"abc 5 5", 1, 1000, 220.0, false, false, false},            // a failed read fails every later one
        {"2 x 5", 2, 1000, 220.0, true, false, false},
        {"- 5 5", 1, 1000, 220.0, false, false, false},              // a sign without digits
        {"2147483648 5 5", 1, 1000, 220.0, false, false, false},     // does not fit 32 bits
        {"-2147483648 2147483647 5", INT32_MIN, INT32_MAX, 5.0, true, true, true},
        {"12abc 5 5", 12, 1000, 220.0, true, false, false},          // the rest stays for the next question
        {"7 8", 7, 8, 220.0, true, true, false},                     // end of input
        {"", 1, 1000, 220.0, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        const ThreeAnswers a = readThree(c.input);
        EXPECT_EQ(a.runs, c.runs);
        EXPECT_EQ(a.duration, c.duration);
        EXPECT_EQ(a.frequency, c.frequency);
        EXPECT_EQ(a.ok[0], c.ok0);
        EXPECT_EQ(a.ok[1], c.ok1);
        EXPECT_EQ(a.ok[2], c.ok2);
    }
}

TEST(AnswerReaderTest, NulByteStopsTheNumber)
{
    const ThreeAnswers a = readThree(std::string("3\0 4 5", 6));
    EXPECT_EQ(a.runs, 3);
    EXPECT_FALSE(a.ok[1]);
    EXPECT_EQ(a.duration, 1000);
}

}  // namespace
