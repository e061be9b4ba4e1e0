// A tiny in-process server: makes a driver object for each class it knows,
// answering the class's own identifier as interface, and counts the
// objects alive so tests can see releases.
#include <atomic>
#include <cstdlib>
#include <cstdio>
#include <new>

#include "driver/asio_interface.h"
#include "servers/test_classes.h"

namespace {

std::atomic<int> liveObjects{0};

const char* nameOf(REFCLSID clsid)
{
    if (clsid == testClassA)
        return "Test Driver A";
    if (clsid == testClassC)
        return "Test Driver C";
    if (clsid == testClassCrashes)
        return "Test Driver That Crashes";
    return nullptr;
}

class TestDriver final : public IASIO {
public:
    explicit TestDriver(REFCLSID clsid) : clsid_(clsid) { ++liveObjects; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        if (iid != clsid_ && iid != IID_IUnknown) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const int left = --references_;
        if (left == 0) {
            --liveObjects;
            delete this;
        }
        return static_cast<ULONG>(left);
    }

    ASIOBool init(void*) override { return ASIOTrue; }
    void getDriverName(char* name) override { std::snprintf(name, 32, "%s", nameOf(clsid_)); }
    ASIOLong getDriverVersion() override { return 1; }
    void getErrorMessage(char* text) override { std::snprintf(text, 124, "%s", ""); }
    ASIOError start() override { return ASE_OK; }
    ASIOError stop() override { return ASE_OK; }
    ASIOError getChannels(ASIOLong*, ASIOLong*) override { return ASE_NotPresent; }
    ASIOError getLatencies(ASIOLong*, ASIOLong*) override { return ASE_NotPresent; }
    ASIOError getBufferSize(ASIOLong*, ASIOLong*, ASIOLong*, ASIOLong*) override { return ASE_NotPresent; }
    ASIOError canSampleRate(ASIOSampleRate) override { return ASE_NotPresent; }
    ASIOError getSampleRate(ASIOSampleRate*) override { return ASE_NotPresent; }
    ASIOError setSampleRate(ASIOSampleRate) override { return ASE_NotPresent; }
    ASIOError getClockSources(ASIOClockSource*, ASIOLong*) override { return ASE_NotPresent; }
    ASIOError setClockSource(ASIOLong) override { return ASE_NotPresent; }
    ASIOError getSamplePosition(ASIOSamples*, ASIOTimeStamp*) override { return ASE_NotPresent; }
    ASIOError getChannelInfo(ASIOChannelInfo*) override { return ASE_NotPresent; }
    ASIOError createBuffers(ASIOBufferInfo*, ASIOLong, ASIOLong, ASIOCallbacks*) override { return ASE_NotPresent; }
    ASIOError disposeBuffers() override { return ASE_NotPresent; }
    ASIOError controlPanel() override { return ASE_NotPresent; }
    ASIOError future(ASIOLong, void*) override { return ASE_NotPresent; }
    ASIOError outputReady() override { return ASE_NotPresent; }

private:
    ~TestDriver() = default;

    CLSID clsid_;
    std::atomic<int> references_{1};
};

class Factory final : public IClassFactory {
public:
    explicit Factory(REFCLSID clsid) : clsid_(clsid) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (iid != IID_IClassFactory && iid != IID_IUnknown) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const int left = --references_;
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        *object = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        if (clsid_ == testClassCrashes)
            std::abort();  // as a failed assertion in a driver does
        auto* driver = new (std::nothrow) TestDriver(clsid_);
        if (driver == nullptr)
            return E_OUTOFMEMORY;
        const HRESULT result = driver->QueryInterface(iid, object);
        driver->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    ~Factory() = default;

    CLSID clsid_;
    std::atomic<int> references_{1};
};

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    *object = nullptr;
    if (nameOf(clsid) == nullptr)
        return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new (std::nothrow) Factory(clsid);
    if (factory == nullptr)
        return E_OUTOFMEMORY;
    const HRESULT result = factory->QueryInterface(iid, object);
    factory->Release();
    return result;
}

extern "C" int testServerLiveObjects() { return liveObjects.load(); }
