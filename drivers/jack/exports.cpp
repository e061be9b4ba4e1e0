// The entry points every in-process server exports. Any class identifier
// is served: its settings decide which server and ports the objects use.
#include <new>

#include "class_factory.h"
#include "module_usage.h"

#ifdef _WIN32
#define BRIDGE_EXPORT STDAPI
#else
#define BRIDGE_EXPORT extern "C" __attribute__((visibility("default"))) HRESULT
#endif

BRIDGE_EXPORT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (!IsEqualGUID(iid, IID_IClassFactory) && !IsEqualGUID(iid, IID_IUnknown))
        return E_NOINTERFACE;
    JackClassFactory* factory = new (std::nothrow) JackClassFactory(clsid);
    if (factory == nullptr)
        return E_OUTOFMEMORY;
    *object = static_cast<IClassFactory*>(factory);
    return S_OK;
}

BRIDGE_EXPORT DllCanUnloadNow()
{
    return module_usage::inUse() ? S_FALSE : S_OK;
}
