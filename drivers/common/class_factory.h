// Makes driver objects for one class identifier. Each new object reads the
// settings registered for that identifier, so one library serves any
// number of differently configured drivers.
#pragma once

#include <atomic>

#include "platform/com_types.h"

// Makes one driver object for a class identifier, its settings read from
// the registry: S_OK with the object's IASIO in *object, or a failure
// code with *object left null.
using MakeDriver = HRESULT (*)(REFCLSID clsid, void** object);

class DriverClassFactory final : public IClassFactory {
public:
    // Starts with one reference, owned by the caller.
    DriverClassFactory(REFCLSID clsid, MakeDriver make);
    DriverClassFactory(const DriverClassFactory&) = delete;
    DriverClassFactory& operator=(const DriverClassFactory&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    ~DriverClassFactory();

    std::atomic<ULONG> references_{1};
    const CLSID clsid_;
    const MakeDriver make_;
};
