#include "jack_driver.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

#include "bounded_call.h"
#include "common/driver_answers.h"
#include "common/host_negotiation.h"
#include "common/time_info.h"

namespace {

// The JACK library reports every failed connection attempt on standard
// error in several lines of its own; the driver's error message says what
// matters, and the host's standard error stays its own.
void quietLibrary(const char*) {}

void silenceLibraryOnce()
{
    static const bool silenced = [] {
        jack_set_error_function(quietLibrary);
        jack_set_info_function(quietLibrary);
        return true;
    }();
    (void)silenced;
}

// PipeWire's JACK library, taking the place of jackd2's on most desktops.
bool onPipeWire()
{
    const char* version = jack_get_version_string();
    return version != nullptr && std::strstr(version, "PipeWire") != nullptr;
}

// The server a client without a name joins, as the library picks it.
std::string defaultServerName()
{
    const char* named = std::getenv("JACK_DEFAULT_SERVER");
    return named != nullptr && *named != '\0' ? named : "default";
}

// Where a client without a server name looked, for the message when
// nothing answered there: jackd2's library tries the server named by
// JACK_DEFAULT_SERVER or "default"; PipeWire's JACK library, taking the
// place of jackd2's on most desktops, tries the PipeWire daemon named by
// PIPEWIRE_REMOTE or "pipewire-0".
std::string defaultServersTried()
{
    if (onPipeWire()) {
        const char* remote = std::getenv("PIPEWIRE_REMOTE");
        const std::string daemon = remote != nullptr && *remote != '\0' ? remote : "pipewire-0";
        return "the PipeWire daemon \"" + daemon + "\", through PipeWire's JACK library";
    }
    return "server \"" + defaultServerName() + "\", the JACK library's default";
}

// Names of the physical ports of one direction, in the server's order.
std::vector<std::string> physicalPorts(jack_client_t* client, unsigned long direction)
{
    std::vector<std::string> names;
    const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | direction);
    if (ports == nullptr)
        return names;
    for (const char** p = ports; *p != nullptr; ++p)
        names.emplace_back(*p);
    jack_free(ports);
    return names;
}

int64_t microsToNanos(jack_time_t micros) { return static_cast<int64_t>(micros) * 1000; }

}  // namespace

JackDriver::JackDriver(REFCLSID clsid, JackSettings settings) : DriverObject(clsid), settings_(std::move(settings)) {}

JackDriver::~JackDriver() = default;

// --- the client ---

namespace {

// How long a call that needs the server's answer may take before the
// server counts as stuck.
constexpr std::chrono::milliseconds serverLimit{3000};
// How long the host may wait for its connections to carry data.
constexpr std::chrono::milliseconds connectionLimit{1000};

void warnStuck(const char* what)
{
    std::fprintf(stderr, "warning: the JACK server did not answer %s within %lld ms; its client is left to it\n",
                 what, static_cast<long long>(serverLimit.count()));
}

}  // namespace

void JackDriver::retire()
{
    streamGate_.close();
    eventGate_.close();
    if (client_ == nullptr) {
        delete this;
        return;
    }
    // JACK may call the object until its client is closed, so the object
    // goes only after that, on whichever thread the closing ends. Behind a
    // deactivation that is still waiting for a stuck server, the closing
    // waits its turn without holding the host.
    const bool stuck = serverStuck_;
    const bool deactivateFirst = active_ && !serverGone_.load() && !stuck;
    std::shared_ptr<Session> session = session_;
    JackDriver* self = this;
    const std::chrono::milliseconds wait = stuck ? std::chrono::milliseconds(0) : serverLimit;
    const bool closed = callWithin(wait, [session, self, deactivateFirst] {
        {
            std::lock_guard<std::mutex> order(session->calls);
            if (deactivateFirst)
                jack_deactivate(session->client);
            jack_client_close(session->client);
            session->client = nullptr;
        }
        delete self;
    });
    if (!closed && !stuck)
        warnStuck("the closing of the client");
}

void JackDriver::fail(const std::string& message)
{
    errorMessage_ = message;
    // The server has just answered the opening; closing needs no limit.
    jack_client_close(client_);
    client_ = nullptr;
    session_->client = nullptr;
    outputPorts_.clear();
    inputPorts_.clear();
}

namespace {

// One opening as a helper thread makes it: the result, or, when the caller
// has given up waiting, the closing of what came too late.
struct Opening {
    std::mutex lock;
    bool given_up = false;
    bool done = false;
    jack_client_t* client = nullptr;
    jack_status_t status = jack_status_t(0);
};

jack_client_t* openOnce(const std::string& clientName, const std::string& server, jack_status_t& status)
{
    status = jack_status_t(0);
    // Never starts a server: a test of an interface must not quietly
    // measure a server it brought up itself.
    if (server.empty())
        return jack_client_open(clientName.c_str(), JackNoStartServer, &status);
    return jack_client_open(clientName.c_str(), jack_options_t(JackNoStartServer | JackServerName), &status,
                            server.c_str());
}

}  // namespace

bool JackDriver::openClient()
{
    silenceLibraryOnce();
    const std::string server = settings_.server.empty() ? defaultServerName() : settings_.server;
    auto opening = std::make_shared<Opening>();
    callWithin(serverLimit, [opening, clientName = settings_.clientName, named = settings_.server] {
        jack_status_t status;
        jack_client_t* client = openOnce(clientName, named, status);
        // A busy server can turn a client away while it still removes the
        // one before (the host closes and reopens the driver in a row); a
        // few tries cover that without making a missing server any slower.
        for (int attempt = 1; client == nullptr && (status & JackServerFailed) == 0 && attempt < 4; ++attempt) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100 * attempt));
            client = openOnce(clientName, named, status);
        }
        std::lock_guard<std::mutex> guard(opening->lock);
        if (opening->given_up) {
            if (client != nullptr)
                jack_client_close(client);
            return;
        }
        opening->client = client;
        opening->status = status;
        opening->done = true;
    });
    std::lock_guard<std::mutex> guard(opening->lock);
    if (!opening->done) {
        opening->given_up = true;
        errorMessage_ = "The JACK server \"" + server + "\" does not answer";
        return false;
    }
    client_ = opening->client;
    session_->client = client_;
    if (client_ != nullptr)
        return true;
    char code[16];
    std::snprintf(code, sizeof code, "0x%x", static_cast<unsigned>(opening->status));
    if ((opening->status & JackServerFailed) != 0 && settings_.server.empty())
        errorMessage_ = "No JACK server is running (tried " + defaultServersTried() + ")";
    else if ((opening->status & JackServerFailed) != 0)
        errorMessage_ = "No JACK server is running (server \"" + server + "\")";
    else
        errorMessage_ = "Could not join the JACK server \"" + server + "\" (status " + code + ")";
    return false;
}

bool JackDriver::registerPorts()
{
    for (int32_t k = 0; k < settings_.outputs; ++k) {
        const std::string name = "out_" + std::to_string(k + 1);
        jack_port_t* port = jack_port_register(client_, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        if (port == nullptr)
            return false;
        outputPorts_.push_back(port);
    }
    for (int32_t k = 0; k < settings_.inputs; ++k) {
        const std::string name = "in_" + std::to_string(k + 1);
        jack_port_t* port = jack_port_register(client_, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        if (port == nullptr)
            return false;
        inputPorts_.push_back(port);
    }
    outputBuffers_.assign(outputPorts_.size(), nullptr);
    inputBuffers_.assign(inputPorts_.size(), nullptr);
    return true;
}

void JackDriver::resolveConnections()
{
    // Our outputs feed the server's playback ports, which take input.
    std::vector<std::string> targets =
        settings_.connectOutputsGiven ? settings_.connectOutputs : physicalPorts(client_, JackPortIsInput);
    std::vector<std::string> sources =
        settings_.connectInputsGiven ? settings_.connectInputs : physicalPorts(client_, JackPortIsOutput);
    targets.resize(outputPorts_.size());
    sources.resize(inputPorts_.size());
    outputTargets_ = std::move(targets);
    inputSources_ = std::move(sources);
}

void JackDriver::connectPorts()
{
    connectedPorts_.clear();
    for (size_t k = 0; k < outputPorts_.size(); ++k) {
        if (outputTargets_[k].empty())
            continue;
        if (jack_connect(client_, jack_port_name(outputPorts_[k]), outputTargets_[k].c_str()) == 0)
            connectedPorts_.push_back(outputPorts_[k]);
        else
            std::fprintf(stderr, "warning: JACK bridge could not connect out_%zu to %s\n", k + 1,
                         outputTargets_[k].c_str());
    }
    for (size_t k = 0; k < inputPorts_.size(); ++k) {
        if (inputSources_[k].empty())
            continue;
        if (jack_connect(client_, inputSources_[k].c_str(), jack_port_name(inputPorts_[k])) == 0)
            connectedPorts_.push_back(inputPorts_[k]);
        else
            std::fprintf(stderr, "warning: JACK bridge could not connect %s to in_%zu\n",
                         inputSources_[k].c_str(), k + 1);
    }
}

// jackd2 makes a connection before jack_connect returns; PipeWire's JACK
// library asks its daemon for a link and returns, and the link carries
// data only some periods later: the first periods of a stream started at
// once came back as zeros. There it waits, at most a moment, until every
// port it connected shows its connection and two periods have gone by.
void JackDriver::waitUntilConnected()
{
    if (!onPipeWire())
        return;
    const auto until = std::chrono::steady_clock::now() + connectionLimit;
    auto connected = [this] {
        for (jack_port_t* port : connectedPorts_)
            if (jack_port_connected(port) == 0)
                return false;
        return true;
    };
    while (!connected()) {
        if (std::chrono::steady_clock::now() >= until)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const uint32_t seen = periodsRun_.load(std::memory_order_relaxed);
    while (periodsRun_.load(std::memory_order_relaxed) - seen < 2 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

void JackDriver::deactivate()
{
    // A server that went away takes its clients' activation with it, and
    // asking it anything more would only wait for an answer never coming.
    if (active_ && !serverGone_.load() && !serverStuck_) {
        std::shared_ptr<Session> session = session_;
        if (!callWithin(serverLimit, [session] {
                std::lock_guard<std::mutex> order(session->calls);
                jack_deactivate(session->client);
            })) {
            serverStuck_ = true;
            warnStuck("the deactivation of the client");
        }
    }
    active_ = false;
}

// --- identity ---

ASIOBool JackDriver::init(void*)
{
    if (initialised_)
        return ASIOTrue;
    if (settings_.sampleType != ASIOSTInt32LSB && settings_.sampleType != ASIOSTFloat32LSB) {
        errorMessage_ = "SampleType must be 18 (32-bit integer) or 19 (32-bit float)";
        return ASIOFalse;
    }
    if (!openClient())
        return ASIOFalse;
    if (!registerPorts()) {
        fail("Could not register the JACK ports");
        return ASIOFalse;
    }
    if (jack_set_process_callback(client_, onProcess, this) != 0 ||
        jack_set_buffer_size_callback(client_, onBufferSize, this) != 0 ||
        jack_set_sample_rate_callback(client_, onSampleRate, this) != 0 ||
        jack_set_xrun_callback(client_, onXrun, this) != 0) {
        fail("Could not set the JACK callbacks");
        return ASIOFalse;
    }
    // jackd2's library calls the first when both are set; PipeWire's JACK
    // library (0.3.x) calls only the second when its daemon goes away.
    jack_on_info_shutdown(client_, onShutdown, this);
    jack_on_shutdown(client_, onPlainShutdown, this);
    // Not every server offers it; freewheeling then goes unremarked.
    jack_set_freewheel_callback(client_, onFreewheel, this);
    sampleRate_.store(static_cast<double>(jack_get_sample_rate(client_)));
    period_.store(static_cast<int32_t>(jack_get_buffer_size(client_)));
    resolveConnections();
    errorMessage_.clear();
    initialised_ = true;
    return ASIOTrue;
}

void JackDriver::getDriverName(char* name)
{
    if (name != nullptr)
        copyText(name, 32, settings_.keyName.empty() ? "Loopcheck JACK Bridge" : settings_.keyName.c_str());
}

void JackDriver::getErrorMessage(char* string)
{
    if (string != nullptr)
        copyText(string, 124, errorMessage_.c_str());
}

// --- device description ---

ASIOError JackDriver::getChannels(ASIOLong* numInputChannels, ASIOLong* numOutputChannels)
{
    if (!initialised_)
        return ASE_NotPresent;
    if (numInputChannels == nullptr || numOutputChannels == nullptr)
        return ASE_InvalidParameter;
    *numInputChannels = static_cast<ASIOLong>(inputPorts_.size());
    *numOutputChannels = static_cast<ASIOLong>(outputPorts_.size());
    return ASE_OK;
}

ASIOError JackDriver::getLatencies(ASIOLong* inputLatency, ASIOLong* outputLatency)
{
    if (!initialised_)
        return ASE_NotPresent;
    if (inputLatency == nullptr || outputLatency == nullptr)
        return ASE_InvalidParameter;
    if (serverGone_.load())
        return ASE_HWMalfunction;
    // The bridge adds no buffering of its own: the latencies are what the
    // server says of the ports at the far ends of the connections.
    auto farthest = [this](const std::vector<std::string>& names, jack_latency_callback_mode_t mode) {
        jack_nframes_t latency = 0;
        for (const std::string& name : names) {
            jack_port_t* port = name.empty() ? nullptr : jack_port_by_name(client_, name.c_str());
            if (port == nullptr)
                continue;
            jack_latency_range_t range{0, 0};
            jack_port_get_latency_range(port, mode, &range);
            if (range.max > latency)
                latency = range.max;
        }
        return static_cast<ASIOLong>(latency);
    };
    *inputLatency = farthest(inputSources_, JackCaptureLatency);
    *outputLatency = farthest(outputTargets_, JackPlaybackLatency);
    return ASE_OK;
}

ASIOError JackDriver::getBufferSize(ASIOLong* minSize, ASIOLong* maxSize, ASIOLong* preferredSize,
                                    ASIOLong* granularity)
{
    if (!initialised_)
        return ASE_NotPresent;
    if (minSize == nullptr || maxSize == nullptr || preferredSize == nullptr || granularity == nullptr)
        return ASE_InvalidParameter;
    // The server's period is the only size there is.
    const int32_t period = period_.load();
    *minSize = period;
    *maxSize = period;
    *preferredSize = period;
    *granularity = 0;
    return ASE_OK;
}

ASIOError JackDriver::getChannelInfo(ASIOChannelInfo* info)
{
    if (!initialised_)
        return ASE_NotPresent;
    if (info == nullptr)
        return ASE_InvalidParameter;
    const bool isInput = info->isInput != ASIOFalse;
    const std::vector<std::string>& far = isInput ? inputSources_ : outputTargets_;
    if (info->channel < 0 || info->channel >= static_cast<ASIOLong>(far.size()))
        return ASE_InvalidParameter;
    const size_t k = static_cast<size_t>(info->channel);
    info->isActive = buffers_.hasBuffer(isInput, info->channel) ? ASIOTrue : ASIOFalse;
    info->channelGroup = 0;
    info->type = settings_.sampleType;
    // Named after what it is wired to, which is what the operator cabled.
    if (!far[k].empty())
        copyText(info->name, sizeof info->name, far[k].c_str());
    else
        std::snprintf(info->name, sizeof info->name, "%s_%zu", isInput ? "in" : "out", k + 1);
    return ASE_OK;
}

// --- clock ---

ASIOError JackDriver::canSampleRate(ASIOSampleRate sampleRate)
{
    if (!initialised_)
        return ASE_NotPresent;
    return sameRate(sampleRate, sampleRate_.load()) ? ASE_OK : ASE_NoClock;
}

ASIOError JackDriver::getSampleRate(ASIOSampleRate* sampleRate)
{
    if (!initialised_)
        return ASE_NotPresent;
    if (sampleRate == nullptr)
        return ASE_InvalidParameter;
    *sampleRate = sampleRate_.load();
    return ASE_OK;
}

ASIOError JackDriver::setSampleRate(ASIOSampleRate sampleRate)
{
    if (!initialised_)
        return ASE_NotPresent;
    // The server owns the clock; a client cannot change it.
    return sameRate(sampleRate, sampleRate_.load()) ? ASE_OK : ASE_NoClock;
}

ASIOError JackDriver::getClockSources(ASIOClockSource* clocks, ASIOLong* numSources)
{
    if (!initialised_)
        return ASE_NotPresent;
    return listSingleClock(clocks, numSources, "JACK server");
}

ASIOError JackDriver::setClockSource(ASIOLong reference)
{
    if (!initialised_)
        return ASE_NotPresent;
    return selectSingleClock(reference);
}

ASIOError JackDriver::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp)
{
    // Called from inside the buffer switch too: atomics only.
    if (!initialised_)
        return ASE_NotPresent;
    return readSamplePosition(streaming_, samplePosition_, systemTimeNs_, sPos, tStamp);
}

// --- buffers and streaming ---

ASIOError JackDriver::createBuffers(ASIOBufferInfo* bufferInfos, ASIOLong numChannels, ASIOLong bufferSize,
                                    ASIOCallbacks* callbacks)
{
    if (!initialised_)
        return ASE_NotPresent;
    if (buffers_.created())
        return ASE_InvalidMode;
    if (serverGone_.load())
        return ASE_HWMalfunction;
    if (callbacks == nullptr || (callbacks->bufferSwitch == nullptr && callbacks->bufferSwitchTimeInfo == nullptr))
        return ASE_InvalidParameter;
    if (bufferSize != period_.load())
        return ASE_InvalidMode;
    const ASIOError created =
        buffers_.create(settings_.sampleType, static_cast<int32_t>(outputPorts_.size()),
                        static_cast<int32_t>(inputPorts_.size()), bufferInfos, numChannels, bufferSize);
    if (created != ASE_OK)
        return created;

    callbacks_ = *callbacks;
    const bool hostTakesTimeInfo = negotiateWithHost(callbacks_);
    useTimeInfo_ = (hostTakesTimeInfo && callbacks_.bufferSwitchTimeInfo != nullptr) ||
                   callbacks_.bufferSwitch == nullptr;
    eventGate_.open();
    if (jack_activate(client_) != 0) {
        eventGate_.close();
        buffers_.release();
        callbacks_ = ASIOCallbacks{};
        return ASE_HWMalfunction;
    }
    active_ = true;
    connectPorts();
    waitUntilConnected();
    return ASE_OK;
}

ASIOError JackDriver::disposeBuffers()
{
    if (!initialised_)
        return ASE_NotPresent;
    const bool hadBuffers = buffers_.created();
    streamGate_.close();
    streaming_.store(false);
    eventGate_.close();
    // Deactivation also takes the ports' connections away.
    deactivate();
    buffers_.release();
    callbacks_ = ASIOCallbacks{};
    reportServerEvents();
    return hadBuffers ? ASE_OK : ASE_InvalidMode;
}

ASIOError JackDriver::start()
{
    if (!initialised_)
        return ASE_NotPresent;
    if (!buffers_.created())
        return ASE_InvalidMode;
    if (serverGone_.load())
        return ASE_HWMalfunction;
    if (streamGate_.isOpen())
        return ASE_OK;
    buffers_.clear();
    halfIndex_ = 0;
    firstPeriod_ = true;
    position_ = 0;
    samplePosition_.store(0);
    systemTimeNs_.store(microsToNanos(jack_get_time()));
    streaming_.store(true);
    streamGate_.open();
    return ASE_OK;
}

ASIOError JackDriver::stop()
{
    if (!initialised_)
        return ASE_NotPresent;
    // The client stays active (its ports keep their connections for the
    // next start); only the host's part of the period ends here, and that
    // needs nothing of the server.
    streamGate_.close();
    streaming_.store(false);
    return ASE_OK;
}

// --- JACK's threads ---

int JackDriver::onProcess(jack_nframes_t frames, void* self)
{
    static_cast<JackDriver*>(self)->process(frames);
    return 0;
}

void JackDriver::silenceOutputs(jack_nframes_t frames)
{
    for (jack_port_t* port : outputPorts_)
        std::memset(jack_port_get_buffer(port, frames), 0, frames * sizeof(float));
}

// Real-time: never allocates, locks, waits or does I/O; everything it
// touches was made before the stream gate opened.
void JackDriver::process(jack_nframes_t frames)
{
    periodsRun_.fetch_add(1, std::memory_order_relaxed);
    GatePass pass(streamGate_);
    // A period of another size than the host's buffers is the server's
    // buffer size changing under the stream: the host has been told, and
    // until it sets up again the outputs are silent.
    if (!pass || static_cast<int32_t>(frames) != buffers_.frames()) {
        silenceOutputs(frames);
        return;
    }
    for (size_t k = 0; k < inputPorts_.size(); ++k)
        inputBuffers_[k] = static_cast<const float*>(jack_port_get_buffer(inputPorts_[k], frames));
    for (size_t k = 0; k < outputPorts_.size(); ++k)
        outputBuffers_[k] = static_cast<float*>(jack_port_get_buffer(outputPorts_[k], frames));

    const jack_nframes_t frameTime = jack_last_frame_time(client_);
    if (!firstPeriod_) {
        const jack_nframes_t advanced = frameTime - lastFrameTime_;
        position_ += advanced;
        // The server's clock went on for periods it did not run us in.
        if (advanced > frames)
            skippedFrames_.fetch_add(advanced - frames, std::memory_order_relaxed);
    }
    firstPeriod_ = false;
    lastFrameTime_ = frameTime;
    const int64_t now = microsToNanos(jack_get_time());
    samplePosition_.store(position_);
    systemTimeNs_.store(now);

    buffers_.readInputs(inputBuffers_.data(), halfIndex_);
    if (useTimeInfo_) {
        fillTimeInfo(time_, position_, now, sampleRate_.load(), false);
        callbacks_.bufferSwitchTimeInfo(&time_, halfIndex_, ASIOTrue);
    } else {
        callbacks_.bufferSwitch(halfIndex_, ASIOTrue);
    }
    buffers_.writeOutputs(outputBuffers_.data(), halfIndex_);
    halfIndex_ ^= 1;
}

void JackDriver::tellHost(ASIOLong selector)
{
    GatePass pass(eventGate_);
    if (pass && callbacks_.asioMessage != nullptr)
        callbacks_.asioMessage(selector, 0, nullptr, nullptr);
}

int JackDriver::onBufferSize(jack_nframes_t frames, void* self)
{
    JackDriver& driver = *static_cast<JackDriver*>(self);
    // Activation announces the size the client already knows.
    const int32_t before = driver.period_.exchange(static_cast<int32_t>(frames));
    if (before == static_cast<int32_t>(frames))
        return 0;
    {
        GatePass pass(driver.eventGate_);
        if (pass) {
            if (driver.periodChanges_.fetch_add(1) == 0)
                driver.periodChangedFrom_.store(before);
            driver.periodChangedTo_.store(static_cast<int32_t>(frames));
        }
    }
    driver.tellHost(kAsioResetRequest);
    return 0;
}

int JackDriver::onSampleRate(jack_nframes_t rate, void* self)
{
    JackDriver& driver = *static_cast<JackDriver*>(self);
    const double now = static_cast<double>(rate);
    if (sameRate(driver.sampleRate_.exchange(now), now))
        return 0;
    GatePass pass(driver.eventGate_);
    if (pass && driver.callbacks_.sampleRateDidChange != nullptr)
        driver.callbacks_.sampleRateDidChange(now);
    return 0;
}

int JackDriver::onXrun(void* self)
{
    JackDriver& driver = *static_cast<JackDriver*>(self);
    driver.xruns_.fetch_add(1);
    driver.tellHost(kAsioResyncRequest);
    return 0;
}

void JackDriver::onFreewheel(int starting, void* self)
{
    JackDriver& driver = *static_cast<JackDriver*>(self);
    GatePass pass(driver.eventGate_);
    if (!pass)
        return;
    // While freewheeling the server runs as fast as it can, so the host's
    // stream is no longer in time with anything.
    (starting != 0 ? driver.freewheelStarts_ : driver.freewheelStops_).fetch_add(1);
    driver.tellHost(kAsioResyncRequest);
}

void JackDriver::reportServerEvents()
{
    const int64_t xruns = xruns_.exchange(0);
    if (xruns > 0)
        std::fprintf(stderr, "warning: the JACK server reported %lld xrun(s) while streaming\n",
                     static_cast<long long>(xruns));
    const int64_t skipped = skippedFrames_.exchange(0);
    if (skipped > 0)
        std::fprintf(stderr, "warning: the JACK server skipped the bridge for %lld frames while streaming\n",
                     static_cast<long long>(skipped));
    const int32_t starts = freewheelStarts_.exchange(0);
    if (starts > 0)
        std::fprintf(stderr, "warning: the JACK server started freewheeling while streaming (%d time(s))\n", starts);
    const int32_t stops = freewheelStops_.exchange(0);
    if (stops > 0)
        std::fprintf(stderr, "warning: the JACK server stopped freewheeling while streaming (%d time(s))\n", stops);
    const int32_t changes = periodChanges_.exchange(0);
    if (changes == 1)
        std::fprintf(stderr, "warning: the JACK server changed its buffer size from %d to %d while streaming\n",
                     periodChangedFrom_.load(), periodChangedTo_.load());
    else if (changes > 1)
        std::fprintf(stderr,
                     "warning: the JACK server changed its buffer size %d times while streaming, from %d at first "
                     "to %d at last\n",
                     changes, periodChangedFrom_.load(), periodChangedTo_.load());
    if (shutdownKept_.exchange(false))
        std::fprintf(stderr, "warning: the JACK server shut down: %s\n",
                     shutdownReason_[0] != '\0' ? shutdownReason_ : "no reason given");
}

void JackDriver::onPlainShutdown(void* self) { onShutdown(jack_status_t(0), nullptr, self); }

void JackDriver::onShutdown(jack_status_t, const char* reason, void* self)
{
    JackDriver& driver = *static_cast<JackDriver*>(self);
    // As in a signal handler: only a plain copy, printed later by the host's thread.
    if (!driver.shutdownKept_.load()) {
        size_t n = 0;
        for (; reason != nullptr && reason[n] != '\0' && n + 1 < sizeof driver.shutdownReason_; ++n)
            driver.shutdownReason_[n] = reason[n];
        driver.shutdownReason_[n] = '\0';
        driver.shutdownKept_.store(true);
    }
    // No process callback follows; the host learns that it has to start
    // over, once, whichever of the two notices came.
    const bool wasGone = driver.serverGone_.exchange(true);
    driver.streaming_.store(false);
    if (!wasGone)
        driver.tellHost(kAsioResetRequest);
}
