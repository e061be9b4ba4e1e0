#include "class_factory.h"

#include <new>
#include <utility>

#include "loopback_driver.h"
#include "loopback_settings.h"
#include "module_usage.h"

LoopbackClassFactory::LoopbackClassFactory(REFCLSID clsid) : clsid_(clsid) { module_usage::acquire(); }

LoopbackClassFactory::~LoopbackClassFactory() { module_usage::release(); }

HRESULT STDMETHODCALLTYPE LoopbackClassFactory::QueryInterface(REFIID iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    if (IsEqualGUID(iid, IID_IClassFactory) || IsEqualGUID(iid, IID_IUnknown)) {
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE LoopbackClassFactory::AddRef() { return references_.fetch_add(1) + 1; }

ULONG STDMETHODCALLTYPE LoopbackClassFactory::Release()
{
    const ULONG left = references_.fetch_sub(1) - 1;
    if (left == 0)
        delete this;
    return left;
}

HRESULT STDMETHODCALLTYPE LoopbackClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (outer != nullptr)
        return CLASS_E_NOAGGREGATION;
    if (!IsEqualGUID(iid, clsid_) && !IsEqualGUID(iid, IID_IUnknown))
        return E_NOINTERFACE;
    LoopbackSettings settings = readLoopbackSettings(clsid_);
    // A device that is configured to be absent refuses to come up at all.
    if (settings.fails(failCreate))
        return E_FAIL;
    LoopbackDriver* driver = new (std::nothrow) LoopbackDriver(clsid_, std::move(settings));
    if (driver == nullptr)
        return E_OUTOFMEMORY;
    *object = static_cast<IASIO*>(driver);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE LoopbackClassFactory::LockServer(BOOL lock)
{
    if (lock)
        module_usage::acquire();
    else
        module_usage::release();
    return S_OK;
}
