// Object creation by the COM stand-in: the registered server library is
// loaded and asked for the object; every way it can fail gives a COM code.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "driver/asio_interface.h"
#include "registry_fixture.h"
#include "servers/test_classes.h"

namespace {

class ComCreation : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(useRegistryFile(fixturePath("classes.reg")), ""); }
    ComScope com_;
};

TEST_F(ComCreation, MakesTheObjectAskedForByItsOwnClassIdentifier)
{
    const int before = liveTestDrivers();
    void* object = nullptr;
    ASSERT_EQ(CoCreateInstance(testClassA, nullptr, CLSCTX_INPROC_SERVER, testClassA, &object), S_OK);
    ASSERT_NE(object, nullptr);
    auto* driver = static_cast<IASIO*>(object);
    char name[32] = {};
    driver->getDriverName(name);
    EXPECT_STREQ(name, "Test Driver A");
    EXPECT_EQ(liveTestDrivers(), before + 1);
    driver->Release();
    EXPECT_EQ(liveTestDrivers(), before);
}

TEST_F(ComCreation, FailuresGiveCodesAndNoObject)
{
    const struct {
        const char* what;
        CLSID clsid;
        IID iid;
        HRESULT result;
    } cases[] = {
        {"server refuses the class", testClassRefused, testClassRefused, CLASS_E_CLASSNOTAVAILABLE},
        {"object lacks the interface", testClassA, IID_IClassFactory, E_NOINTERFACE},
        {"not a library", {0xD4D4D4D4, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x0D}}, IID_IUnknown, CO_E_DLLNOTFOUND},
        {"no DllGetClassObject", {0xE5E5E5E5, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x0E}}, IID_IUnknown,
         CO_E_ERRORINDLL},
        {"library missing", {0xF6F6F6F6, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x0F}}, IID_IUnknown, CO_E_DLLNOTFOUND},
        {"no server path", {0x07070707, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x07}}, IID_IUnknown,
         REGDB_E_CLASSNOTREG},
        {"not registered", testClassC, testClassC, REGDB_E_CLASSNOTREG},
        {"null class", CLSID{}, IID_IUnknown, REGDB_E_CLASSNOTREG},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        void* object = &object;
        EXPECT_EQ(CoCreateInstance(c.clsid, nullptr, CLSCTX_INPROC_SERVER, c.iid, &object), c.result);
        EXPECT_EQ(object, nullptr);
    }
}

// A relative server path in any text type is the registry file's, never
// the current folder's or the loader's search path.
TEST(ComServerPath, ARelativeExpandableTextIsAnchoredLikeText)
{
    std::string bytes;
    for (const char c : std::string("test_server.so")) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x,", static_cast<unsigned char>(c));
        bytes += hex;
    }
    ASSERT_EQ(useRegistryText("REGEDIT4\n\n[HKEY_CLASSES_ROOT\\CLSID\\{A1A1A1A1-0000-4000-8000-00000000000A}\\"
                              "InprocServer32]\n@=hex(2):" +
                              bytes + "00\n"),
              "");
    OpenedKey server(HKEY_CLASSES_ROOT, "CLSID\\{A1A1A1A1-0000-4000-8000-00000000000A}\\InprocServer32");
    ASSERT_EQ(server.status(), ERROR_SUCCESS);
    char path[4096] = {};
    DWORD type = REG_NONE;
    DWORD size = sizeof path - 1;
    ASSERT_EQ(RegQueryValueExA(server.get(), nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(path), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(std::string(path), fixturePath("test_server.so"));

    ComScope com;
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(testClassA, nullptr, CLSCTX_INPROC_SERVER, testClassA, &object), S_OK);
    if (object != nullptr) static_cast<IASIO*>(object)->Release();
}

TEST(ComStart, IsCountedPerThreadAndNeededForCreation)
{
    std::thread([] {
        void* object = nullptr;
        EXPECT_EQ(CoCreateInstance(testClassA, nullptr, CLSCTX_INPROC_SERVER, testClassA, &object),
                  CO_E_NOTINITIALIZED);
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
        EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
        CoUninitialize();
        CoUninitialize();
        EXPECT_EQ(CoInitialize(nullptr), S_OK);  // fully ended, so it starts afresh
        CoUninitialize();
    }).join();
}

}  // namespace
