// Reading the harness's dump files: what a whole dump gives, and that a
// file which is not one is refused with its name and line.
#include <gtest/gtest.h>

#include <string>

#include "analyse/dump_parser.h"
#include "harness_runner.h"
#include "synthetic_dump.h"

using namespace analyse;

namespace {

const std::string header =
    "Input latency is 288, output latency is 320\n"
    "Max Abs 5(sample 2, Initial zeroes 0, total samples 3)\tMax Abs 7(sample 1, Initial zeroes 0, total samples 2)\t\n"
    "Position\tvalues\n";

bool parse(const std::string& text, DumpData& dump, std::string& error, std::vector<std::string>& warnings)
{
    return parseDumpText(text.data(), text.data() + text.size(), "ASIO PCM(Run 3).txt", dump, error, warnings);
}

TEST(DumpParser, ReadsLatenciesColumnsAndRunNumber)
{
    // The second input's recording ended a row early: its cell stays empty.
    const std::string text = header + "0\t0\t-7\t\n1\t-2147483648\t7\t\n2\t5\t\t\n";
    DumpData dump;
    std::string error;
    std::vector<std::string> warnings;
    ASSERT_TRUE(parse(text, dump, error, warnings)) << error;
    EXPECT_EQ(dump.runNumber, 3);
    EXPECT_EQ(dump.inputLatency, 288);
    EXPECT_EQ(dump.outputLatency, 320);
    EXPECT_EQ(dump.leadIn(), 608);
    EXPECT_EQ(dump.rows, 3);
    ASSERT_EQ(dump.maxima.size(), 2u);
    EXPECT_EQ(dump.maxima[1].maxAbs, 7);
    EXPECT_EQ(dump.columns[0], (std::vector<int32_t>{0, -2147483648, 5}));
    EXPECT_EQ(dump.columns[1], (std::vector<int32_t>{-7, 7}));
    EXPECT_TRUE(warnings.empty());

    // Latencies that add up to less than nothing: the harness sends no lead-in.
    ASSERT_TRUE(parse("Input latency is -500, output latency is 100\n\nPosition\tvalues\n0\t\n", dump, error, warnings));
    EXPECT_EQ(dump.leadIn(), 0);
    EXPECT_EQ(dump.rows, 1);
    EXPECT_TRUE(dump.columns.empty());
}

TEST(DumpParser, WindowsLineEndsAndAGeneratedDumpReadBack)
{
    std::string crlf;
    for (char c : header + "0\t1\t2\t\n") {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    DumpData dump;
    std::string error;
    std::vector<std::string> warnings;
    ASSERT_TRUE(parse(crlf, dump, error, warnings)) << error;
    EXPECT_EQ(dump.columns[1], std::vector<int32_t>{2});

    synthetic::Run run;
    run.columns = {synthetic::staircase(5000, 1000, 48000), synthetic::silence(5000)};
    ASSERT_TRUE(parse(synthetic::dumpText(run), dump, error, warnings)) << error;
    EXPECT_EQ(dump.columns[0], run.columns[0]);
    EXPECT_EQ(dump.columns[1], run.columns[1]);
}

TEST(DumpParser, ACutOffLastRowIsLeftOutWithAWarning)
{
    DumpData dump;
    std::string error;
    std::vector<std::string> warnings;
    ASSERT_TRUE(parse(header + "0\t1\t2\t\n1\t3\t4", dump, error, warnings)) << error;
    EXPECT_EQ(dump.rows, 1);
    EXPECT_EQ(dump.columns[0].size(), 1u);
    EXPECT_EQ(dump.columns[1].size(), 1u);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], "ASIO PCM(Run 3).txt:5: last row is incomplete and was left out");
}

// The file is read in blocks of a mebibyte: rows, line ends and a header
// line that cross from one block to the next read as from one piece.
TEST(DumpParser, AFileReadsAcrossItsBlocksAsTheWholeText)
{
    TemporaryFolder folder;
    synthetic::Run run;
    run.columns = {synthetic::staircase(200000, 1253, 48000), synthetic::sine(200000, 1300.5, 997, 48000, 2e9, 48000)};
    std::string crlf;
    for (char c : synthetic::dumpText(run)) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    ASSERT_GT(crlf.size(), 3u << 20);
    // 20000 inputs: the line of maxima alone is longer than a block.
    synthetic::Run wide;
    wide.columns.assign(20000, synthetic::staircase(3, 0, 48000));
    for (const std::string& text : {crlf, synthetic::dumpText(wide)}) {
        const std::string path = synthetic::writeDump(folder.path(), 0, synthetic::Run{});
        synthetic::writeText(path, text);
        DumpData fromFile, fromText;
        std::string error;
        std::vector<std::string> warnings;
        ASSERT_TRUE(readDumpFile(path, fromFile, error, warnings)) << error;
        ASSERT_TRUE(parse(text, fromText, error, warnings)) << error;
        EXPECT_EQ(fromFile.rows, fromText.rows);
        EXPECT_EQ(fromFile.bytes, text.size());
        EXPECT_EQ(fromFile.maxima.size(), fromText.maxima.size());
        EXPECT_TRUE(fromFile.columns == fromText.columns);
        EXPECT_TRUE(warnings.empty());
    }
}

// The maxima line states each input's recorded samples: the table runs to
// that less the lead-in (608 here), or to the end of an input that stopped
// early.
TEST(DumpParser, ATableShorterThanItsMaximaLineStatesIsCut)
{
    const auto withTotals = [](int total0, int total1, const std::string& rows) {
        return "Input latency is 288, output latency is 320\nMax Abs 5(sample 0, Initial zeroes 0, total samples " +
               std::to_string(total0) + ")\tMax Abs 5(sample 0, Initial zeroes 0, total samples " +
               std::to_string(total1) + ")\t\nPosition\tvalues\n" + rows;
    };
    const std::string threeRows = "0\t5\t5\t\n1\t0\t0\t\n2\t0\t\t\n";
    DumpData dump;
    std::string error;
    std::vector<std::string> warnings;
    EXPECT_TRUE(parse(withTotals(611, 2, threeRows), dump, error, warnings)) << error;
    EXPECT_TRUE(parse(withTotals(600, 2, threeRows), dump, error, warnings)) << "a run shorter than its lead-in";

    const std::string file = "ASIO PCM(Run 3).txt";
    EXPECT_FALSE(parse(withTotals(612, 2, threeRows), dump, error, warnings));
    EXPECT_EQ(error, file + ": cut dump: the table ends after 3 rows where its maxima line states 4 (612 samples of "
                            "input 0 less the lead-in of 608)");
    // A row the writer did not finish counts as missing.
    const std::string fourRows = "0\t5\t5\t\n1\t0\t0\t\n2\t0\t0\t\n3\t1\t1\t\n";
    EXPECT_TRUE(parse(withTotals(2, 612, fourRows), dump, error, warnings)) << error;
    EXPECT_FALSE(parse(withTotals(2, 612, threeRows + "3\t1"), dump, error, warnings));
    EXPECT_EQ(error, file + ": cut dump: the table ends after 3 rows where its maxima line states 4 (612 samples of "
                            "input 1 less the lead-in of 608)");
    EXPECT_FALSE(parse(withTotals(48608, 48608, ""), dump, error, warnings));
    EXPECT_EQ(error, file + ": cut dump: the table ends after 0 rows where its maxima line states 48000 (48608 "
                            "samples of input 0 less the lead-in of 608)");
}

struct Malformed {
    const char* name;
    std::string text;
    std::string error;
};

void PrintTo(const Malformed& m, std::ostream* out) { *out << m.name; }

class MalformedDumps : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedDumps, AreRefusedNamingFileAndLine)
{
    DumpData dump;
    std::string error;
    std::vector<std::string> warnings;
    EXPECT_FALSE(parse(GetParam().text, dump, error, warnings));
    EXPECT_EQ(error, GetParam().error);
}

const std::string file = "ASIO PCM(Run 3).txt";

INSTANTIATE_TEST_SUITE_P(
    DumpParser, MalformedDumps,
    ::testing::Values(
        Malformed{"Empty", "", file + ": empty file, not a sample dump"},
        Malformed{"NotADump", "Calls 56, samples detected 14336\n",
                  file + ":1: expected \"Input latency is N, output latency is N\""},
        Malformed{"BadMaxima", "Input latency is 1, output latency is 2\nMax Abs x\n",
                  file + ":2: expected the line of \"Max Abs\" entries"},
        Malformed{"NoHeading", "Input latency is 1, output latency is 2\n\n0\t\n", file + ":3: expected \"Position\tvalues\""},
        Malformed{"PositionSkipped", header + "0\t1\t2\t\n2\t1\t2\t\n", file + ":5: positions must count up from 0 by one"},
        Malformed{"TooFewValues", header + "0\t1\t\n", file + ":4: expected a 32-bit sample value followed by a tab"},
        Malformed{"TooManyValues", header + "0\t1\t2\t3\t\n", file + ":4: expected the end of the row after its values"},
        Malformed{"NotANumber", header + "0\t1\tabc\t\n", file + ":4: expected a 32-bit sample value followed by a tab"},
        Malformed{"OutOfRange", header + "0\t1\t2147483648\t\n", file + ":4: expected a 32-bit sample value followed by a tab"},
        Malformed{"ValueAfterEnd", header + "0\t1\t\t\n1\t1\t2\t\n", file + ":5: a value after an empty cell of the same column"},
        // Maxima the harness cannot write: they would decide how many rows
        // a whole dump has.
        Malformed{"NegativeTotal",
                  "Input latency is 1, output latency is 2\nMax Abs 5(sample 2, Initial zeroes 0, total samples -5)\t\n",
                  file + ":2: expected the line of \"Max Abs\" entries"},
        Malformed{"NegativeMaxAbs",
                  "Input latency is 1, output latency is 2\nMax Abs -5(sample 2, Initial zeroes 0, total samples 5)\t\n",
                  file + ":2: expected the line of \"Max Abs\" entries"},
        Malformed{"ZeroesPastTheEnd",
                  "Input latency is 1, output latency is 2\nMax Abs 5(sample 2, Initial zeroes 999999999, total "
                  "samples 5)\t\n",
                  file + ":2: expected the line of \"Max Abs\" entries"},
        // Text after the last row that no row could have been cut from.
        Malformed{"NulsAfterTheLastRow", header + "0\t1\t2\t\n" + std::string(100, '\0'),
                  file + ":5: expected the row's position followed by a tab"},
        Malformed{"LettersAfterTheLastRow", header + "0\t1\t2\t\n1\t1x",
                  file + ":5: expected a 32-bit sample value followed by a tab"},
        Malformed{"TooLongForARow", header + "0\t1\t2\t\n" + std::string(100, '7'),
                  file + ":5: expected the row's position followed by a tab"},
        Malformed{"SignWithoutDigits", header + "0\t1\t2\t\n1\t-\t",
                  file + ":5: expected a 32-bit sample value followed by a tab"},
        // A table that does not fit a latency below 0: the line is wrong,
        // not the table.
        Malformed{"NegativeLatency",
                  "Input latency is -5, output latency is 0\nMax Abs 5(sample 0, Initial zeroes 0, total samples "
                  "612)\t\nPosition\tvalues\n0\t5\t\n",
                  file + ":1: invalid latency line: input latency -5, output latency 0 do not fit the table's 1 rows"}),
    [](const ::testing::TestParamInfo<Malformed>& info) { return std::string(info.param.name); });

TEST(DumpParser, OnlyTheStartOfARowIsACutRow)
{
    // What a writer stopped mid-row leaves: kept rows, the cut one left out.
    for (const std::string cut : {"1", "1\t", "1\t-", "1\t-7\t2", "1\t-7\t2\t", "1\t-7\t2\t\r", "1\t\t"}) {
        SCOPED_TRACE(cut);
        DumpData dump;
        std::string error;
        std::vector<std::string> warnings;
        ASSERT_TRUE(parse(header + "0\t1\t2\t\n" + cut, dump, error, warnings)) << error;
        EXPECT_EQ(dump.rows, 1);
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_EQ(warnings[0], "ASIO PCM(Run 3).txt:5: last row is incomplete and was left out");
    }
}

TEST(DumpParser, RunNumberComesFromTheHarnessName)
{
    EXPECT_EQ(runNumberFromName("/tmp/x/ASIO PCM(Run 12).txt"), 12);
    EXPECT_EQ(runNumberFromName("ASIO PCM(Run 0).txt"), 0);
    EXPECT_EQ(runNumberFromName("capture.txt"), -1);
    EXPECT_EQ(runNumberFromName("ASIO PCM(Run x).txt"), -1);
}

TEST(DumpParser, AMissingFileIsNamed)
{
    DumpData dump;
    std::string error;
    std::vector<std::string> warnings;
    EXPECT_FALSE(readDumpFile("/nonexistent/ASIO PCM(Run 0).txt", dump, error, warnings));
    EXPECT_EQ(error, "/nonexistent/ASIO PCM(Run 0).txt: cannot open: No such file or directory");
}

}  // namespace
