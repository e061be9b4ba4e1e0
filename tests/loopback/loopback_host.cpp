#include "loopback_host.h"

#include <dlfcn.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "test_registry.h"

HostRecord* host = nullptr;

namespace {

struct Library {
    void* handle = nullptr;
    DllGetClassObjectFunction getClassObject = nullptr;
    HRESULT (*canUnloadNow)() = nullptr;
};

const Library& library()
{
    static const Library loaded = [] {
        Library lib;
        lib.handle = dlopen(LOOPBACK_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (lib.handle != nullptr) {
            lib.getClassObject = reinterpret_cast<DllGetClassObjectFunction>(dlsym(lib.handle, "DllGetClassObject"));
            lib.canUnloadNow = reinterpret_cast<HRESULT (*)()>(dlsym(lib.handle, "DllCanUnloadNow"));
        }
        return lib;
    }();
    return loaded;
}

void process(ASIOLong index, ASIOBool direct, bool timeInfo)
{
    HostRecord& h = *host;
    const int64_t switchNumber = static_cast<int64_t>(h.indices.size());
    h.indices.push_back(index);
    h.directProcess.push_back(direct);
    h.viaTimeInfo.push_back(timeInfo);
    if (h.askPositionInSwitch) {
        ASIOSamples position{};
        ASIOTimeStamp stamp{};
        const ASIOError error = h.driver->getSamplePosition(&position, &stamp);
        h.positionsAsked.push_back(error == ASE_OK ? (int64_t(position.hi) << 32 | position.lo) : -1);
    }
    const size_t halfBytes = static_cast<size_t>(h.bufferSize) * static_cast<size_t>(h.sampleWidth);
    for (size_t e = 0; e < h.infos.size(); ++e) {
        uint8_t* half = static_cast<uint8_t*>(h.infos[e].buffers[index]);
        if (h.infos[e].isInput) {
            h.streams[e].insert(h.streams[e].end(), half, half + halfBytes);
            continue;
        }
        for (int32_t i = 0; i < h.bufferSize; ++i)
            patternSample(h.infos[e].channelNum, switchNumber * h.bufferSize + i, h.sampleWidth,
                          half + static_cast<size_t>(i) * static_cast<size_t>(h.sampleWidth));
        h.streams[e].insert(h.streams[e].end(), half, half + halfBytes);
    }
    h.switches.fetch_add(1);
}

void onBufferSwitch(ASIOLong index, ASIOBool direct) { process(index, direct, false); }

ASIOTime* onBufferSwitchTimeInfo(ASIOTime* params, ASIOLong index, ASIOBool direct)
{
    host->times.push_back(params != nullptr ? *params : ASIOTime{});
    process(index, direct, true);
    return params;
}

void onSampleRateDidChange(ASIOSampleRate rate)
{
    std::lock_guard<std::mutex> lock(host->messageLock);
    host->rateChanges.push_back(rate);
}

ASIOLong onAsioMessage(ASIOLong selector, ASIOLong value, void*, double*)
{
    HostMessage message{selector, value, host->switches.load(), 0, 0};
    ASIOLong answer = 0;
    switch (selector) {
    case kAsioSelectorSupported:
        answer = host->supportsSelectors &&
                 (value == kAsioEngineVersion || value == kAsioSupportsTimeInfo || value == kAsioLatenciesChanged);
        break;
    case kAsioEngineVersion:
        answer = 2;
        break;
    case kAsioSupportsTimeInfo:
        answer = host->timeInfoAnswer;
        break;
    case kAsioLatenciesChanged:
        host->driver->getLatencies(&message.inputLatency, &message.outputLatency);
        answer = 1;
        break;
    default:
        break;
    }
    std::lock_guard<std::mutex> lock(host->messageLock);
    host->messages.push_back(message);
    return answer;
}

}  // namespace

ASIOCallbacks hostCallbacks()
{
    return ASIOCallbacks{onBufferSwitch, onSampleRateDidChange, onAsioMessage, onBufferSwitchTimeInfo};
}

void patternSample(int32_t channel, int64_t position, int32_t width, uint8_t* sample)
{
    // Never zero, so silence is told apart; the channel sits in the top bits.
    const uint32_t value = width == 2 ? (uint32_t(channel + 1) << 13 | uint32_t(position % 8191 + 1))
                                      : (uint32_t(channel + 1) << 24 | uint32_t(position % 0xFFFFFF + 1));
    std::memcpy(sample, &value, static_cast<size_t>(width));
}

HRESULT libraryGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    return library().getClassObject(clsid, iid, object);
}

HRESULT libraryCanUnloadNow() { return library().canUnloadNow(); }

DriverRef makeDriver(REFCLSID clsid)
{
    ensureTestRegistry();
    if (library().getClassObject == nullptr) {
        ADD_FAILURE() << "cannot load " << LOOPBACK_LIBRARY << ": " << dlerror();
        return DriverRef();
    }
    IClassFactory* factory = nullptr;
    if (FAILED(library().getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) {
        ADD_FAILURE() << "no class factory";
        return DriverRef();
    }
    void* object = nullptr;
    const HRESULT created = factory->CreateInstance(nullptr, clsid, &object);
    factory->Release();
    if (FAILED(created) || object == nullptr) {
        ADD_FAILURE() << "the factory made no driver for " << clsidText(clsid);
        return DriverRef();
    }
    return DriverRef(static_cast<IASIO*>(object));
}

DriverRef openDriver(REFCLSID clsid)
{
    DriverRef driver = makeDriver(clsid);
    if (driver && driver->init(nullptr) != ASIOTrue) {
        ADD_FAILURE() << "init failed";
        driver.reset();
    }
    return driver;
}

ASIOError createHostBuffers(IASIO* driver, const ChannelRequest& channels, int32_t bufferSize, int32_t sampleWidth)
{
    host->driver = driver;
    std::vector<ASIOBufferInfo> infos;
    for (int32_t channel : channels.outputs)
        infos.push_back(ASIOBufferInfo{ASIOFalse, channel, {nullptr, nullptr}});
    for (int32_t channel : channels.inputs)
        infos.push_back(ASIOBufferInfo{ASIOTrue, channel, {nullptr, nullptr}});
    static ASIOCallbacks callbacks;
    callbacks = hostCallbacks();
    const ASIOError result =
        driver->createBuffers(infos.data(), static_cast<ASIOLong>(infos.size()), bufferSize, &callbacks);
    // A refused request leaves the stream the host already has alone.
    if (result == ASE_OK || host->infos.empty()) {
        host->infos = std::move(infos);
        host->bufferSize = bufferSize;
        host->sampleWidth = sampleWidth;
        host->streams.assign(host->infos.size(), {});
    }
    return result;
}

bool waitForSwitches(int count)
{
    // Only a guard against a clock that never comes: normal runs take
    // milliseconds, slow sanitizer builds a little more.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (host->switches.load() < count) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool streamHalves(IASIO* driver, int halves)
{
    if (driver->start() != ASE_OK)
        return false;
    const bool arrived = waitForSwitches(halves);
    driver->stop();
    return arrived;
}

void LoopbackTest::SetUp() { host = new HostRecord; }

void LoopbackTest::TearDown()
{
    delete host;
    host = nullptr;
}
