// Drivers that behave unusually but within their rights: latencies that
// change while streaming, a sample-rate notice, dropouts, noise, either
// kind of buffer switch, no inputs, more channels than the harness uses,
// buffers far larger and as small as can be. Each run's stdout is the
// harness's usual one, and its report files agree with each other and with
// what the driver delivered.
#include <gtest/gtest.h>

#include <cstdlib>

#include "case_helpers.h"
#include "e2e_runner_choice.h"
#include "report_check.h"

namespace {

using cases::dword;

// Where the inputs first hear the staircase with the default latencies:
// the lead-in of silence plus the loop's round trip, 608 samples each.
constexpr long long heardAfter = 1216;

struct Streamed {
    HarnessResult result;
    RunFiles files;
};

// Runs `runs` staircase runs of `durationMs` and reads the report files
// back, checked against each other and against `shape`; `err` is what
// standard error must hold.
Streamed staircaseRuns(const std::string& name, const cases::Settings& settings, int runs, int durationMs,
                       const RunShape& shape, const std::string& err = "")
{
    Streamed s;
    s.result = harnessRunner().run(std::to_string(runs) + " " + std::to_string(durationMs) + " -1 1\n",
                                   {cases::virtualDriver(name, settings)});
    EXPECT_TRUE(reportsConsistent(s.result, runs, shape, &s.files));
    EXPECT_EQ(s.result.exitCode, 0);
    EXPECT_EQ(s.result.err, err);
    return s;
}

std::string staircaseRunsOut(const std::string& name, int runs, const expected::Setup& setup, int checkedOutputs,
                             const std::string& during = "")
{
    std::string out = cases::head(name);
    for (int k = 0; k < runs; ++k)
        out += cases::streamingRun(name, k == 0, setup, during, expected::staircaseCheck(checkedOutputs));
    return out;
}

void expectInputs(const RunFiles& files, const std::function<bool(long long, long long)>& fits)
{
    for (const DumpTable& dump : files.dumps) {
        std::string why;
        EXPECT_TRUE(everyInputValue(dump, fits, &why)) << why;
    }
}

TEST(DriverBehaviourEndToEnd, LatencyChangeWhileStreamingIsReportedInEveryRun)
{
    // The report gives the latencies as they stand after the run; the
    // lead-in stays what the setup saw. Extreme figures pass unharmed.
    struct Case {
        long long input, output;
    } cases[] = {{500, 600}, {-288, 2147483647}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        const Streamed s = staircaseRuns("Changing",
                                         {{"LatencyChangeAtMs", dword(100)},
                                          {"ChangedInputLatency", dword(c.input)},
                                          {"ChangedOutputLatency", dword(c.output)}},
                                         2, 300, RunShape{});
        EXPECT_MATCHES(s.result.out, staircaseRunsOut("Changing", 2, {}, 2, "ASIO message selector 6, value 0\n"));
        for (const ResultsBlock& block : s.files.blocks) {
            EXPECT_EQ(block.inputLatency, c.input);
            EXPECT_EQ(block.outputLatency, c.output);
        }
        expectInputs(s.files, [](long long p, long long v) { return v == staircaseHeard(p, heardAfter); });
    }
}

TEST(DriverBehaviourEndToEnd, SampleRateNoticeIsAnnouncedAndTheRunGoesOn)
{
    const Streamed s = staircaseRuns("Rate", {{"RateChangeAtMs", dword(20)}}, 1, 200, RunShape{});
    EXPECT_MATCHES(s.result.out, staircaseRunsOut("Rate", 1, {}, 2, "Sample rate did change\n"));
    expectInputs(s.files, [](long long p, long long v) { return v == staircaseHeard(p, heardAfter); });
}

TEST(DriverBehaviourEndToEnd, DropoutsAreRecordedAsTheSilenceTheyWere)
{
    // Every third buffer half the inputs receive zeros; the loop itself
    // goes on, so the staircase resumes where it would have been.
    const Streamed s = staircaseRuns("Dropping", {{"DropEvery", dword(3)}}, 1, 300, RunShape{});
    EXPECT_MATCHES(s.result.out, staircaseRunsOut("Dropping", 1, {}, 2));
    const auto dropped = [](long long p) { return (p / 256 + 1) % 3 == 0; };
    expectInputs(s.files,
                 [&](long long p, long long v) { return v == (dropped(p) ? 0 : staircaseHeard(p, heardAfter)); });
    ASSERT_EQ(s.files.dumps.size(), 1u);
    ASSERT_GT(s.files.dumps[0].rows.size(), 3u * 256 + heardAfter);  // a dropout after the silence is in the table
}

TEST(DriverBehaviourEndToEnd, NoiseOnTheInputsIsRecordedAsItCame)
{
    // 4 bits of noise: every input sample within -8..7 of the staircase,
    // so even the lead-in is not silent.
    const Streamed s = staircaseRuns("Noisy", {{"NoiseLsb", dword(4)}}, 1, 200, RunShape{});
    EXPECT_MATCHES(s.result.out, staircaseRunsOut("Noisy", 1, {}, 2));
    expectInputs(s.files, [](long long p, long long v) {
        const long long offset = v - staircaseHeard(p, heardAfter);
        return offset >= -8 && offset <= 7;
    });
    for (const ResultsBlock& block : s.files.blocks)
        for (const InputEntry& entry : block.entries) EXPECT_EQ(entry.initialZeroes, 0);
}

TEST(DriverBehaviourEndToEnd, TimeInfoOnAndOffStreamTheSame)
{
    for (const char* timeInfo : {"dword:00000001", "dword:00000000"}) {
        SCOPED_TRACE(timeInfo);
        const Streamed s = staircaseRuns("Clocked", {{"TimeInfo", timeInfo}}, 1, 200, RunShape{});
        EXPECT_MATCHES(s.result.out, staircaseRunsOut("Clocked", 1, {}, 2));
        expectInputs(s.files, [](long long p, long long v) { return v == staircaseHeard(p, heardAfter); });
    }
}

TEST(DriverBehaviourEndToEnd, NoInputsGiveBlocksAndTablesWithoutColumns)
{
    RunShape shape;
    shape.inputs = 0;
    const Streamed s = staircaseRuns("Mute", {{"Inputs", dword(0)}}, 2, 100, shape);
    expected::Setup setup;
    setup.inputs = 0;
    EXPECT_MATCHES(s.result.out, staircaseRunsOut("Mute", 2, setup, 2));
    for (const ResultsBlock& block : s.files.blocks) EXPECT_TRUE(block.entries.empty());
}

TEST(DriverBehaviourEndToEnd, FortyByFortyChannelsAreClampedToThirtyTwoEach)
{
    RunShape shape;
    shape.outputs = 32;
    shape.inputs = 32;
    // Standard output shows the driver's counts; only standard error says
    // that the channels past 32 are left out.
    const Streamed s = staircaseRuns("Wide", {{"Outputs", dword(40)}, {"Inputs", dword(40)}}, 1, 200, shape,
                                     "warning: the driver reports 40 outputs; the first 32 are tested\n"
                                     "warning: the driver reports 40 inputs; the first 32 are tested\n");
    expected::Setup setup;
    setup.outputs = 40;
    setup.inputs = 40;
    EXPECT_MATCHES(s.result.out, staircaseRunsOut("Wide", 1, setup, 32));
    expectInputs(s.files, [](long long p, long long v) { return v == staircaseHeard(p, heardAfter); });
}

TEST(DriverBehaviourEndToEnd, SmallestBufferOfOneSample)
{
    RunShape shape;
    shape.bufferSize = 1;
    const Streamed s = staircaseRuns(
        "Tiny", {{"BufferMin", dword(1)}, {"BufferPreferred", dword(1)}, {"BufferGranularity", dword(1)}}, 1, 100,
        shape);
    expected::Setup setup;
    setup.bufferSizes = "[1, 2048] preferred 1 granularity 1";
    EXPECT_MATCHES(s.result.out, staircaseRunsOut("Tiny", 1, setup, 2));
    expectInputs(s.files, [](long long p, long long v) { return v == staircaseHeard(p, heardAfter); });
}

TEST(DriverBehaviourEndToEnd, LargestBufferThatStreamsIsLongerThanTheRoundTrip)
{
    // 65536 samples a half, 1.4 s at 48 kHz: a run of 2 s gets about one
    // buffer switch, and the inputs stay silent for a whole half.
    RunShape shape;
    shape.bufferSize = 65536;
    const cases::Settings settings = {
        {"BufferMin", dword(65536)}, {"BufferMax", dword(65536)}, {"BufferPreferred", dword(65536)}};
    const Streamed s = staircaseRuns("Huge", settings, 1, 2000, shape);
    expected::Setup setup;
    setup.bufferSizes = "[65536, 65536] preferred 65536 granularity -1";
    EXPECT_MATCHES(s.result.out, staircaseRunsOut("Huge", 1, setup, 2));
    expectInputs(s.files, [](long long, long long v) { return v == 0; });
}

TEST(DriverBehaviourEndToEnd, BufferBeyondWhatTheDriverCanHoldEndsTheRunsCleanly)
{
    // The largest size a driver can name; the virtual driver refuses the
    // memory, and each run says so and ends.
    const HarnessResult r =
        harnessRunner().run("2 40 -1 1\n", {cases::virtualDriver("Vast", {{"BufferPreferred", dword(2147483647)}})});
    std::string out = cases::head("Vast");
    for (bool first : {true, false})
        out += cases::initialisation("Vast", first) +
               "Initialised device\nThere are 2 output channels and 2 inputs channels\nGot channel info 18\n"
               "Format type supported (32 bit integer little endian)\nBuffer size is 0\n"
               "Buffer sizes are [64, 2048] preferred 2147483647 granularity -1\nSetting sample rate to 48000\n"
               "Buffer length is 48000\nFailed to initialise stresm -994\nCould not setup playback\n" +
               expected::shutdown("-997");
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.files(), (std::vector<std::string>{"ASIO Results.txt", "loopcheck-session.json"}));
    EXPECT_EQ(r.file("ASIO Results.txt"), "");
}

}  // namespace
