#include "class_factory.h"

#include <new>
#include <utility>

#include "jack_driver.h"
#include "jack_settings.h"
#include "module_usage.h"

JackClassFactory::JackClassFactory(REFCLSID clsid) : clsid_(clsid) { module_usage::acquire(); }

JackClassFactory::~JackClassFactory() { module_usage::release(); }

HRESULT STDMETHODCALLTYPE JackClassFactory::QueryInterface(REFIID iid, void** object)
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

ULONG STDMETHODCALLTYPE JackClassFactory::AddRef() { return references_.fetch_add(1) + 1; }

ULONG STDMETHODCALLTYPE JackClassFactory::Release()
{
    const ULONG left = references_.fetch_sub(1) - 1;
    if (left == 0)
        delete this;
    return left;
}

HRESULT STDMETHODCALLTYPE JackClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (outer != nullptr)
        return CLASS_E_NOAGGREGATION;
    if (!IsEqualGUID(iid, clsid_) && !IsEqualGUID(iid, IID_IUnknown))
        return E_NOINTERFACE;
    JackSettings settings = readJackSettings(clsid_);
    JackDriver* driver = new (std::nothrow) JackDriver(clsid_, std::move(settings));
    if (driver == nullptr)
        return E_OUTOFMEMORY;
    *object = static_cast<IASIO*>(driver);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE JackClassFactory::LockServer(BOOL lock)
{
    if (lock)
        module_usage::acquire();
    else
        module_usage::release();
    return S_OK;
}
