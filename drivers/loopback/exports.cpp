// The entry points every in-process server exports. Any class identifier
// is served: its settings decide what kind of device the objects are.
#include <new>
#include <utility>

#include "common/server_entry.h"
#include "loopback_driver.h"
#include "loopback_settings.h"

namespace {

HRESULT makeLoopbackDriver(REFCLSID clsid, void** object)
{
    LoopbackSettings settings = readLoopbackSettings(clsid);
    // A device that is configured to be absent refuses to come up at all.
    if (settings.fails(failCreate))
        return E_FAIL;
    LoopbackDriver* driver = new (std::nothrow) LoopbackDriver(clsid, std::move(settings));
    if (driver == nullptr)
        return E_OUTOFMEMORY;
    *object = static_cast<IASIO*>(driver);
    return S_OK;
}

}  // namespace

LOOPCHECK_DRIVER_EXPORT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    return serveClassObject(clsid, iid, object, &makeLoopbackDriver);
}

LOOPCHECK_DRIVER_EXPORT DllCanUnloadNow() { return answerCanUnloadNow(); }
