#include "driver_object.h"

#include "module_usage.h"

DriverObject::DriverObject(REFCLSID clsid) : clsid_(clsid) { module_usage::acquire(); }

DriverObject::~DriverObject() { module_usage::release(); }

HRESULT STDMETHODCALLTYPE DriverObject::QueryInterface(REFIID iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    // Hosts ask for the driver's class identifier as the interface.
    if (IsEqualGUID(iid, clsid_) || IsEqualGUID(iid, IID_IUnknown)) {
        *object = static_cast<IASIO*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE DriverObject::AddRef() { return references_.fetch_add(1) + 1; }

ULONG STDMETHODCALLTYPE DriverObject::Release()
{
    const ULONG left = references_.fetch_sub(1) - 1;
    if (left == 0)
        retire();
    return left;
}

void DriverObject::retire() { delete this; }

ASIOLong DriverObject::getDriverVersion() { return 1; }

// No panel to show.
ASIOError DriverObject::controlPanel() { return ASE_OK; }

// No optional feature is supported.
ASIOError DriverObject::future(ASIOLong, void*) { return ASE_InvalidParameter; }

// The driver does not wait for the host's outputs.
ASIOError DriverObject::outputReady() { return ASE_NotPresent; }
