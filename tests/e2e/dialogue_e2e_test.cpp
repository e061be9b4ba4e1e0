// The operator's dialogue end to end: answers, rejections and the files a
// test leaves, against the real executable and virtual drivers.
#include <gtest/gtest.h>

#include "e2e_runner_choice.h"
#include "expected_output.h"

namespace {

VirtualDriverEntry virtualDriver(const std::string& name, int id,
                                 std::vector<std::pair<std::string, std::string>> settings = {})
{
    char clsid[64];
    std::snprintf(clsid, sizeof clsid, "{5E1A0000-0000-4000-8000-%012d}", id);
    return VirtualDriverEntry{name, clsid, "", std::move(settings), true};
}

const std::vector<VirtualDriverEntry> oneDriver = {virtualDriver("Loopback", 1)};
const std::vector<VirtualDriverEntry> twoDrivers = {virtualDriver("Alpha", 1), virtualDriver("Beta", 2)};

std::string shortRun(const std::string& deviceName, const expected::Setup& setup)
{
    return expected::firstInitialisation(deviceName) + "Initialised device\n" + expected::setupLines(setup) +
           "Setup playback\n" + expected::shutdown("0") + "Deinitialised device\n";
}

TEST(DialogueEndToEnd, DurationOutsideItsRangeEndsBeforeTheFrequencyQuestion)
{
    for (const char* duration : {"0", "100001", "-5"}) {
        SCOPED_TRACE(duration);
        const HarnessResult r = harnessRunner().run(std::string("1\n") + duration + "\n440\n", oneDriver);
        EXPECT_EQ(r.out,
                  "How many runs? Duration of each run in milli-seconds (1000 ms = 1 s)? "
                  "Valid values are between 1 and 100000\n");
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_TRUE(r.files().empty());
    }
}

TEST(DialogueEndToEnd, ZeroRunsEmptiesTheResultsFileAndStreamsNothing)
{
    // Both ends of the duration range pass.
    for (const char* duration : {"1", "100000"}) {
        SCOPED_TRACE(duration);
        const HarnessResult r = harnessRunner().run(std::string("0 ") + duration + " 440 1\n", oneDriver);
        EXPECT_EQ(r.out, expected::questionsUpToDrivers() + "0 Loopback\n" + expected::rateList());
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.files(), (std::vector<std::string>{"ASIO Results.txt", "loopcheck-session.json"}));
        EXPECT_EQ(r.file("ASIO Results.txt"), "");
    }
}

TEST(DialogueEndToEnd, FrequencyAnswerChoosesTheSignal)
{
    const std::string sine = "Buffer length is 48000\n********************Sinsusoid\nStep is 2.08333e-05\n";
    struct Case {
        const char* frequency;
        std::string signalLines;
        std::string check;
    } cases[] = {
        {"0", "Buffer length is 48000\n", ""},
        {"-1", "Buffer length is 48000\n", expected::staircaseCheck(2)},
        {"1e3", sine, ""},
        {"-0.5", sine, ""},
        {"-2", sine, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frequency);
        const HarnessResult r = harnessRunner().run(std::string("1 40 ") + c.frequency + " 1\n", oneDriver);
        expected::Setup setup;
        setup.signalLines = c.signalLines;
        EXPECT_MATCHES(r.out, expected::questionsUpToDrivers() + "0 Loopback\n" + expected::rateList() +
                                  shortRun("Loopback", setup) + c.check);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.files(), (std::vector<std::string>{"ASIO PCM(Run 0).txt", "ASIO Results.txt", "loopcheck-session.json"}));
    }
}

TEST(DialogueEndToEnd, DeviceAnswerOutsideTheListIsRejected)
{
    const std::string head = expected::questionsUpToDrivers() + "0 Alpha\n1 Beta\nWhich device (enter number from list)?";
    for (const char* device : {"2", "-1", "x"}) {
        SCOPED_TRACE(device);
        const HarnessResult r = harnessRunner().run(std::string("1 40 440 ") + device + " 1\n", twoDrivers);
        EXPECT_EQ(r.out, head + "Invalid device number. Vaid values range from 0 to 1\n");
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_TRUE(r.files().empty());
    }
    // The second driver is the one that runs when chosen.
    const HarnessResult r = harnessRunner().run("1 40 0\n1\n1\n", twoDrivers);
    EXPECT_MATCHES(r.out, head + expected::rateList() + shortRun("Beta", {}));
}

TEST(DialogueEndToEnd, SampleRateAnswerOutsideTheTableIsRejectedWithoutAResultsFile)
{
    for (const char* rate : {"4", "-1", ""}) {
        SCOPED_TRACE(rate);
        const HarnessResult r = harnessRunner().run(std::string("1 40 440 ") + rate + "\n", oneDriver);
        EXPECT_EQ(r.out, expected::questionsUpToDrivers() + "0 Loopback\n" + expected::rateList() +
                             "Invalid sample rate ID\n");
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_TRUE(r.files().empty());
    }
}

TEST(DialogueEndToEnd, UnreadableRunCountFailsEveryLaterAnswer)
{
    HarnessResult r = harnessRunner().run("many\n40\n440\n1\n", oneDriver);
    EXPECT_EQ(r.out, expected::questionsUpToDrivers() + "0 Loopback\n" + expected::rateList() +
                         "Invalid sample rate ID\n");
    EXPECT_TRUE(r.files().empty());

    r = harnessRunner().run("many\n40\n440\n1\n1\n", twoDrivers);
    EXPECT_EQ(r.out, expected::questionsUpToDrivers() +
                         "0 Alpha\n1 Beta\nWhich device (enter number from list)?"
                         "Invalid device number. Vaid values range from 0 to 1\n");
    EXPECT_EQ(r.exitCode, 0);
}

TEST(DialogueEndToEnd, NoDriverInstalled)
{
    const HarnessResult r = harnessRunner().run("1 40 440\n", {});
    EXPECT_EQ(r.out, expected::questionsUpToDrivers() + "No ASIO devices are available\n");
    EXPECT_EQ(r.exitCode, 0);
}

}  // namespace
