// What an operator (or a script feeding one) can type: letters, bare
// signs, numbers beyond 32 bits, NUL bytes, very long lines, input that
// ends at any question, Windows line ends. An answer that cannot be read
// fails that question and every later one, so the test ends at the device
// or rate question without a run; an answer that can be read behaves as
// typed, wherever it stands.
#include <gtest/gtest.h>

#include <cctype>

#include "case_helpers.h"
#include "e2e_runner_choice.h"
#include "report_check.h"

namespace {

const std::vector<VirtualDriverEntry> oneDriver = {cases::virtualDriver("Loopback")};
const std::vector<VirtualDriverEntry> twoDrivers = {
    VirtualDriverEntry{"Alpha", "{5E1A0000-0000-4000-8000-0000000000C1}", "", {}, true},
    VirtualDriverEntry{"Beta", "{5E1A0000-0000-4000-8000-0000000000C2}", "", {}, true}};

enum class Outcome {
    rateRejected,      // ends at the sample-rate question: no file
    deviceRejected,    // ends at the device question (two drivers)
    durationRejected,  // ends after the duration question
    oneRun,            // one staircase run of 40 ms
};

struct InputCase {
    const char* what;
    std::string answers;
    Outcome outcome;
    bool twoDriversListed = false;
};

std::string expectedOut(const InputCase& c)
{
    const std::string drivers = c.twoDriversListed ? "0 Alpha\n1 Beta\nWhich device (enter number from list)?"
                                                   : "0 Loopback\n";
    switch (c.outcome) {
    case Outcome::durationRejected:
        return "How many runs? Duration of each run in milli-seconds (1000 ms = 1 s)? "
               "Valid values are between 1 and 100000\n";
    case Outcome::deviceRejected:
        return expected::questionsUpToDrivers() + drivers + "Invalid device number. Vaid values range from 0 to 1\n";
    case Outcome::rateRejected:
        return expected::questionsUpToDrivers() + drivers + expected::rateList() + "Invalid sample rate ID\n";
    case Outcome::oneRun:
        return expected::questionsUpToDrivers() + drivers + expected::rateList() +
               cases::streamingRun(c.twoDriversListed ? "Beta" : "Loopback", true, {}, "",
                                   expected::staircaseCheck(2));
    }
    return "";
}

void PrintTo(const InputCase& c, std::ostream* os) { *os << c.what; }

std::vector<InputCase> inputCases()
{
    const std::string megabyte(1 << 20, ' ');
    return {
        // Letters and bare signs: the first unreadable answer fails the rest.
        {"letters as runs", "many 40 -1 1\n", Outcome::rateRejected},
        {"letters as duration", "1 long -1 1\n", Outcome::rateRejected},
        {"letters as frequency", "1 40 sine 1\n", Outcome::rateRejected},
        {"letters as rate", "1 40 -1 fast\n", Outcome::rateRejected},
        {"letters as device", "1 40 -1 first 1\n", Outcome::deviceRejected, true},
        {"bare minus as runs", "- 40 -1 1\n", Outcome::rateRejected},
        {"bare plus as duration", "1 + -1 1\n", Outcome::rateRejected},
        {"bare minus as frequency", "1 40 - 1\n", Outcome::rateRejected},
        {"bare plus as rate", "1 40 -1 +\n", Outcome::rateRejected},
        // Beyond 32 bits: failed reads, never wrapped round to a valid
        // answer (2^32 + 41 would be 41 ms, 2^32 device 0, 2^32 + 1 rate 1).
        {"runs beyond 32 bits", "2147483648 40 -1 1\n", Outcome::rateRejected},
        {"duration wrapping to 41", "1 4294967337 -1 1\n", Outcome::rateRejected},
        {"duration below 32 bits", "1 -2147483649 -1 1\n", Outcome::rateRejected},
        {"frequency beyond double", "1 40 1e400 1\n", Outcome::rateRejected},
        {"device wrapping to 0", "1 40 -1 4294967296 1\n", Outcome::deviceRejected, true},
        {"rate wrapping to 1", "1 40 -1 4294967297\n", Outcome::rateRejected},
        {"duration one past the range", "1 100001 -1 1\n", Outcome::durationRejected},
        // NUL bytes: not white space, so an answer cannot go on past one.
        {"NUL as runs", std::string("\0 40 -1 1\n", 10), Outcome::rateRejected},
        {"NUL after the runs", std::string("1\0 40 -1 1\n", 11), Outcome::rateRejected},
        {"NUL after the last answer", std::string("1 40 -1 1\n\0", 11), Outcome::oneRun},
        // Very long lines.
        {"a megabyte of blanks", megabyte + "1" + megabyte + "40 -1 1\n", Outcome::oneRun},
        {"a megabyte of leading zeros", std::string(1 << 20, '0') + "1 40 -1 1\n", Outcome::oneRun},
        {"a megabyte of digits", std::string(1 << 20, '9') + " 40 -1 1\n", Outcome::rateRejected},
        // Input that ends at each question.
        {"nothing", "", Outcome::rateRejected},
        {"end after runs", "1\n", Outcome::rateRejected},
        {"end after duration", "1 40\n", Outcome::rateRejected},
        {"end after frequency", "1 40 -1\n", Outcome::rateRejected},
        {"end at the device question", "1 40 -1\n", Outcome::deviceRejected, true},
        {"end at the rate question", "1 40 -1 1\n", Outcome::rateRejected, true},
        {"end right after the last digit", "1 40 -1 1", Outcome::oneRun},
        // Windows line ends are white space like any other.
        {"CR LF line ends", "1\r\n40\r\n-1\r\n1\r\n", Outcome::oneRun},
        {"CR LF with two drivers", "1\r\n40\r\n-1\r\n1\r\n1\r\n", Outcome::oneRun, true},
    };
}

class OperatorInputEndToEnd : public ::testing::TestWithParam<InputCase> {};

TEST_P(OperatorInputEndToEnd, AnswersAreReadOrRejectedAndNothingBreaks)
{
    const InputCase& c = GetParam();
    const HarnessResult r = harnessRunner().run(c.answers, c.twoDriversListed ? twoDrivers : oneDriver);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_MATCHES(r.out, expectedOut(c));
    if (c.outcome != Outcome::oneRun) {
        EXPECT_TRUE(r.files().empty());
        return;
    }
    EXPECT_EQ(r.files(), (std::vector<std::string>{"ASIO PCM(Run 0).txt", "ASIO Results.txt", "loopcheck-session.json"}));
    EXPECT_TRUE(reportsConsistent(r, 1, RunShape{}));
}

TEST(OperatorFrequencyEndToEnd, BeyondWhatThePhaseHoldsSendsSilence)
{
    // From about 2.9e307 Hz the phase overflows and every sine is NaN: the
    // outputs get silence, not whatever the conversion makes of NaN.
    const HarnessResult r = harnessRunner().run("1 40 1e308 1\n", oneDriver);
    expected::Setup setup;
    setup.signalLines = "Buffer length is 48000\n********************Sinsusoid\nStep is 2.08333e-05\n";
    EXPECT_MATCHES(r.out, cases::head("Loopback") + cases::streamingRun("Loopback", true, setup));
    EXPECT_EQ(r.exitCode, 0);
    RunFiles files;
    ASSERT_TRUE(reportsConsistent(r, 1, RunShape{}, &files));
    std::string why;
    EXPECT_TRUE(everyInputValue(files.dumps[0], [](long long, long long v) { return v == 0; }, &why)) << why;
    for (const InputEntry& entry : files.blocks[0].entries) EXPECT_EQ(entry.initialZeroes, 0);
}

std::string caseName(const ::testing::TestParamInfo<InputCase>& info)
{
    std::string name;
    for (const char* at = info.param.what; *at != '\0'; ++at) {
        if (std::isalnum(static_cast<unsigned char>(*at)))
            name += *at;
        else if (at[1] != '\0')
            name += '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Typed, OperatorInputEndToEnd, ::testing::ValuesIn(inputCases()), caseName);

}  // namespace
