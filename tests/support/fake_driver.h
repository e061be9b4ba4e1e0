// A scripted driver for tests: every answer and result code is a field a
// test sets, every call is logged by name, and the buffers it creates can
// be read and written directly. It starts no thread; tests call the
// callbacks themselves (or from a thread of their own).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "driver/asio_interface.h"

class FakeDriver : public IASIO {
public:
    FakeDriver() = default;
    virtual ~FakeDriver() = default;

    // --- script ---
    ASIOBool initResult = ASIOTrue;
    std::string driverName = "Fake Driver";
    std::string errorText = "Fake failure";
    ASIOLong driverVersion = 7;

    ASIOError channelsResult = ASE_OK;
    ASIOLong inputs = 2;
    ASIOLong outputs = 2;

    ASIOError channelInfoResult = ASE_OK;
    ASIOSampleType sampleType = ASIOSTInt32LSB;

    ASIOError bufferSizeResult = ASE_OK;
    ASIOLong minSize = 64, maxSize = 2048, preferredSize = 256, granularity = -1;

    ASIOError getSampleRateResult = ASE_OK;
    ASIOError setSampleRateResult = ASE_OK;
    ASIOSampleRate currentRate = 44100.0;

    ASIOError createBuffersResult = ASE_OK;
    // Runs inside createBuffers after the callbacks are stored: lets a
    // test send messages from there as real drivers do.
    std::function<void(const ASIOCallbacks&)> duringCreateBuffers;

    ASIOError latenciesResult = ASE_OK;
    ASIOLong inputLatency = 100, outputLatency = 200;

    ASIOError startResult = ASE_OK, stopResult = ASE_OK, disposeResult = ASE_OK, controlPanelResult = ASE_OK;

    // --- what happened ---
    std::vector<std::string> calls;
    ASIOCallbacks callbacks{};
    std::vector<ASIOBufferInfo> createdInfos;  // as received, before buffers were filled in
    ASIOLong createdChannels = -1;
    ASIOLong createdBufferSize = -1;
    ASIOChannelInfo channelInfoAsked{};  // the record as getChannelInfo received it
    ASIOSampleRate rateSet = 0.0;
    int samplePositionCalls = 0;
    int refCount = 1;

    // Sample storage behind the buffer pointers handed out by createBuffers:
    // storage[entry][half], bufferSize samples of the width of sampleType.
    std::vector<std::vector<std::vector<uint8_t>>> storage;
    size_t sampleWidth() const { return sampleType == ASIOSTInt16LSB ? 2 : 4; }
    template <class T>
    T* half(size_t entry, int index)
    {
        return reinterpret_cast<T*>(storage.at(entry).at(static_cast<size_t>(index)).data());
    }

    int callCountOf(const std::string& name) const;

    // --- IUnknown ---
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // --- IASIO ---
    ASIOBool init(void* sysHandle) override;
    void getDriverName(char* name) override;
    ASIOLong getDriverVersion() override;
    void getErrorMessage(char* string) override;
    ASIOError start() override;
    ASIOError stop() override;
    ASIOError getChannels(ASIOLong* numInputChannels, ASIOLong* numOutputChannels) override;
    ASIOError getLatencies(ASIOLong* inputLatency, ASIOLong* outputLatency) override;
    ASIOError getBufferSize(ASIOLong* minSize, ASIOLong* maxSize, ASIOLong* preferredSize,
                            ASIOLong* granularity) override;
    ASIOError canSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError getSampleRate(ASIOSampleRate* sampleRate) override;
    ASIOError setSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError getClockSources(ASIOClockSource* clocks, ASIOLong* numSources) override;
    ASIOError setClockSource(ASIOLong reference) override;
    ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) override;
    ASIOError getChannelInfo(ASIOChannelInfo* info) override;
    ASIOError createBuffers(ASIOBufferInfo* bufferInfos, ASIOLong numChannels, ASIOLong bufferSize,
                            ASIOCallbacks* callbacks) override;
    ASIOError disposeBuffers() override;
    ASIOError controlPanel() override;
    ASIOError future(ASIOLong selector, void* opt) override;
    ASIOError outputReady() override;
};
