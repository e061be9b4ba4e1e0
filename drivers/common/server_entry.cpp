#include "server_entry.h"

#include <new>

#include "module_usage.h"

HRESULT serveClassObject(REFCLSID clsid, REFIID iid, void** object, MakeDriver make)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (!IsEqualGUID(iid, IID_IClassFactory) && !IsEqualGUID(iid, IID_IUnknown))
        return E_NOINTERFACE;
    DriverClassFactory* factory = new (std::nothrow) DriverClassFactory(clsid, make);
    if (factory == nullptr)
        return E_OUTOFMEMORY;
    *object = static_cast<IClassFactory*>(factory);
    return S_OK;
}

HRESULT answerCanUnloadNow() { return module_usage::inUse() ? S_FALSE : S_OK; }
