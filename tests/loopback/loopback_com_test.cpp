// The driver as COM makes it: found through the registry, created by its
// class factory, answering for its own class, and torn down by its last
// Release even while it streams.
#include <chrono>
#include <thread>

#include "loopback_host.h"
#include "platform/win32_api.h"
#include "test_registry.h"

namespace {

const GUID otherInterface = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};

class ComPath : public LoopbackTest {
protected:
    void SetUp() override
    {
        LoopbackTest::SetUp();
        ensureTestRegistry();
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    }
    void TearDown() override
    {
        CoUninitialize();
        LoopbackTest::TearDown();
    }
};

TEST_F(ComPath, CreatedThroughTheRegistryAnswersForItsOwnClass)
{
    const CLSID clsid = testDriverClass("Settings");
    void* object = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, &object), S_OK);
    DriverRef driver(static_cast<IASIO*>(object));
    ASSERT_EQ(driver->init(nullptr), ASIOTrue);
    ASIOLong inputs = 0, outputs = 0;
    ASSERT_EQ(driver->getChannels(&inputs, &outputs), ASE_OK);
    EXPECT_EQ(inputs, 5);
    EXPECT_EQ(libraryCanUnloadNow(), S_FALSE);

    void* unknown = nullptr;
    ASSERT_EQ(driver->QueryInterface(IID_IUnknown, &unknown), S_OK);
    EXPECT_EQ(unknown, object);
    void* again = nullptr;
    ASSERT_EQ(driver->QueryInterface(clsid, &again), S_OK);
    EXPECT_EQ(again, object);
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(driver->QueryInterface(otherInterface, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    // Three references now; the last Release frees the object.
    EXPECT_EQ(static_cast<IUnknown*>(unknown)->Release(), 2u);
    EXPECT_EQ(static_cast<IUnknown*>(again)->Release(), 1u);
    driver.reset();
    EXPECT_EQ(libraryCanUnloadNow(), S_OK);
}

TEST_F(ComPath, RefusedCreationReachesTheHost)
{
    const CLSID clsid = testDriverClass("Fail create");
    void* object = reinterpret_cast<void*>(1);
    EXPECT_TRUE(FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, &object)));
    EXPECT_EQ(object, nullptr);
}

TEST_F(ComPath, ClassFactoryAnswersOnlyWhatItServes)
{
    const CLSID clsid = unconfiguredClass();
    void* object = nullptr;
    EXPECT_EQ(libraryGetClassObject(clsid, otherInterface, &object), E_NOINTERFACE);
    ASSERT_EQ(libraryGetClassObject(clsid, IID_IUnknown, &object), S_OK);
    IClassFactory* factory = static_cast<IClassFactory*>(object);
    EXPECT_EQ(libraryCanUnloadNow(), S_FALSE);

    void* made = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, otherInterface, &made), E_NOINTERFACE);
    EXPECT_EQ(made, nullptr);
    EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), clsid, &made), CLASS_E_NOAGGREGATION);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &made), S_OK);
    static_cast<IUnknown*>(made)->Release();

    ASSERT_EQ(factory->LockServer(1), S_OK);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(libraryCanUnloadNow(), S_FALSE) << "locked";
    ASSERT_EQ(libraryGetClassObject(clsid, IID_IClassFactory, &object), S_OK);
    factory = static_cast<IClassFactory*>(object);
    ASSERT_EQ(factory->LockServer(0), S_OK);
    factory->Release();
    EXPECT_EQ(libraryCanUnloadNow(), S_OK);
}

TEST_F(ComPath, LastReleaseStopsAStreamingDriver)
{
    const CLSID clsid = unconfiguredClass();
    DriverRef driver = openDriver(clsid);
    ASSERT_TRUE(driver);
    ASSERT_EQ(createHostBuffers(driver.get(), ChannelRequest{{0, 1}, {0, 1}}, 64, 4), ASE_OK);
    ASSERT_EQ(driver->start(), ASE_OK);
    ASSERT_TRUE(waitForSwitches(3));
    driver.reset();  // no stop, no disposeBuffers
    const int after = host->switches.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(host->switches.load(), after);
    EXPECT_EQ(libraryCanUnloadNow(), S_OK);
}

}  // namespace
