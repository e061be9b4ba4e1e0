// The entry points every in-process server exports. Any class identifier
// is served: its settings decide what kind of device the objects are.
#include <new>

#include "class_factory.h"
#include "module_usage.h"

#ifdef _WIN32
#define LOOPBACK_EXPORT STDAPI
#else
#define LOOPBACK_EXPORT extern "C" __attribute__((visibility("default"))) HRESULT
#endif

LOOPBACK_EXPORT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (!IsEqualGUID(iid, IID_IClassFactory) && !IsEqualGUID(iid, IID_IUnknown))
        return E_NOINTERFACE;
    LoopbackClassFactory* factory = new (std::nothrow) LoopbackClassFactory(clsid);
    if (factory == nullptr)
        return E_OUTOFMEMORY;
    *object = static_cast<IClassFactory*>(factory);
    return S_OK;
}

LOOPBACK_EXPORT DllCanUnloadNow()
{
    return module_usage::inUse() ? S_FALSE : S_OK;
}
