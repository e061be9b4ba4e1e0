// Which cells a qualification tries, from the driver's announced sizes and
// the options; and the options' words and numbers, the bad ones refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qualify/qualify_options.h"
#include "qualify/qualify_pages.h"

namespace {

struct SizesCase {
    const char* name;
    SizeChoice choice;
    int32_t minimum, maximum, preferred, granularity;
    std::vector<int32_t> expected;
};

TEST(QualifiedSizes, FollowTheDriversGranularity)
{
    const std::vector<SizesCase> table = {
        {"powers of two", SizeChoice::standard, 64, 2048, 256, -1, {64, 128, 256, 512, 1024, 2048}},
        {"ends that are no powers of two", SizeChoice::standard, 48, 1000, 96, -1, {48, 64, 96, 128, 256, 512, 1000}},
        {"steps of 32: the powers of two on a step", SizeChoice::standard, 64, 512, 192, 32, {64, 128, 192, 256, 512}},
        {"steps of 50: none is a power of two", SizeChoice::standard, 100, 400, 300, 50, {100, 300, 400}},
        {"granularity 0: the three sizes only", SizeChoice::standard, 64, 1024, 256, 0, {64, 256, 1024}},
        {"one size", SizeChoice::standard, 256, 256, 256, 0, {256}},
        {"all steps", SizeChoice::all, 100, 400, 300, 50, {100, 150, 200, 250, 300, 350, 400}},
        {"all powers of two", SizeChoice::all, 64, 256, 128, -1, {64, 128, 256}},
        {"preferred", SizeChoice::preferred, 64, 2048, 256, -1, {256}},
        {"a driver announcing nothing usable", SizeChoice::standard, 0, 0, 0, -1, {}},
        {"a minimum above the maximum", SizeChoice::standard, 512, 64, 128, -1, {64, 128, 512}},
    };
    for (const SizesCase& c : table) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(qualifiedSizes(c.choice, {}, c.minimum, c.maximum, c.preferred, c.granularity), c.expected);
    }
    // A listed size is tried as it is; whether the driver offers it is the
    // cell's to find out.
    EXPECT_EQ(qualifiedSizes(SizeChoice::listed, {100, 4096}, 64, 2048, 256, -1), (std::vector<int32_t>{100, 4096}));
}

TEST(QualifiedSizes, AllStepsOfAFineGranularityStopAtATableThatCanBeRead)
{
    // The first 256 steps, and the preferred and largest size beyond them.
    const std::vector<int32_t> sizes = qualifiedSizes(SizeChoice::all, {}, 1, 1 << 20, 300, 1);
    ASSERT_EQ(sizes.size(), 258u);
    EXPECT_EQ(sizes[255], 256);
    EXPECT_EQ(sizes[256], 300);
    EXPECT_EQ(sizes[257], 1 << 20);
}

TEST(QualifiedSizes, AnnouncedSizesAreTheEndsThePreferredAndTheSteps)
{
    EXPECT_TRUE(sizeAnnounced(128, 64, 2048, 256, -1));
    EXPECT_FALSE(sizeAnnounced(100, 64, 2048, 256, -1));
    EXPECT_FALSE(sizeAnnounced(4096, 64, 2048, 256, -1));
    EXPECT_TRUE(sizeAnnounced(150, 100, 400, 300, 50));
    EXPECT_FALSE(sizeAnnounced(160, 100, 400, 300, 50));
    EXPECT_TRUE(sizeAnnounced(1024, 64, 1024, 256, 0));
    EXPECT_FALSE(sizeAnnounced(128, 64, 1024, 256, 0));
    EXPECT_FALSE(sizeAnnounced(0, 0, 0, 0, -1));
}

TEST(QualifyOptionWords, GoodValuesAreRead)
{
    QualifyOptions o;
    std::string why;
    ASSERT_TRUE(parseRateList("48000,44100,48000", o, why)) << why;
    EXPECT_EQ(o.rateChoice, RateChoice::listed);
    EXPECT_EQ(o.rates, (std::vector<double>{48000, 44100}));
    ASSERT_TRUE(parseRateList("all", o, why));
    EXPECT_EQ(o.rateChoice, RateChoice::all);
    ASSERT_TRUE(parseSizeList("256,64,256", o, why)) << why;
    EXPECT_EQ(o.sizes, (std::vector<int32_t>{64, 256}));
    ASSERT_TRUE(parseSizeList("preferred", o, why));
    EXPECT_EQ(o.sizeChoice, SizeChoice::preferred);
    ASSERT_TRUE(parseSignal("sine:997.5", o, why)) << why;
    EXPECT_EQ(o.signal, QualifySignal::sine);
    EXPECT_EQ(o.sineHz, 997.5);
    ASSERT_TRUE(parseSignal("auto", o, why));
    EXPECT_EQ(o.signal, QualifySignal::automatic);
}

TEST(QualifyOptionWords, BadValuesAreRefusedNamingTheOption)
{
    struct Case {
        bool (*parse)(const std::string&, QualifyOptions&, std::string&);
        const char* text;
        const char* option;
    };
    const std::vector<Case> table = {
        {parseRateList, "nan", "--rates"},        {parseRateList, "inf", "--rates"},
        {parseRateList, "1e400", "--rates"},      {parseRateList, "48000,", "--rates"},
        {parseRateList, "0.5", "--rates"},        {parseRateList, "48k", "--rates"},
        {parseRateList, "", "--rates"},           {parseSizeList, "0", "--buffers"},
        {parseSizeList, "64.5", "--buffers"},     {parseSizeList, "-64", "--buffers"},
        {parseSizeList, "nan", "--buffers"},      {parseSizeList, "99999999", "--buffers"},
        {parseSizeList, "Preferred", "--buffers"}, {parseSignal, "square", "--signal"},
        {parseSignal, "sine:", "--signal"},       {parseSignal, "sine:nan", "--signal"},
        {parseSignal, "sine:0", "--signal"},      {parseSignal, "sine:inf", "--signal"},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(c.text);
        QualifyOptions o;
        std::string why;
        EXPECT_FALSE(c.parse(c.text, o, why));
        EXPECT_EQ(why.rfind(std::string(c.option) + ": ", 0), 0u) << why;
    }
    std::string many;
    for (int i = 1; i <= 65; ++i) many += (i > 1 ? "," : "") + std::to_string(i);
    QualifyOptions o;
    std::string why;
    EXPECT_FALSE(parseSizeList(many, o, why));
}

TEST(QualifyPage, TextFromTheDriverIsShownNotObeyed)
{
    // A driver names itself and its reasons reach the page: markup in them
    // must stay text.
    QualifyReport report;
    report.driverName = "<script>alert(1)</script>";
    report.rates = {48000};
    report.sizes = {64};
    QualifyCell cell;
    cell.rate = 48000;
    cell.bufferSize = 64;
    cell.verdict = CellVerdict::failed;
    cell.failures = {"run 0: <b>\"odd\" & more</b>"};
    report.cells.push_back(cell);
    const std::string page = qualifyPage(report);
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(page.find("run 0: &lt;b&gt;&quot;odd&quot; &amp; more&lt;/b&gt;"), std::string::npos);
}

}  // namespace
