// Every operation the virtual driver can be told to fail, in a test of two
// runs: the first run (with the control panel and the fresh start after
// it) and a later one. The harness must say what happened, write report
// files that match what streamed, end with status 0, and go on to the next
// run.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "case_helpers.h"
#include "e2e_runner_choice.h"
#include "report_check.h"

namespace {

const std::string name = "Failing";

std::string setupUpTo(const std::string& lastLines)
{
    return "Initialised device\nThere are 2 output channels and 2 inputs channels\nGot channel info 18\n"
           "Format type supported (32 bit integer little endian)\n" +
           lastLines;
}

const std::string bufferSizes = "Buffer size is 0\nBuffer sizes are [64, 2048] preferred 256 granularity -1\n";
const std::string staircase = expected::staircaseCheck(2);
const std::string emptyStaircase =
    "Channel 0\n\nChannel 0 had 0 mismatches out of 0 Data samples\n"
    "Channel 1\n\nChannel 1 had 0 mismatches out of 0 Data samples\n";

struct FaultCase {
    const char* fail;
    // The console lines of the first or of a later run.
    std::function<std::string(bool firstRun)> run;
    bool streams;            // the run is analysed: a block and a dump file
    long long leadIn = 608;  // latency sum the setup saw
    long long heardAfter = 1216;  // where the inputs first hear the staircase
    bool silent = false;     // nothing streams at all
    std::string warning;     // standard error of each run: the start of its one line
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << "Fail=" << c.fail; }

// A fault that ends each run before it streams: no block, no dump file.
FaultCase endsBeforeStreaming(const char* fail, std::function<std::string(bool)> run)
{
    return FaultCase{fail, std::move(run), false, 608, 1216, false, ""};
}

FaultCase streamsAnyway(const char* fail, std::function<std::string(bool)> run, long long leadIn = 608,
                        long long heardAfter = 1216, bool silent = false, const std::string& warning = "")
{
    return FaultCase{fail, std::move(run), true, leadIn, heardAfter, silent, warning};
}

std::vector<FaultCase> faultCases()
{
    using cases::initialisation;
    const auto failedSetup = [](const std::string& lines) {
        return [lines](bool first) {
            return initialisation(name, first) + lines + "Could not setup playback\n" + expected::shutdown("-997");
        };
    };
    const auto streaming = [](const std::string& after) {
        return [after](bool first) { return cases::streamingRun(name, first, expected::Setup{}, "", after); };
    };
    const std::string initFailed = expected::initFailed("Virtual device failure");
    return {
        // Nothing to load: no initialisation, and so no control panel; the
        // class factory's refusal is told on standard error.
        FaultCase{"create",
                  [](bool) {
                      return "Could not initialise device 0\nCould not setup playback\n" + expected::shutdown("-1000");
                  },
                  false, 608, 1216, false, "warning: driver \"Failing\" could not be created: "},
        // Initialised twice on the first run, as the control panel asks,
        // though no driver came of either.
        endsBeforeStreaming("init",
                            [initFailed](bool first) {
                                return (first ? initFailed + expected::shutdown("-1000") : "") + initFailed +
                                       "Initialised device\nCould not setup playback\n" + expected::shutdown("-1000");
                            }),
        endsBeforeStreaming("getChannels", failedSetup("Initialised device\nCould not read the channel counts\n")),
        endsBeforeStreaming("getChannelInfo",
                            failedSetup("Initialised device\nThere are 2 output channels and 2 inputs channels\n"
                                        "Could not read the sample format\n")),
        endsBeforeStreaming("getBufferSize",
                            failedSetup(setupUpTo("Buffer size is -999\nBuffer sizes are [0, 0] preferred 0 "
                                                  "granularity 0\nPreferred buffer size 0 is not usable\n"))),
        endsBeforeStreaming("setSampleRate", failedSetup(setupUpTo(bufferSizes +
                                                                   "Setting sample rate to 48000\n"
                                                                   "Could not set sampling rate to 48000\n"))),
        endsBeforeStreaming("createBuffers",
                            failedSetup(setupUpTo(bufferSizes + "Setting sample rate to 48000\nBuffer length is "
                                                                "48000\nFailed to initialise stresm -999\n"))),
        // A query whose answer the harness can do without.
        streamsAnyway("getSampleRate", streaming(staircase)),
        // No latencies: no lead-in, and the report says 0 for both.
        streamsAnyway("getLatencies", streaming(staircase), 0, 608),
        streamsAnyway("start", streaming(emptyStaircase), 608, 1216, true,
                      "warning: the driver's start returned -999\n"),
        // The virtual driver stops all the same; only the code says it failed.
        streamsAnyway("stop", streaming(staircase), 608, 1216, false, "warning: the driver's stop returned -999\n"),
        streamsAnyway("disposeBuffers",
                      [](bool first) {
                          // The release after the control panel fails too, the same way.
                          return (first ? expected::initialised(name) + expected::shutdown("-999") : "") +
                                 cases::streamingRun(name, false, expected::Setup{}, "", staircase, "-999");
                      }),
    };
}

class DriverFaultEndToEnd : public ::testing::TestWithParam<FaultCase> {};

TEST_P(DriverFaultEndToEnd, FirstAndLaterRunEndCleanlyAndTheTestGoesOn)
{
    const FaultCase& c = GetParam();
    const HarnessResult r =
        harnessRunner().run("2 40 -1 1\n", {cases::virtualDriver(name, {{"Fail", cases::quoted(c.fail)}})});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_MATCHES(r.out, cases::head(name) + c.run(true) + c.run(false));
    std::istringstream errLines(r.err);
    std::vector<std::string> warnings;
    for (std::string line; std::getline(errLines, line);) warnings.push_back(line + "\n");
    EXPECT_EQ(warnings.size(), c.warning.empty() ? 0u : 2u) << r.err;
    for (const std::string& line : warnings) EXPECT_EQ(line.rfind(c.warning, 0), 0u) << line;

    if (!c.streams) {
        EXPECT_EQ(r.files(), (std::vector<std::string>{"ASIO Results.txt", "loopcheck-session.json"}));
        EXPECT_EQ(r.file("ASIO Results.txt"), "");
        return;
    }
    EXPECT_EQ(r.files(), (std::vector<std::string>{"ASIO PCM(Run 0).txt", "ASIO PCM(Run 1).txt", "ASIO Results.txt", "loopcheck-session.json"}));
    RunShape shape;
    shape.leadIn = c.leadIn;
    RunFiles files;
    ASSERT_TRUE(reportsConsistent(r, 2, shape, &files));
    const std::vector<long long> checked = staircaseSampleCounts(r.out);
    ASSERT_EQ(checked.size(), 4u);
    for (size_t run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        const ResultsBlock& block = files.blocks[run];
        const DumpTable& dump = files.dumps[run];
        EXPECT_EQ(block.inputLatency, c.leadIn == 0 ? 0 : 288);
        EXPECT_EQ(block.outputLatency, c.leadIn == 0 ? 0 : 320);
        if (c.silent) {
            EXPECT_EQ(block.calls, 0u);
        }
        // The staircase check ran over the samples the dump table shows.
        EXPECT_EQ(checked[run * 2], static_cast<long long>(dump.rows.size()));
        EXPECT_EQ(checked[run * 2 + 1], static_cast<long long>(dump.rows.size()));
        std::string why;
        EXPECT_TRUE(everyInputValue(
            dump, [&](long long p, long long v) { return v == staircaseHeard(p, c.heardAfter); }, &why))
            << why;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFailSetting, DriverFaultEndToEnd, ::testing::ValuesIn(faultCases()),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.fail); });

}  // namespace
