// A minimal host for driving the virtual driver through its interface
// alone: the library is loaded as a host would load it, and the callbacks
// are plain functions writing into one process-wide record, as the driver
// interface demands. Every output half is filled with a pattern that names
// its channel and stream position, and every half that passes is kept, so
// a test can compare what went out with what came back.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "driver/asio_interface.h"

struct HostMessage {
    ASIOLong selector;
    ASIOLong value;
    int switchesBefore;  // buffer switches completed when it came
    ASIOLong inputLatency;  // what getLatencies answered inside a latency message
    ASIOLong outputLatency;
};

struct HostRecord {
    // --- how the host behaves ---
    IASIO* driver = nullptr;
    bool supportsSelectors = true;   // answer to kAsioSelectorSupported for 2 and 7
    ASIOLong timeInfoAnswer = 1;     // answer to kAsioSupportsTimeInfo
    bool askPositionInSwitch = false;

    // --- the stream as created ---
    std::vector<ASIOBufferInfo> infos;
    int32_t bufferSize = 0;
    int32_t sampleWidth = 4;

    // --- what happened; written on the driver's threads, read after stop ---
    std::mutex messageLock;
    std::vector<HostMessage> messages;
    std::vector<double> rateChanges;
    std::vector<ASIOLong> indices;
    std::vector<ASIOBool> directProcess;
    std::vector<bool> viaTimeInfo;
    std::vector<ASIOTime> times;  // copies of the time record, for time-info switches
    std::vector<int64_t> positionsAsked;
    std::vector<std::vector<uint8_t>> streams;  // per entry: every sample sent (outputs) or received (inputs)
    std::atomic<int> switches{0};
};

extern HostRecord* host;

ASIOCallbacks hostCallbacks();

// The bytes of the pattern sample for output channel at stream position.
void patternSample(int32_t channel, int64_t position, int32_t width, uint8_t* sample);

// Owns one reference to a driver object.
class DriverRef {
public:
    DriverRef() = default;
    explicit DriverRef(IASIO* driver) : driver_(driver) {}
    DriverRef(DriverRef&& other) noexcept : driver_(std::exchange(other.driver_, nullptr)) {}
    DriverRef& operator=(DriverRef&& other) noexcept
    {
        std::swap(driver_, other.driver_);
        return *this;
    }
    ~DriverRef() { reset(); }
    void reset()
    {
        if (driver_ != nullptr)
            std::exchange(driver_, nullptr)->Release();
    }
    IASIO* release() { return std::exchange(driver_, nullptr); }
    IASIO* operator->() const { return driver_; }
    IASIO* get() const { return driver_; }
    explicit operator bool() const { return driver_ != nullptr; }

private:
    IASIO* driver_ = nullptr;
};

// The driver library as loaded, and its two plain entry points.
HRESULT libraryGetClassObject(REFCLSID clsid, REFIID iid, void** object);
HRESULT libraryCanUnloadNow();

// A driver object made through the library's class factory, the registry
// test file being in place; empty (with the test failed) when creation fails.
DriverRef makeDriver(REFCLSID clsid);
// The same, and initialised.
DriverRef openDriver(REFCLSID clsid);

struct ChannelRequest {
    std::vector<int32_t> outputs;
    std::vector<int32_t> inputs;
};

// Asks for buffers on the given channels; the host record learns them.
ASIOError createHostBuffers(IASIO* driver, const ChannelRequest& channels, int32_t bufferSize, int32_t sampleWidth);

// Starts the driver, waits until at least halves switches have come (or a
// generous time-out passed) and stops it. False when start failed or the
// switches did not come.
bool streamHalves(IASIO* driver, int halves);

// Waits for at least count switches; false on time-out.
bool waitForSwitches(int count);

// Fresh host record per test; the driver under test is released first.
class LoopbackTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};
