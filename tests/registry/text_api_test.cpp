// The string, file and class-identifier calls of the stand-in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registry_fixture.h"
#include "servers/test_classes.h"

namespace {

TEST(CharLowerBuff, LowersOnlyAsciiLettersWithinTheLengthGiven)
{
    char text[] = "{ABC-Def}\xC3\x84XYZ";
    EXPECT_EQ(CharLowerBuffA(text, 11), 11u);
    EXPECT_STREQ(text, "{abc-def}\xC3\x84XYZ");  // UTF-8 bytes untouched, the rest beyond the length too
}

TEST(MultiByteToWideChar, ConvertsUtf8AndReportsTheUnitsNeeded)
{
    // "aé€😀": one, one, one and two UTF-16 units, and the terminator.
    const char* text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0), 6);
    WCHAR wide[8] = {};
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 8), 6);
    const std::u16string expected = u"a\u00E9\u20AC\U0001F600";
    EXPECT_EQ(std::u16string(wide), expected);

    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 2, wide, 8), 2);  // an explicit length takes no terminator
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 5), 0);  // does not fit
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "x\xFFy", -1, wide, 8), 4);
    EXPECT_EQ(wide[1], 0xFFFD);  // a stray byte becomes the replacement character
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 0, wide, 8), 0);
}

TEST(OpenFile, ProbesForAReadableRegularFile)
{
    OFSTRUCT info{};
    EXPECT_NE(OpenFile(fixturePath("drivers.reg").c_str(), &info, OF_EXIST), HFILE_ERROR);
    EXPECT_EQ(OpenFile(fixturePath("no_such_file").c_str(), &info, OF_EXIST), HFILE_ERROR);
    EXPECT_EQ(info.nErrCode, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(OpenFile(fixturePath("").c_str(), &info, OF_EXIST), HFILE_ERROR);  // a folder is no file
    EXPECT_EQ(OpenFile("", &info, OF_EXIST), HFILE_ERROR);
}

TEST(ClsidFromString, ReadsTheBracedFormInEitherCase)
{
    for (const char16_t* text : {u"{A1A1A1A1-0000-4000-8000-00000000000A}", u"{a1a1a1a1-0000-4000-8000-00000000000a}"}) {
        CLSID clsid{};
        EXPECT_EQ(CLSIDFromString(text, &clsid), S_OK);
        EXPECT_EQ(clsid, testClassA);
    }
}

TEST(ClsidFromString, RejectsEverythingElseWithAZeroClass)
{
    const char16_t* cases[] = {
        u"",
        u"A1A1A1A1-0000-4000-8000-00000000000A",     // no braces
        u"{A1A1A1A1-0000-4000-8000-00000000000A",    // no closing brace
        u"{A1A1A1A1-0000-4000-8000-00000000000A}x",  // text after it
        u"{A1A1A1A1-0000-4000-8000-00000000000G}",   // not hex
        u"{A1A1A1A10000-4000-8000-00000000000A-}",   // a dash in the wrong place
        u"{A1A1A1A1-0000-4000-8000-0000000000}",     // too short
        u"Not-A-Class-Id",
    };
    for (const char16_t* text : cases) {
        CLSID clsid = testClassC;
        EXPECT_EQ(CLSIDFromString(text, &clsid), CO_E_CLASSSTRING);
        EXPECT_EQ(clsid, CLSID{});
    }
}

}  // namespace
