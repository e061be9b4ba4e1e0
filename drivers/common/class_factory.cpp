#include "class_factory.h"

#include "module_usage.h"

DriverClassFactory::DriverClassFactory(REFCLSID clsid, MakeDriver make) : clsid_(clsid), make_(make)
{
    module_usage::acquire();
}

DriverClassFactory::~DriverClassFactory() { module_usage::release(); }

HRESULT STDMETHODCALLTYPE DriverClassFactory::QueryInterface(REFIID iid, void** object)
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

ULONG STDMETHODCALLTYPE DriverClassFactory::AddRef() { return references_.fetch_add(1) + 1; }

ULONG STDMETHODCALLTYPE DriverClassFactory::Release()
{
    const ULONG left = references_.fetch_sub(1) - 1;
    if (left == 0)
        delete this;
    return left;
}

HRESULT STDMETHODCALLTYPE DriverClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (outer != nullptr)
        return CLASS_E_NOAGGREGATION;
    if (!IsEqualGUID(iid, clsid_) && !IsEqualGUID(iid, IID_IUnknown))
        return E_NOINTERFACE;
    return make_(clsid_, object);
}

HRESULT STDMETHODCALLTYPE DriverClassFactory::LockServer(BOOL lock)
{
    if (lock)
        module_usage::acquire();
    else
        module_usage::release();
    return S_OK;
}
