// Whole runs end to end: what streams, what the report files hold, and how
// a driver's failures show.
#include <gtest/gtest.h>

#include <sstream>

#include "e2e_runner_choice.h"
#include "expected_output.h"

namespace {

VirtualDriverEntry virtualDriver(const std::string& name, std::vector<std::pair<std::string, std::string>> settings = {})
{
    return VirtualDriverEntry{name, "{5E1A0000-0000-4000-8000-0000000000AA}", "", std::move(settings), true};
}

std::string head(const std::string& name) { return expected::questionsUpToDrivers() + "0 " + name + "\n" + expected::rateList(); }

// Files written in text mode end their lines the platform's way.
std::string textFile(const std::string& text)
{
    const std::string end = harnessRunner().lineEnd();
    std::string converted;
    for (char c : text) {
        if (c == '\n')
            converted += end;
        else
            converted += c;
    }
    return converted;
}

// The dump table's rows: position, then one value per input.
std::vector<std::vector<long long>> dumpRows(const std::string& dump, std::string* header)
{
    std::istringstream in(dump);
    std::string line;
    std::vector<std::vector<long long>> rows;
    for (int i = 0; i < 3 && std::getline(in, line); ++i) *header += line + "\n";
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::vector<long long> row;
        long long v;
        while (fields >> v) row.push_back(v);
        rows.push_back(row);
    }
    return rows;
}

TEST(RunEndToEnd, TwoStaircaseRunsLoopBackExactly)
{
    const HarnessResult r = harnessRunner().run("2 300 -1 1\n", {virtualDriver("Loopback")});
    ASSERT_EQ(r.exitCode, 0);
    const std::string run = "Initialised device\n" + expected::setupLines({}) + "Setup playback\n" +
                            expected::shutdown("0") + "Deinitialised device\n" + expected::staircaseCheck(2);
    EXPECT_MATCHES(r.out, head("Loopback") + expected::firstInitialisation("Loopback") + run +
                              expected::initialised("Loopback") + run);
    EXPECT_EQ(r.err, "");

    const std::string block =
        "Calls {n}, samples detected {n}\n"
        "Input latency is 288, output latency is 320\n"
        "Max Abs {n}(sample {n}, Initial zeroes 1024, total samples {n})\t"
        "Max Abs {n}(sample {n}, Initial zeroes 1024, total samples {n})\t\n"
        "Channel 2\t1\n{n}({n}) \nChannel 3\t1\n{n}({n}) \n\n";
    EXPECT_MATCHES(r.file("ASIO Results.txt"), textFile(block + block));

    // The inputs hear the staircase after the lead-in (288 + 320 samples of
    // silence) and the driver's round trip (the same again).
    for (const char* name : {"ASIO PCM(Run 0).txt", "ASIO PCM(Run 1).txt"}) {
        SCOPED_TRACE(name);
        std::string header;
        const auto rows = dumpRows(r.file(name), &header);
        EXPECT_MATCHES(header, textFile("Input latency is 288, output latency is 320\n"
                                        "Max Abs {n}(sample {n}, Initial zeroes 1024, total samples {n})\t"
                                        "Max Abs {n}(sample {n}, Initial zeroes 1024, total samples {n})\t\n"
                                        "Position\tvalues\n"));
        ASSERT_GT(rows.size(), 5000u);  // 300 ms at 48 kHz, less the lead-in
        for (size_t p = 0; p < rows.size(); ++p) {
            const long long want = p < 1216 ? 0 : static_cast<long long>(p - 1216) * 100;
            ASSERT_EQ(rows[p], (std::vector<long long>{static_cast<long long>(p), want, want})) << p;
        }
    }
}

TEST(RunEndToEnd, FloatRunPrintsTheRangeOfInputValues)
{
    const HarnessResult r = harnessRunner().run("1 200 1000 1\n", {virtualDriver("Float", {{"SampleType", "dword:00000013"}})});
    expected::Setup setup;
    setup.sampleType = 19;
    setup.signalLines = "Buffer length is 48000\n********************Sinsusoid\nStep is 2.08333e-05\n";
    const std::string before = head("Float") + expected::firstInitialisation("Float") + "Initialised device\n" +
                               expected::setupLines(setup) + "Setup playback\n" + expected::shutdown("0") +
                               "Deinitialised device\n";
    ASSERT_EQ(r.out.compare(0, before.size(), before), 0) << r.out;
    float low = 0, high = 0;
    ASSERT_EQ(std::sscanf(r.out.c_str() + before.size(), "Float values are between %g and %g\n", &low, &high), 2)
        << r.out;
    EXPECT_NEAR(low, -1.0f, 1e-4);
    EXPECT_NEAR(high, 1.0f, 1e-4);
    EXPECT_TRUE(r.hasFile("ASIO PCM(Run 0).txt"));
}

TEST(RunEndToEnd, DriverFailuresEndTheRunCleanly)
{
    struct Case {
        const char* fail;
        std::string out;
    } cases[] = {
        // The driver object cannot be made: nothing to set up, no report.
        {"create", "Could not initialise device 0\nCould not setup playback\n" + expected::shutdown("-1000")},
        // It refuses to initialise: the initialisation is tried twice, as on
        // a first run, and the run ends without a driver.
        {"init", expected::initFailed("Virtual device failure") + expected::shutdown("-1000") +
                     expected::initFailed("Virtual device failure") + "Initialised device\n" +
                     "Could not setup playback\n" + expected::shutdown("-1000")},
        {"setSampleRate",
         expected::firstInitialisation("Failing") + "Initialised device\n" +
             "There are 2 output channels and 2 inputs channels\nGot channel info 18\n"
             "Format type supported (32 bit integer little endian)\nBuffer size is 0\n"
             "Buffer sizes are [64, 2048] preferred 256 granularity -1\nSetting sample rate to 48000\n"
             "Could not set sampling rate to 48000\nCould not setup playback\n" +
             expected::shutdown("-997")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fail);
        const HarnessResult r =
            harnessRunner().run("1 40 -1 1\n", {virtualDriver("Failing", {{"Fail", std::string("\"") + c.fail + "\""}})});
        EXPECT_EQ(r.out, head("Failing") + c.out);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.files(), (std::vector<std::string>{"ASIO Results.txt", "loopcheck-session.json"}));
        EXPECT_EQ(r.file("ASIO Results.txt"), "");
    }
}

TEST(RunEndToEnd, LatencyChangeDuringTheRunIsReported)
{
    const HarnessResult r = harnessRunner().run(
        "1 400 0 1\n", {virtualDriver("Changing", {{"LatencyChangeAtMs", "dword:00000064"},
                                                   {"ChangedInputLatency", "dword:000001f4"},
                                                   {"ChangedOutputLatency", "dword:00000258"}})});
    EXPECT_MATCHES(r.out, head("Changing") + expected::firstInitialisation("Changing") + "Initialised device\n" +
                              expected::setupLines({}) + "Setup playback\n" +
                              "ASIO message selector 6, value 0\n" + expected::shutdown("0") +
                              "Deinitialised device\n");
    EXPECT_NE(r.file("ASIO Results.txt").find("Input latency is 500, output latency is 600"), std::string::npos);
    EXPECT_NE(r.file("ASIO PCM(Run 0).txt").find("Input latency is 500, output latency is 600"), std::string::npos);
}

}  // namespace
