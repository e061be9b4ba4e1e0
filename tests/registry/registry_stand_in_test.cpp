// The registry stand-in: what a registry file says, read back through the
// registry calls with Windows' codes and buffer rules.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/bundled_driver.h"
#include "platform/posix/registry_file.h"
#include "registry_fixture.h"

namespace {

const char* const testKey = "SOFTWARE\\Loopcheck Test";

class RegistryValues : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(useRegistryFile(fixturePath("values.reg")), ""); }
};

TEST_F(RegistryValues, TextValuesComeBackWithEscapesUndoneAndNamesInAnyCase)
{
    const struct {
        const char* name;
        const char* text;
    } cases[] = {
        {nullptr, "default value"},
        {"", "default value"},
        {"TEXT", "plain text"},
        {"Escaped", "back\\slash and \"quotes\""},
        {"na\"ME", "escaped name"},
        {"Empty", ""},
        {"later", "merged"},  // from the section spelled in lower case
    };
    OpenedKey key(HKEY_LOCAL_MACHINE, testKey);
    ASSERT_EQ(key.status(), ERROR_SUCCESS);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name == nullptr ? "(null)" : c.name);
        DWORD type = REG_NONE;
        char text[64];
        DWORD size = sizeof text;
        ASSERT_EQ(RegQueryValueExA(key.get(), c.name, nullptr, &type, reinterpret_cast<LPBYTE>(text), &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(type, REG_SZ);
        EXPECT_EQ(size, std::string(c.text).size() + 1);  // the terminator is part of the data
        EXPECT_STREQ(text, c.text);
    }
}

TEST_F(RegistryValues, DwordsAreFourLittleEndianBytes)
{
    const struct {
        const char* name;
        uint32_t value;
    } cases[] = {{"Number", 42}, {"Large", 0xFFFFFFFEu}, {"Short", 7}};
    OpenedKey key(HKEY_LOCAL_MACHINE, testKey);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DWORD type = REG_NONE;
        uint8_t bytes[8] = {};
        DWORD size = sizeof bytes;
        ASSERT_EQ(RegQueryValueExA(key.get(), c.name, nullptr, &type, bytes, &size), ERROR_SUCCESS);
        EXPECT_EQ(type, REG_DWORD);
        ASSERT_EQ(size, 4u);
        EXPECT_EQ(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24, c.value);
    }
}

TEST_F(RegistryValues, HexDataKeepsItsBytesAndTypeAcrossContinuedLines)
{
    OpenedKey key(HKEY_LOCAL_MACHINE, testKey);
    const struct {
        const char* name;
        DWORD type;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"Binary", REG_BINARY, {0x01, 0x02, 0x03, 0xFF}},
        {"Quad", 0xB, {9, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DWORD type = REG_NONE;
        std::vector<uint8_t> bytes(16);
        DWORD size = static_cast<DWORD>(bytes.size());
        ASSERT_EQ(RegQueryValueExA(key.get(), c.name, nullptr, &type, bytes.data(), &size), ERROR_SUCCESS);
        bytes.resize(size);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(bytes, c.bytes);
    }
}

TEST_F(RegistryValues, DeletedAndMissingKeysAndValuesAreNotFound)
{
    OpenedKey key(HKEY_LOCAL_MACHINE, testKey);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key.get(), "Gone", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExA(key.get(), "Never", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(OpenedKey(key.get(), "Removed").status(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(OpenedKey(key.get(), "Removed\\Below").status(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(OpenedKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nowhere").status(), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryValues, AValueThatDoesNotFitGivesMoreDataAndTheSizeNeeded)
{
    OpenedKey key(HKEY_LOCAL_MACHINE, testKey);
    char text[16];
    std::fill(std::begin(text), std::end(text), '#');
    DWORD size = 10;  // "plain text" needs 11 bytes with its terminator
    EXPECT_EQ(RegQueryValueExA(key.get(), "Text", nullptr, nullptr, reinterpret_cast<LPBYTE>(text), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 11u);
    EXPECT_EQ(text[0], '#');  // nothing was written

    EXPECT_EQ(RegQueryValueExA(key.get(), "Text", nullptr, nullptr, reinterpret_cast<LPBYTE>(text), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(text, "plain text");

    size = 0;
    EXPECT_EQ(RegQueryValueExA(key.get(), "Number", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
    uint8_t small[3];
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(key.get(), "Number", nullptr, nullptr, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 4u);
}

TEST_F(RegistryValues, SubkeysEnumerateInWindowsOrderUntilNoMoreItems)
{
    OpenedKey order(HKEY_LOCAL_MACHINE, "SOFTWARE\\Loopcheck Test\\Order");
    ASSERT_EQ(order.status(), ERROR_SUCCESS);
    std::vector<std::string> names;
    char name[128];
    DWORD index = 0;
    LONG status;
    while ((status = RegEnumKeyA(order.get(), index, name, sizeof name)) == ERROR_SUCCESS) {
        names.push_back(name);
        ++index;
    }
    EXPECT_EQ(status, ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(names, (std::vector<std::string>{"10", "Alpha", "alpha2", "beta", "Gamma", "_under"}));

    EXPECT_EQ(RegEnumKeyA(order.get(), 2, name, 6), ERROR_MORE_DATA);  // "alpha2" and its terminator need 7
    EXPECT_EQ(RegEnumKeyA(order.get(), 2, name, 7), ERROR_SUCCESS);
}

TEST_F(RegistryValues, ClassesRootIsTheMachineClassesKeyAndServerPathsAreAnchored)
{
    const std::string serverA = "CLSID\\{a1a1a1a1-0000-4000-8000-00000000000a}\\inprocserver32";
    OpenedKey viaRoot(HKEY_CLASSES_ROOT, serverA.c_str());
    OpenedKey viaMachine(HKEY_LOCAL_MACHINE, ("SOFTWARE\\Classes\\" + serverA).c_str());
    ASSERT_EQ(viaRoot.status(), ERROR_SUCCESS);
    ASSERT_EQ(viaMachine.status(), ERROR_SUCCESS);
    EXPECT_EQ(textOf(viaRoot.get(), nullptr), fixturePath("test_server.so"));
    EXPECT_EQ(textOf(viaMachine.get(), nullptr), fixturePath("test_server.so"));
    EXPECT_EQ(textOf(viaRoot.get(), "ThreadingModel"), "Apartment");  // only the path is anchored

    OpenedKey absolute(HKEY_CLASSES_ROOT, "CLSID\\{C3C3C3C3-0000-4000-8000-00000000000C}\\InprocServer32");
    EXPECT_EQ(textOf(absolute.get(), nullptr), "/opt/drivers/absolute.so");
    OpenedKey other(HKEY_LOCAL_MACHINE, "SOFTWARE\\Loopcheck Test\\NotAServer");
    EXPECT_EQ(textOf(other.get(), nullptr), "relative.so");
}

TEST_F(RegistryValues, OpenHandlesOutliveAReloadAndCloseOnlyOnce)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, testKey, &key), ERROR_SUCCESS);
    HKEY same = nullptr;
    EXPECT_EQ(RegOpenKeyA(key, "", &same), ERROR_SUCCESS);
    EXPECT_EQ(same, key);  // no subkey: the very handle passed in

    useRegistryFile(fixturePath("drivers.reg"));
    EXPECT_EQ(OpenedKey(HKEY_LOCAL_MACHINE, testKey).status(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(textOf(key, "Text"), "plain text");

    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    char name[32];
    EXPECT_EQ(RegEnumKeyA(key, 0, name, sizeof name), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);  // the predefined roots stay usable
    EXPECT_EQ(OpenedKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\ASIO").status(), ERROR_SUCCESS);
}

TEST(RegistryFile, MalformedLinesAreSkippedWithOneWarningEachNamingFileAndLine)
{
    const std::string path = fixturePath("malformed.reg");
    const std::string warnings = useRegistryFile(path);

    const int expectedLines[] = {3, 6, 7, 8, 9, 10, 11, 12, 14, 15, 17, 19};
    std::istringstream lines(warnings);
    std::string line;
    size_t count = 0;
    while (std::getline(lines, line)) {
        ASSERT_LT(count, std::size(expectedLines)) << line;
        const std::string start = "warning: " + path + ":" + std::to_string(expectedLines[count]) + ": ";
        EXPECT_EQ(line.substr(0, start.size()), start) << line;
        EXPECT_NE(line.find("line skipped"), std::string::npos) << line;
        ++count;
    }
    EXPECT_EQ(count, std::size(expectedLines)) << warnings;

    OpenedKey key(HKEY_LOCAL_MACHINE, "SOFTWARE\\Malformed");
    EXPECT_EQ(textOf(key.get(), "Good1"), "kept");
    EXPECT_EQ(textOf(key.get(), "Good3"), "last");
    DWORD good2 = 0;
    DWORD size = sizeof good2;
    EXPECT_EQ(RegQueryValueExA(key.get(), "Good2", nullptr, nullptr, reinterpret_cast<LPBYTE>(&good2), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(good2, 2u);
    for (const char* skipped : {"Unclosed", "BadEscape", "NoEquals", "BadDword", "NotHex", "Trailing", "BadHex"})
        EXPECT_EQ(textOf(key.get(), skipped), "<missing>") << skipped;
    EXPECT_EQ(OpenedKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Unclosed").status(), ERROR_FILE_NOT_FOUND);
}

TEST(RegistryFile, WindowsExportsInUtf16WithCrLfLinesAreRead)
{
    const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Export]\r\n"
                             "\"Name\"=\"caf\xC3\xA9\"\r\n";
    std::string utf16 = "\xFF\xFE";
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0xC3) {  // the one two-byte character: U+00E9
            utf16 += '\xE9';
            utf16 += '\0';
            ++i;
            continue;
        }
        utf16 += static_cast<char>(c);
        utf16 += '\0';
    }
    EXPECT_EQ(useRegistryText(utf16), "");
    OpenedKey key(HKEY_LOCAL_MACHINE, "SOFTWARE\\Export");
    EXPECT_EQ(textOf(key.get(), "Name"), "caf\xC3\xA9");
}

TEST(RegistryFile, ServerPathsAndContinuationsOfAnyShapeAreReadSafely)
{
    // A server path given as hex(1) bytes without a terminating zero, or
    // with no bytes at all, and a line of nothing but a continuation.
    const std::string text = "[HKEY_CLASSES_ROOT\\CLSID\\{1}\\InprocServer32]\n"
                             "@=hex(1):6c,69,62\n"
                             "[HKEY_CLASSES_ROOT\\CLSID\\{2}\\InprocServer32]\n"
                             "@=hex(1):\n"
                             "\\\n"
                             "\n";
    EXPECT_EQ(useRegistryText(text), "");
    EXPECT_EQ(textOf(OpenedKey(HKEY_CLASSES_ROOT, "CLSID\\{1}\\InprocServer32").get(), nullptr),
              fixturePath("lib"));
    EXPECT_EQ(textOf(OpenedKey(HKEY_CLASSES_ROOT, "CLSID\\{2}\\InprocServer32").get(), nullptr), "");
}

// A missing file, a folder and a FIFO (which would block a reader for
// ever) each give one warning naming the file and an empty registry; none
// of them may throw.
TEST(RegistryFile, AFileThatCannotBeReadGivesAnEmptyRegistryAndOneWarning)
{
    const std::string fifo = fixturePath("fifo." + std::to_string(getpid()) + ".reg");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string path;
        const char* reason;
    } cases[] = {
        {fixturePath("no_such_registry.reg"), "No such file or directory"},
        {fixturePath(""), "it is a directory"},
        {fifo, "it is not a regular file"},
    };
    for (const auto& c : cases) {
        useRegistryFile(fixturePath("values.reg"));
        EXPECT_EQ(useRegistryFile(c.path),
                  "warning: registry file " + c.path + " cannot be read (" + c.reason + "); no drivers are registered\n");
        EXPECT_EQ(OpenedKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\ASIO").status(), ERROR_FILE_NOT_FOUND) << c.path;
        EXPECT_EQ(OpenedKey(HKEY_LOCAL_MACHINE, testKey).status(), ERROR_FILE_NOT_FOUND) << c.path;
        EXPECT_EQ(OpenedKey(HKEY_CLASSES_ROOT, "").status(), ERROR_SUCCESS);
    }
    std::remove(fifo.c_str());
}

// Windows allows 255 characters in a key's name. The file may hold a longer
// one: it is kept, and enumerating it with a buffer of the registry's limit
// says the name does not fit, as a host's scan must expect.
TEST(RegistryFile, KeyNamesLongerThanTheRegistryLimitAreKeptButDoNotFitTheLimit)
{
    const std::string longest(255, 'k');
    const std::string tooLong(256, 'l');
    const std::string warnings = useRegistryText("Windows Registry Editor Version 5.00\n"
                                                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Names\\" + longest + "]\n"
                                                 "\"Kept\"=\"yes\"\n"
                                                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Names\\" + tooLong + "\\Below]\n"
                                                 "\"Also\"=\"yes\"\n");
    EXPECT_EQ(warnings, "");
    EXPECT_EQ(textOf(OpenedKey(HKEY_LOCAL_MACHINE, ("SOFTWARE\\Names\\" + longest).c_str()).get(), "Kept"), "yes");
    OpenedKey names(HKEY_LOCAL_MACHINE, "SOFTWARE\\Names");
    char name[256];
    EXPECT_EQ(RegEnumKeyA(names.get(), 0, name, sizeof name), ERROR_SUCCESS);
    EXPECT_EQ(RegEnumKeyA(names.get(), 1, name, sizeof name), ERROR_MORE_DATA);
    char larger[512];
    ASSERT_EQ(RegEnumKeyA(names.get(), 1, larger, sizeof larger), ERROR_SUCCESS);
    EXPECT_EQ(std::string(larger), tooLong);
}

// Sets or clears LOOPCHECK_REGISTRY for one test.
class RegistryVariable {
public:
    explicit RegistryVariable(const char* value)
    {
        const char* old = std::getenv(posix_registry::fileVariable);
        had_ = old != nullptr;
        if (had_)
            old_ = old;
        if (value != nullptr)
            setenv(posix_registry::fileVariable, value, 1);
        else
            unsetenv(posix_registry::fileVariable);
    }
    ~RegistryVariable()
    {
        if (had_)
            setenv(posix_registry::fileVariable, old_.c_str(), 1);
        else
            unsetenv(posix_registry::fileVariable);
    }

private:
    bool had_ = false;
    std::string old_;
};

TEST(RegistryFile, TheVariableNamesTheFileToRead)
{
    RegistryVariable variable(fixturePath("values.reg").c_str());
    std::ostringstream warnings;
    posix_registry::reload(warnings);
    EXPECT_EQ(warnings.str(), "");
    EXPECT_EQ(textOf(OpenedKey(HKEY_LOCAL_MACHINE, testKey).get(), "Text"), "plain text");
}

TEST(RegistryFile, WithoutTheVariableTheBundledDriverIsAnnouncedNextToTheExecutable)
{
    RegistryVariable variable(nullptr);
    std::ostringstream warnings;
    posix_registry::reload(warnings);
    EXPECT_EQ(warnings.str(), "");

    OpenedKey asio(HKEY_LOCAL_MACHINE, "SOFTWARE\\ASIO");
    char name[128];
    ASSERT_EQ(RegEnumKeyA(asio.get(), 0, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, LOOPCHECK_BUNDLED_DRIVER_NAME);
    EXPECT_EQ(RegEnumKeyA(asio.get(), 1, name, sizeof name), ERROR_NO_MORE_ITEMS);

    OpenedKey driver(asio.get(), name);
    EXPECT_EQ(textOf(driver.get(), "clsid"), LOOPCHECK_BUNDLED_DRIVER_CLSID);
    EXPECT_EQ(textOf(driver.get(), "description"), LOOPCHECK_BUNDLED_DRIVER_NAME);
    OpenedKey server(HKEY_CLASSES_ROOT, "CLSID\\" LOOPCHECK_BUNDLED_DRIVER_CLSID "\\InprocServer32");
    EXPECT_EQ(textOf(server.get(), nullptr), std::string(LOOPCHECK_TEST_EXECUTABLE_DIR "/") + LOOPCHECK_BUNDLED_DRIVER_FILE);
}

// A prefix laid out as an install or a build folder, removed again.
class ScratchPrefix {
public:
    ScratchPrefix()
        : root_(std::filesystem::temp_directory_path() /
                ("loopcheck-prefix-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name()))
    {
        std::filesystem::create_directories(root_ / "bin");
    }
    ~ScratchPrefix()
    {
        std::error_code error;
        std::filesystem::remove_all(root_, error);
    }
    std::string bin() const { return (root_ / "bin").string(); }
    std::string put(const std::string& folder) const
    {
        const std::filesystem::path file = root_ / folder / LOOPCHECK_BUNDLED_DRIVER_FILE;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << "library";
        return file.string();
    }

private:
    std::filesystem::path root_;
};

TEST(RegistryFile, TheBundledDriverIsFoundNextToTheExecutableThenInTheInstalledLibFolder)
{
    {
        ScratchPrefix build;
        const std::string beside = build.put("bin");
        build.put("lib/loopcheck");
        EXPECT_EQ(posix_registry::bundledDriverPath(build.bin()), beside);
    }
    {
        ScratchPrefix installed;
        const std::string library = installed.put("lib/loopcheck");
        EXPECT_EQ(posix_registry::bundledDriverPath(installed.bin()), library);
    }
    {
        // Missing everywhere: named beside the executable, where the scan
        // finds no file and leaves the driver out.
        ScratchPrefix empty;
        EXPECT_EQ(posix_registry::bundledDriverPath(empty.bin()),
                  empty.bin() + "/" LOOPCHECK_BUNDLED_DRIVER_FILE);
    }
}

}  // namespace
