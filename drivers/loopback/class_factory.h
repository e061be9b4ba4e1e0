// Makes driver objects for one class identifier. Each new object reads the
// settings registered for that identifier, so one library serves any
// number of differently configured drivers.
#pragma once

#include <atomic>

#include "platform/com_types.h"

class LoopbackClassFactory final : public IClassFactory {
public:
    // Starts with one reference, owned by the caller.
    explicit LoopbackClassFactory(REFCLSID clsid);
    LoopbackClassFactory(const LoopbackClassFactory&) = delete;
    LoopbackClassFactory& operator=(const LoopbackClassFactory&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    ~LoopbackClassFactory();

    std::atomic<ULONG> references_{1};
    const CLSID clsid_;
};
