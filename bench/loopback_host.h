// The bundled virtual loopback driver hosted the way the harness hosts it,
// for the benchmarks that time the driver's clock: the library loaded and
// asked for a driver object through DllGetClassObject, the test record set
// up as stream setup leaves it, and the harness's own callbacks behind a
// thin layer that notes the time of every buffer switch.
#pragma once

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "record/console.h"
#include "record/sample_memory.h"
#include "record/test_state.h"
#include "driver/asio_interface.h"
#include "stream/buffer_switch.h"
#include "stream/driver_callbacks.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// {8A1F3C52-6E0B-4D97-9C41-2B7E5D0A13F6}: the bundled driver's class. The
// library serves any class; without a registry file every setting keeps
// its default (2 outputs, 2 inputs, 32-bit integers).
constexpr CLSID bundledClass = {0x8A1F3C52, 0x6E0B, 0x4D97, {0x9C, 0x41, 0x2B, 0x7E, 0x5D, 0x0A, 0x13, 0xF6}};

struct DriverRelease {
    void operator()(IASIO* driver) const { driver->Release(); }
};
using DriverHandle = std::unique_ptr<IASIO, DriverRelease>;

class LoopbackLibrary {
public:
    explicit LoopbackLibrary(const char* path) : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL))
    {
        if (handle_ == nullptr) error_ = dlerror();
    }
    ~LoopbackLibrary()
    {
        if (handle_ != nullptr) dlclose(handle_);
    }
    LoopbackLibrary(const LoopbackLibrary&) = delete;
    LoopbackLibrary& operator=(const LoopbackLibrary&) = delete;

    const std::string& error() const { return error_; }

    // An initialised driver object, or empty with error() saying why.
    DriverHandle openDriver()
    {
        if (handle_ == nullptr) return DriverHandle();
        const auto getClassObject = reinterpret_cast<DllGetClassObjectFunction>(dlsym(handle_, "DllGetClassObject"));
        if (getClassObject == nullptr) return fail("no DllGetClassObject");
        IClassFactory* factory = nullptr;
        if (FAILED(getClassObject(bundledClass, IID_IClassFactory, reinterpret_cast<void**>(&factory))))
            return fail("no class factory");
        void* object = nullptr;
        const HRESULT made = factory->CreateInstance(nullptr, bundledClass, &object);
        factory->Release();
        if (FAILED(made) || object == nullptr) return fail("the factory made no driver");
        DriverHandle driver(static_cast<IASIO*>(object));
        if (driver->init(nullptr) != ASIOTrue) return fail("init failed");
        return driver;
    }

private:
    DriverHandle fail(const char* why)
    {
        error_ = why;
        return DriverHandle();
    }

    void* handle_;
    std::string error_;
};

// Times of the buffer switches of one stream, in steady-clock nanoseconds.
// Written only on the driver's thread, read after stop().
struct SwitchTimes {
    std::vector<int64_t> at;
    size_t count = 0;
    std::atomic<size_t> published{0};

    void note()
    {
        if (count < at.size()) at[count++] = nowNs();
        published.store(count, std::memory_order_release);
    }
};

inline SwitchTimes switchTimes;

inline void timedBufferSwitch(ASIOLong index, ASIOBool direct)
{
    switchTimes.note();
    processBufferSwitch(index, direct);
}

inline ASIOTime* timedBufferSwitchTimeInfo(ASIOTime* params, ASIOLong index, ASIOBool direct)
{
    switchTimes.note();
    return bufferSwitchTimeInfo(params, index, direct);
}

// A stream of the harness on the driver: channels, the format the driver
// reports, a one-second sine, the lead-in of its latencies, recordings
// reserved for `seconds`, and buffers created with the timed callbacks.
// The harness's console lines of buffer creation are kept out of the
// benchmark's output. False with `why` set when the driver refuses.
inline bool createStream(IASIO* driver, double rate, int32_t bufferSize, double seconds, std::string& why)
{
    TestState& s = testState;
    ASIOLong inputs = 0, outputs = 0, inputLatency = 0, outputLatency = 0;
    if (driver->setSampleRate(rate) != ASE_OK || driver->getChannels(&inputs, &outputs) != ASE_OK ||
        driver->getLatencies(&inputLatency, &outputLatency) != ASE_OK) {
        why = "the driver refused the rate or its configuration";
        return false;
    }
    ASIOChannelInfo info{};
    info.channel = 0;
    info.isInput = ASIOFalse;
    if (driver->getChannelInfo(&info) != ASE_OK) {
        why = "no channel info";
        return false;
    }
    s.currentDriver = driver;
    s.outputChannelCount = std::min<int32_t>(outputs, maxChannelsPerDirection);
    s.reportedOutputChannels = s.outputChannelCount;
    s.inputChannelCount = std::min<int32_t>(inputs, maxChannelsPerDirection);
    s.sampleType = info.type;
    s.bufferSize = bufferSize;
    s.sampleRate = rate;
    s.timeInfoMode = false;
    s.callCount = 0;
    s.samplesProcessed = 0;
    s.signalPosition = 0;
    s.leadInRemaining = static_cast<uint64_t>(std::max<int64_t>(0, int64_t(inputLatency) + outputLatency));
    s.inputLatency = inputLatency;
    s.outputLatency = outputLatency;

    const uint64_t length = static_cast<uint64_t>(rate);
    s.signalLength = length;
    s.signalBuffer.reset(static_cast<uint32_t*>(allocateSampleMemory(length * 4)));
    if (!s.signalBuffer) {
        why = "no memory for the signal";
        return false;
    }
    for (uint64_t i = 0; i < length; ++i)
        s.signalBuffer[i] = static_cast<uint32_t>(
            static_cast<int32_t>(std::sin(6.283185307179586 * 220.0 * static_cast<double>(i) / rate) * 2147483647.0));

    const int32_t channels = s.outputChannelCount + s.inputChannelCount;
    // Room for the stream plus a second, so no recording grows.
    const uint64_t samples = static_cast<uint64_t>((seconds + 1.0) * rate);
    for (int32_t c = 0; c < channels; ++c) {
        s.captures[static_cast<size_t>(c)].clear();
        if (!s.captures[static_cast<size_t>(c)].reserve(samples)) {
            why = "no memory for the recordings";
            return false;
        }
    }
    for (int32_t c = 0; c < channels; ++c) {
        ASIOBufferInfo& b = s.bufferInfos[static_cast<size_t>(c)];
        b.isInput = c >= s.outputChannelCount ? ASIOTrue : ASIOFalse;
        b.channelNum = c >= s.outputChannelCount ? c - s.outputChannelCount : c;
        b.buffers[0] = b.buffers[1] = nullptr;
    }
    s.callbacks = ASIOCallbacks{timedBufferSwitch, sampleRateDidChange, asioMessage, timedBufferSwitchTimeInfo};

    const size_t expected = static_cast<size_t>(seconds * rate / bufferSize) + 1000;
    switchTimes.at.assign(expected, 0);
    switchTimes.count = 0;
    switchTimes.published.store(0);

    std::ostringstream quiet;
    console::redirectOut(&quiet);
    const ASIOError created = driver->createBuffers(s.bufferInfos.data(), channels, bufferSize, &s.callbacks);
    console::redirectOut(nullptr);
    if (created != ASE_OK) {
        why = "createBuffers failed with " + std::to_string(created);
        return false;
    }
    return true;
}

// What the run sequence does after a stream: buffers disposed, signal and
// recordings given back.
inline void endStream(IASIO* driver)
{
    driver->disposeBuffers();
    testState.currentDriver = nullptr;
    testState.signalBuffer.reset();
    for (SampleRecording& capture : testState.captures) capture.release();
}

}  // namespace bench
