// Makes bridge objects for one class identifier. Each new object reads the
// settings registered for that identifier, so one library serves any
// number of bridges to different servers or ports.
#pragma once

#include <atomic>

#include "platform/com_types.h"

class JackClassFactory final : public IClassFactory {
public:
    // Starts with one reference, owned by the caller.
    explicit JackClassFactory(REFCLSID clsid);
    JackClassFactory(const JackClassFactory&) = delete;
    JackClassFactory& operator=(const JackClassFactory&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    ~JackClassFactory();

    std::atomic<ULONG> references_{1};
    const CLSID clsid_;
};
