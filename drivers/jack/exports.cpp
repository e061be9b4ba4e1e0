// The entry points every in-process server exports. Any class identifier
// is served: its settings decide which server and ports the objects use.
#include <new>
#include <utility>

#include "common/server_entry.h"
#include "jack_driver.h"
#include "jack_settings.h"

namespace {

HRESULT makeJackDriver(REFCLSID clsid, void** object)
{
    JackSettings settings = readJackSettings(clsid);
    JackDriver* driver = new (std::nothrow) JackDriver(clsid, std::move(settings));
    if (driver == nullptr)
        return E_OUTOFMEMORY;
    *object = static_cast<IASIO*>(driver);
    return S_OK;
}

}  // namespace

LOOPCHECK_DRIVER_EXPORT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    return serveClassObject(clsid, iid, object, &makeJackDriver);
}

LOOPCHECK_DRIVER_EXPORT DllCanUnloadNow() { return answerCanUnloadNow(); }
