// The bridge driver object: the full driver interface as a JACK client.
// The host calls it from its main thread; JACK calls the process callback
// on its real-time thread and the server's notices on its own thread.
#pragma once

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bridge_buffers.h"
#include "callback_gate.h"
#include "common/driver_object.h"
#include "driver/asio_interface.h"
#include "jack_settings.h"

class JackDriver final : public DriverObject {
public:
    // Starts with one reference, owned by the caller.
    JackDriver(REFCLSID clsid, JackSettings settings);
    JackDriver(const JackDriver&) = delete;
    JackDriver& operator=(const JackDriver&) = delete;

    // --- IASIO ---
    ASIOBool init(void* sysHandle) override;
    void getDriverName(char* name) override;
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

    // Xruns the server reported while buffers existed.
    int64_t xrunCount() const { return xruns_.load(); }

private:
    ~JackDriver() override;

    bool openClient();
    bool registerPorts();
    void resolveConnections();
    void connectPorts();
    void waitUntilConnected();
    void deactivate();
    void fail(const std::string& message);
    // The last reference is gone: the client is closed and the object
    // deleted, on a helper thread when the server does not answer in time.
    void retire() override;

    // JACK's callbacks, forwarded to the object.
    static int onProcess(jack_nframes_t frames, void* self);
    static int onBufferSize(jack_nframes_t frames, void* self);
    static int onSampleRate(jack_nframes_t rate, void* self);
    static int onXrun(void* self);
    static void onShutdown(jack_status_t code, const char* reason, void* self);
    static void onPlainShutdown(void* self);
    static void onFreewheel(int starting, void* self);

    // One period on JACK's real-time thread.
    void process(jack_nframes_t frames);
    void silenceOutputs(jack_nframes_t frames);
    // Sends a message to the host while it has buffers; any thread.
    void tellHost(ASIOLong selector);
    // What the server did while the host had buffers, one warning line on
    // standard error each; the host's thread, as the buffers go.
    void reportServerEvents();

    const JackSettings settings_;

    // Main thread only.
    bool initialised_ = false;
    bool active_ = false;
    std::string errorMessage_;
    std::vector<std::string> outputTargets_;  // port each output connects to ("" for none)
    std::vector<std::string> inputSources_;   // port each input comes from

    // The client, shared with helper threads that may outlive a call to a
    // server that does not answer; its lock keeps calls in order.
    struct Session {
        std::mutex calls;
        jack_client_t* client = nullptr;
    };
    std::shared_ptr<Session> session_ = std::make_shared<Session>();
    jack_client_t* client_ = nullptr;  // session_->client, for the calls made directly
    std::vector<jack_port_t*> outputPorts_;
    std::vector<jack_port_t*> inputPorts_;
    std::vector<jack_port_t*> connectedPorts_;  // main thread: the ports connectPorts() connected

    // Shared with JACK's threads.
    std::atomic<double> sampleRate_{0.0};
    std::atomic<int32_t> period_{0};
    std::atomic<bool> serverGone_{false};
    bool serverStuck_ = false;  // a call timed out: the host no longer waits for the server
    std::atomic<int64_t> xruns_{0};
    // Server events kept by JACK's threads for reportServerEvents().
    std::atomic<int32_t> freewheelStarts_{0};
    std::atomic<int32_t> freewheelStops_{0};
    std::atomic<int32_t> periodChanges_{0};
    std::atomic<int32_t> periodChangedFrom_{0};  // the first change
    std::atomic<int32_t> periodChangedTo_{0};    // the last change
    std::atomic<int64_t> skippedFrames_{0};      // periods JACK did not run the client for
    std::atomic<bool> shutdownKept_{false};
    char shutdownReason_[256] = {};  // filled before shutdownKept_ is set
    std::atomic<int64_t> samplePosition_{0};
    std::atomic<int64_t> systemTimeNs_{0};
    std::atomic<bool> streaming_{false};
    std::atomic<uint32_t> periodsRun_{0};  // process callbacks, streaming or not

    // Open from start to stop: the process callback streams only inside.
    CallbackGate streamGate_;
    // Open from createBuffers to disposeBuffers: the host hears of server
    // events only inside.
    CallbackGate eventGate_;

    // Written by the main thread before the gates open, then used by
    // JACK's threads alone until they close.
    BridgeBuffers buffers_;
    ASIOCallbacks callbacks_{};
    bool useTimeInfo_ = false;
    int32_t halfIndex_ = 0;
    bool firstPeriod_ = true;
    jack_nframes_t lastFrameTime_ = 0;
    int64_t position_ = 0;
    ASIOTime time_{};
    std::vector<const float*> inputBuffers_;
    std::vector<float*> outputBuffers_;
};
