// The virtual driver when the registry file it is pointed at cannot be
// read (here a folder): it must neither throw nor hang, and runs on its
// defaults. Its own process, so that this is the only registry the driver
// ever reads there.
#include <gtest/gtest.h>

#include <cstdlib>

#include "loopback_host.h"
#include "test_registry.h"
#include "platform/bundled_driver.h"
#include "platform/win32_api.h"

namespace {

TEST(UnreadableRegistry, TheDriverRunsOnItsDefaults)
{
    ::testing::internal::CaptureStderr();
    const CLSID clsid = unconfiguredClass();
    IClassFactory* factory = nullptr;
    ASSERT_EQ(libraryGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    void* object = nullptr;
    const HRESULT made = factory->CreateInstance(nullptr, clsid, &object);
    factory->Release();
    const std::string warnings = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(made, S_OK);
    DriverRef driver(static_cast<IASIO*>(object));
    ASSERT_EQ(driver->init(nullptr), ASIOTrue);

    char name[32] = {};
    driver->getDriverName(name);
    EXPECT_STREQ(name, LOOPCHECK_BUNDLED_DRIVER_NAME);
    ASIOLong inputs = 0, outputs = 0;
    ASSERT_EQ(driver->getChannels(&inputs, &outputs), ASE_OK);
    EXPECT_EQ(inputs, 2);
    EXPECT_EQ(outputs, 2);
    EXPECT_EQ(warnings, std::string("warning: registry file ") + std::getenv("LOOPCHECK_REGISTRY") +
                            " cannot be read (it is a directory); no drivers are registered\n");
}

}  // namespace

int main(int argc, char** argv)
{
    // Before the driver first reads the registry.
    ::setenv("LOOPCHECK_REGISTRY", UNREADABLE_REGISTRY, 1);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
