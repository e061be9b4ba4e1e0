// What every driver object shares below the driver interface: the
// reference count, the answer to QueryInterface, its share in keeping the
// library loaded while it lives, and the calls both answer alike.
#pragma once

#include <atomic>

#include "driver/asio_interface.h"

class DriverObject : public IASIO {
public:
    DriverObject(const DriverObject&) = delete;
    DriverObject& operator=(const DriverObject&) = delete;

    // --- IUnknown ---
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) final;
    ULONG STDMETHODCALLTYPE AddRef() final;
    ULONG STDMETHODCALLTYPE Release() final;

    // --- IASIO: the answers neither driver has anything of its own for ---
    ASIOLong getDriverVersion() override;
    ASIOError controlPanel() override;
    ASIOError future(ASIOLong selector, void* opt) override;
    ASIOError outputReady() override;

protected:
    // Starts with one reference, owned by the caller.
    explicit DriverObject(REFCLSID clsid);
    virtual ~DriverObject();

    // The last reference is gone. A driver whose threads may still call
    // into it puts off the deletion until they have stopped.
    virtual void retire();

private:
    std::atomic<ULONG> references_{1};
    const CLSID clsid_;
};
