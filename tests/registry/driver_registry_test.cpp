// The driver registry over fixture registries and the test server: the
// scan, display names, opening and closing by index and by name, and the
// initialisation wrapper.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "control/driver_list.h"
#include "record/test_state.h"
#include "driver/driver_registry.h"
#include "registry_fixture.h"
#include "servers/test_classes.h"
#include "support/fake_driver.h"
#include "support/test_state_fixture.h"

namespace {

std::string driverNameOf(IASIO* driver)
{
    char name[32] = {};
    driver->getDriverName(name);
    return name;
}

class DriverRegistryTest : public StateTest {
protected:
    void SetUp() override
    {
        StateTest::SetUp();
        ASSERT_EQ(useRegistryFile(fixturePath("drivers.reg")), "");
    }
};

TEST_F(DriverRegistryTest, ScanNumbersUsableKeysWithoutGapsInKeyOrder)
{
    DriverRegistry registry;
    EXPECT_EQ(registry.currentIndex(), -1);
    ASSERT_EQ(registry.count(), 3);
    const struct {
        const char* name;
        CLSID clsid;
    } expected[] = {
        {"Alpha Driver", testClassA},  // upper-case class text, lower-case class key
        {"Gamma", testClassC},         // no description: the key's name; "Beta" before it has no class
        {"Refused Driver", testClassRefused},
    };
    const DriverRecord* record = registry.head();
    for (int32_t i = 0; i < 3; ++i, record = record->next.get()) {
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->index, i);
        EXPECT_STREQ(record->name, expected[i].name);
        EXPECT_EQ(record->clsid, expected[i].clsid);
        EXPECT_FALSE(record->instance);
    }
    EXPECT_EQ(record, nullptr);
    EXPECT_EQ(out(), "");
    EXPECT_EQ(err(), "");
}

TEST_F(DriverRegistryTest, KeysWithoutAUsableServerAreSkippedAndAnUnparsedClassStaysZero)
{
    useRegistryFile(fixturePath("skipped.reg"));
    DriverRegistry registry;
    ASSERT_EQ(registry.count(), 1);
    EXPECT_STREQ(registry.find(0)->name, "Unparsed");
    EXPECT_EQ(registry.find(0)->clsid, CLSID{});
    EXPECT_EQ(registry.openByIndex(0), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(testState.currentDriver, nullptr);
}

TEST_F(DriverRegistryTest, NamesAreCutToFitTheRecordAndTheDisplay)
{
    // One driver per description length, keys in the order they enumerate.
    const struct {
        int length;          // of the description; 0 for none
        size_t recordChars;  // characters kept in the record
        bool fromKey;        // the key's own name is used
    } cases[] = {
        {31, 31, false}, {32, 32, false}, {127, 127, false}, {128, 127, false},
        {200, 127, false}, {255, 127, false}, {256, 0, true}, {0, 0, true},
    };
    std::string text = "Windows Registry Editor Version 5.00\n"
                       "[HKEY_CLASSES_ROOT\\CLSID\\{A1A1A1A1-0000-4000-8000-00000000000A}\\InprocServer32]\n"
                       "@=\"test_server.so\"\n";
    std::vector<std::string> descriptions;
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::string description;
        for (int c = 0; c < cases[i].length; ++c)
            description += static_cast<char>('a' + c % 26);
        descriptions.push_back(description);
        text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\Case " + std::to_string(i) + "]\n"
                "\"CLSID\"=\"{A1A1A1A1-0000-4000-8000-00000000000A}\"\n";
        if (cases[i].length > 0)
            text += "\"Description\"=\"" + description + "\"\n";
    }
    ASSERT_EQ(useRegistryText(text), "");

    DriverRegistry registry;
    ASSERT_EQ(registry.count(), static_cast<int32_t>(std::size(cases)));
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].length);
        const std::string full = cases[i].fromKey ? "Case " + std::to_string(i) : descriptions[i];
        const std::string kept = cases[i].fromKey ? full : full.substr(0, cases[i].recordChars);
        EXPECT_EQ(registry.find(static_cast<int32_t>(i))->name, kept);

        char shown[32];
        std::memset(shown, '#', sizeof shown);
        ASSERT_EQ(registry.nameOf(static_cast<int32_t>(i), shown), 0);
        EXPECT_EQ(shown, kept.size() < 32 ? kept : kept.substr(0, 28) + "...");
    }
}

TEST_F(DriverRegistryTest, SkippedKeysAreKeptWithTheirReasonsInScanOrder)
{
    useRegistryFile(fixturePath("skipped.reg"));
    DriverRegistry registry;
    const struct {
        const char* key;
        const char* why;
    } expected[] = {
        {"1 No Class Key", "class {11111111-0000-4000-8000-000000000001} is not registered under HKEY_CLASSES_ROOT\\clsid"},
        {"2 No Server Key", "class {22222222-0000-4000-8000-000000000002} has no InprocServer32 server path"},
        {"3 No Server Path", "class {33333333-0000-4000-8000-000000000003} has no InprocServer32 server path"},
        {"4 Server File Missing", "missing_server.so\" is not a file that exists"},
        {"5 Server Is A Folder", "/.\" is not a file that exists"},
        {"6 Class Value Too Long", "no \"clsid\" value of at most 255 characters"},
    };
    const std::vector<SkippedDriverEntry>& skipped = registry.skippedEntries();
    ASSERT_EQ(skipped.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(skipped[i].keyName, expected[i].key);
        const std::string start = std::string("ASIO driver key \"") + expected[i].key + "\" skipped: ";
        EXPECT_EQ(skipped[i].reason.substr(0, start.size()), start) << skipped[i].reason;
        EXPECT_NE(skipped[i].reason.find(expected[i].why), std::string::npos) << skipped[i].reason;
    }

    const DriverRecord* listed = registry.find(0);
    ASSERT_NE(listed, nullptr);
    EXPECT_EQ(listed->keyName, "7 Unparsed Class");
    EXPECT_EQ(listed->clsidText, "Not-A-Class-Id");
    EXPECT_EQ(listed->serverPath, fixturePath("test_server.so"));
}

// Key names between 128 and 255 characters are legal; neither they nor a
// name the enumeration cannot hand out may hide the drivers after them.
// A driver whose making crashes the process is named in the list, and the
// drivers after it are listed as ever.
TEST_F(DriverRegistryTest, TheListNamesADriverThatCrashesWhenMadeAndGoesOn)
{
    std::string text = "Windows Registry Editor Version 5.00\n";
    for (const char* clsid : {"{A1A1A1A1-0000-4000-8000-00000000000A}", "{E8E8E8E8-0000-4000-8000-00000000000E}"})
        text += std::string("[HKEY_CLASSES_ROOT\\CLSID\\") + clsid + "\\InprocServer32]\n@=\"test_server.so\"\n";
    text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\A Crashes]\n\"CLSID\"=\"{E8E8E8E8-0000-4000-8000-00000000000E}\"\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\B Fine]\n\"CLSID\"=\"{A1A1A1A1-0000-4000-8000-00000000000A}\"\n";
    ASSERT_EQ(useRegistryText(text), "");

    const DriverListing listing = listInstalledDrivers();
    ASSERT_EQ(listing.drivers.size(), 2u);
    EXPECT_EQ(listing.drivers[0].keyName, "A Crashes");
    EXPECT_FALSE(listing.drivers[0].usable);
    EXPECT_EQ(listing.drivers[0].problem.rfind("creating it crashed (signal " + std::to_string(SIGABRT), 0), 0u)
        << listing.drivers[0].problem;
    EXPECT_EQ(listing.drivers[1].keyName, "B Fine");
    EXPECT_TRUE(listing.drivers[1].usable) << listing.drivers[1].problem;
}

TEST_F(DriverRegistryTest, LongKeyNamesDoNotEndTheScan)
{
    const std::string longName = "A" + std::string(200, 'l');
    const std::string longest = "B" + std::string(254, 'm');
    std::string text = "Windows Registry Editor Version 5.00\n"
                       "[HKEY_CLASSES_ROOT\\CLSID\\{A1A1A1A1-0000-4000-8000-00000000000A}\\InprocServer32]\n"
                       "@=\"test_server.so\"\n";
    for (const std::string& key : {longName, longest, std::string("C After")})
        text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\" + key + "]\n"
                "\"CLSID\"=\"{A1A1A1A1-0000-4000-8000-00000000000A}\"\n";
    ASSERT_EQ(useRegistryText(text), "");

    DriverRegistry registry;
    ASSERT_EQ(registry.count(), 3);
    EXPECT_EQ(registry.find(0)->keyName, longName);
    EXPECT_EQ(registry.find(1)->keyName, longest);
    EXPECT_STREQ(registry.find(2)->name, "C After");
    EXPECT_TRUE(registry.skippedEntries().empty());
}

TEST_F(DriverRegistryTest, AFailedOpenSaysWhyAndASuccessClearsIt)
{
    std::string text = "Windows Registry Editor Version 5.00\n";
    const struct {
        const char* clsid;
        const char* server;
        const char* why;
    } cases[] = {
        {"{B2B2B2B2-0000-4000-8000-00000000000B}", "test_server.so", "test_server.so returned 0x80040111"},
        {"{D4D4D4D4-0000-4000-8000-00000000000D}", "not_a_library.so", "the loader said: "},
        {"{E5E5E5E5-0000-4000-8000-00000000000E}", "no_export.so", "no_export.so has no DllGetClassObject"},
        {"Not-A-Class-Id", "test_server.so", "its class identifier \"Not-A-Class-Id\" does not parse"},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\Case " + std::to_string(i) + "]\n\"CLSID\"=\"" +
                cases[i].clsid + "\"\n[HKEY_CLASSES_ROOT\\CLSID\\" + cases[i].clsid + "\\InprocServer32]\n@=\"" +
                cases[i].server + "\"\n";
    text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\Works]\n\"CLSID\"=\"{A1A1A1A1-0000-4000-8000-00000000000A}\"\n"
            "[HKEY_CLASSES_ROOT\\CLSID\\{A1A1A1A1-0000-4000-8000-00000000000A}\\InprocServer32]\n"
            "@=\"test_server.so\"\n";
    ASSERT_EQ(useRegistryText(text), "");

    DriverRegistry registry;
    ASSERT_EQ(registry.count(), static_cast<int32_t>(std::size(cases)) + 1);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].server);
        EXPECT_NE(registry.openByIndex(static_cast<int32_t>(i)), 0);
        const std::string& why = registry.lastOpenError();
        EXPECT_EQ(why.rfind("driver \"Case " + std::to_string(i) + "\" could not be created: ", 0), 0u) << why;
        EXPECT_NE(why.find(cases[i].why), std::string::npos) << why;
        EXPECT_EQ(why.find('\n'), std::string::npos) << why;
    }
    EXPECT_EQ(registry.openByIndex(static_cast<int32_t>(std::size(cases))), 0);
    EXPECT_EQ(registry.lastOpenError(), "");
    EXPECT_EQ(registry.openByIndex(99), errNotFound);
    EXPECT_NE(registry.lastOpenError(), "");
}

// Two keys with one description: the names shown are equal, and only the
// index tells the operator's choice apart.
TEST_F(DriverRegistryTest, LoadByIndexOpensThatDriverWhereLoadByNameTakesTheFirst)
{
    ASSERT_EQ(useRegistryText("Windows Registry Editor Version 5.00\n"
                              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\First]\n"
                              "\"CLSID\"=\"{A1A1A1A1-0000-4000-8000-00000000000A}\"\n\"Description\"=\"Same\"\n"
                              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\Second]\n"
                              "\"CLSID\"=\"{C3C3C3C3-0000-4000-8000-00000000000C}\"\n\"Description\"=\"Same\"\n"
                              "[HKEY_CLASSES_ROOT\\CLSID\\{A1A1A1A1-0000-4000-8000-00000000000A}\\InprocServer32]\n"
                              "@=\"test_server.so\"\n"
                              "[HKEY_CLASSES_ROOT\\CLSID\\{C3C3C3C3-0000-4000-8000-00000000000C}\\InprocServer32]\n"
                              "@=\"test_server.so\"\n"
                              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\Third]\n"
                              "\"CLSID\"=\"{B2B2B2B2-0000-4000-8000-00000000000B}\"\n\"Description\"=\"Same\"\n"
                              "[HKEY_CLASSES_ROOT\\CLSID\\{B2B2B2B2-0000-4000-8000-00000000000B}\\InprocServer32]\n"
                              "@=\"test_server.so\"\n"),
              "");
    DriverRegistry registry;
    ASSERT_TRUE(registry.loadByIndex(1));
    EXPECT_EQ(registry.currentIndex(), 1);
    EXPECT_EQ(driverNameOf(testState.currentDriver), "Test Driver C");
    ASSERT_TRUE(registry.loadByName("Same"));
    EXPECT_EQ(registry.currentIndex(), 0);
    EXPECT_EQ(driverNameOf(testState.currentDriver), "Test Driver A");
    EXPECT_FALSE(registry.loadByIndex(3));
    EXPECT_EQ(registry.currentIndex(), 0);  // nothing was closed

    // The refused one shares the name too: the one open before is found
    // again by its index, and the refusal is what the registry tells.
    ASSERT_TRUE(registry.loadByIndex(1));
    EXPECT_FALSE(registry.loadByIndex(2));
    EXPECT_EQ(registry.currentIndex(), 1);
    EXPECT_EQ(driverNameOf(testState.currentDriver), "Test Driver C");
    EXPECT_NE(registry.lastOpenError().find("0x80040111"), std::string::npos) << registry.lastOpenError();
    registry.closeCurrent();
    EXPECT_EQ(liveTestDrivers(), 0);
}

TEST_F(DriverRegistryTest, FillNamesPassesOverNullEntriesAndStopsAtTheSmallerCount)
{
    DriverRegistry registry;
    char first[32] = "untouched";
    char second[32] = "untouched";
    char* names[] = {first, nullptr, second};
    EXPECT_EQ(registry.fillNames(names, 3), 3);
    EXPECT_STREQ(first, "Alpha Driver");
    EXPECT_STREQ(second, "Refused Driver");

    std::strcpy(first, "untouched");
    char* one[] = {first};
    EXPECT_EQ(registry.fillNames(one, 1), 1);
    EXPECT_STREQ(first, "Alpha Driver");
    EXPECT_EQ(registry.fillNames(names, 5), 3);
}

TEST_F(DriverRegistryTest, NameOfAndOpenByIndexGiveTheirCodes)
{
    DriverRegistry registry;
    char name[32];
    EXPECT_EQ(registry.nameOf(0, nullptr), errInvalidArgument);
    EXPECT_EQ(registry.nameOf(registry.count(), name), errNotFound);
    EXPECT_EQ(registry.nameOf(-1, name), errNotFound);
    EXPECT_EQ(registry.openByIndex(registry.count()), errNotFound);

    ASSERT_EQ(registry.openByIndex(0), 0);
    IASIO* opened = testState.currentDriver;
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(registry.find(0)->instance.get(), opened);
    EXPECT_EQ(driverNameOf(opened), "Test Driver A");
    EXPECT_EQ(liveTestDrivers(), 1);

    EXPECT_EQ(registry.openByIndex(0), errAlreadyOpen);
    EXPECT_EQ(registry.find(0)->instance.get(), opened);
    EXPECT_EQ(liveTestDrivers(), 1);

    EXPECT_EQ(registry.openByIndex(2), CLASS_E_CLASSNOTAVAILABLE);  // the server's own code
}

TEST_F(DriverRegistryTest, LoadByNameClosesTheCurrentDriverBeforeOpeningTheNext)
{
    DriverRegistry registry;
    ASSERT_TRUE(registry.loadByName("Alpha Driver"));
    EXPECT_EQ(registry.currentIndex(), 0);
    EXPECT_EQ(driverNameOf(testState.currentDriver), "Test Driver A");

    ASSERT_TRUE(registry.loadByName("Gamma"));
    EXPECT_EQ(registry.currentIndex(), 1);
    EXPECT_EQ(driverNameOf(testState.currentDriver), "Test Driver C");
    EXPECT_FALSE(registry.find(0)->instance);
    EXPECT_EQ(liveTestDrivers(), 1);

    registry.closeCurrent();
    EXPECT_EQ(registry.currentIndex(), -1);
    EXPECT_EQ(liveTestDrivers(), 0);
    EXPECT_NE(testState.currentDriver, nullptr);  // the caller clears it
}

TEST_F(DriverRegistryTest, LoadByNameWithAnUnknownNameLeavesTheCurrentDriverOpen)
{
    DriverRegistry registry;
    ASSERT_TRUE(registry.loadByName("Alpha Driver"));
    IASIO* opened = testState.currentDriver;
    EXPECT_FALSE(registry.loadByName("Nobody"));
    EXPECT_FALSE(registry.loadByName("alpha driver"));  // names compare case-sensitively
    EXPECT_EQ(testState.currentDriver, opened);
    EXPECT_EQ(registry.currentIndex(), 0);
    EXPECT_EQ(liveTestDrivers(), 1);
}

TEST_F(DriverRegistryTest, AFailedLoadReopensTheDriverThatWasOpen)
{
    DriverRegistry registry;
    ASSERT_TRUE(registry.loadByName("Alpha Driver"));

    EXPECT_FALSE(registry.loadByName("Refused Driver"));
    ASSERT_NE(testState.currentDriver, nullptr);
    EXPECT_EQ(driverNameOf(testState.currentDriver), "Test Driver A");
    EXPECT_EQ(registry.find(0)->instance.get(), testState.currentDriver);
    EXPECT_EQ(registry.currentIndex(), 0);
    EXPECT_EQ(liveTestDrivers(), 1);  // the first instance was released, a new one made
}

TEST_F(DriverRegistryTest, AFailedLoadWithNothingOpenLeavesNoDriver)
{
    DriverRegistry registry;
    EXPECT_FALSE(registry.loadByName("Refused Driver"));
    EXPECT_EQ(testState.currentDriver, nullptr);
    EXPECT_EQ(registry.currentIndex(), -1);
    EXPECT_EQ(liveTestDrivers(), 0);
}

TEST_F(DriverRegistryTest, DestructionReleasesTheDriverItHolds)
{
    {
        DriverRegistry registry;
        ASSERT_TRUE(registry.loadByName("Gamma"));
        EXPECT_EQ(liveTestDrivers(), 1);
    }
    EXPECT_EQ(liveTestDrivers(), 0);
}

TEST_F(DriverRegistryTest, ComIsStartedOnlyWhenDriversAreFoundAndEndedWithTheRegistry)
{
    std::thread([] {
        {
            DriverRegistry registry;
            EXPECT_EQ(CoInitialize(nullptr), S_FALSE);  // already started by the scan
            CoUninitialize();
        }
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
        CoUninitialize();

        useRegistryFile(fixturePath("no_such_registry.reg"));
        DriverRegistry empty;
        EXPECT_EQ(empty.count(), 0);
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
        CoUninitialize();
    }).join();
}

TEST_F(DriverRegistryTest, LoadDriverByNameScansOnceOnFirstUse)
{
    delete driverLoader;  // start from a process that has not loaded a driver yet
    driverLoader = nullptr;

    ASSERT_TRUE(loadDriverByName("Gamma"));
    ASSERT_NE(driverLoader, nullptr);
    EXPECT_EQ(driverLoader->currentIndex(), 1);
    EXPECT_EQ(driverNameOf(testState.currentDriver), "Test Driver C");

    // Its list is the one it scanned, whatever the registry says later.
    DriverRegistry* loader = driverLoader;
    useRegistryFile(fixturePath("skipped.reg"));
    EXPECT_FALSE(loadDriverByName("Unparsed"));
    EXPECT_EQ(driverLoader, loader);
    EXPECT_EQ(driverLoader->count(), 3);
    EXPECT_EQ(driverNameOf(testState.currentDriver), "Test Driver C");  // a name that matches nothing closes nothing

    useRegistryFile(fixturePath("drivers.reg"));
    EXPECT_TRUE(loadDriverByName("Alpha Driver"));
    EXPECT_EQ(driverLoader, loader);
    EXPECT_EQ(driverNameOf(testState.currentDriver), "Test Driver A");

    driverLoader->closeCurrent();
    delete driverLoader;
    driverLoader = nullptr;
    EXPECT_EQ(liveTestDrivers(), 0);
}

// A driver that fills the whole name field, leaving no terminator.
class LongNamedDriver : public FakeDriver {
public:
    void getDriverName(char* name) override
    {
        calls.push_back("getDriverName");
        std::memset(name, 'N', 32);
    }
};

TEST_F(DriverRegistryTest, InitialiseDriverWithoutADriverReportsNotPresent)
{
    ASIODriverInfo info{};
    info.asioVersion = 2;
    info.driverVersion = 9;
    std::strcpy(info.errorMessage, "the caller's text");
    EXPECT_EQ(initialiseDriver(info), ASE_NotPresent);
    EXPECT_STREQ(info.name, "No ASIO Driver");
    EXPECT_EQ(info.driverVersion, 0);
    EXPECT_STREQ(info.errorMessage, "the caller's text");
}

TEST_F(DriverRegistryTest, InitialiseDriverFillsTheInfoFromAWillingDriver)
{
    LongNamedDriver driver;
    testState.currentDriver = &driver;
    ASIODriverInfo info{};
    info.asioVersion = 2;
    info.sysRef = nullptr;
    EXPECT_EQ(initialiseDriver(info), ASE_OK);
    EXPECT_STREQ(info.errorMessage, "No ASIO Driver Error");
    EXPECT_EQ(std::string(info.name), std::string(31, 'N'));  // kept within its 32 bytes
    EXPECT_EQ(info.driverVersion, 7);
    EXPECT_EQ(info.asioVersion, 2);
    EXPECT_EQ(testState.currentDriver, &driver);
    EXPECT_EQ(driver.calls, (std::vector<std::string>{"init", "getDriverName", "getDriverVersion"}));
}

TEST_F(DriverRegistryTest, InitialiseDriverThatRefusesLeavesNoCurrentDriverButDoesNotReleaseIt)
{
    FakeDriver driver;
    driver.initResult = ASIOFalse;
    driver.errorText = "Device unplugged";
    testState.currentDriver = &driver;
    ASIODriverInfo info{};
    EXPECT_EQ(initialiseDriver(info), ASE_NotPresent);
    EXPECT_STREQ(info.name, "No ASIO Driver");
    EXPECT_STREQ(info.errorMessage, "Device unplugged");
    EXPECT_EQ(info.driverVersion, 0);
    EXPECT_EQ(testState.currentDriver, nullptr);
    EXPECT_EQ(driver.callCountOf("Release"), 0);
}

}  // namespace
