// The bridge as a host sees it through the driver interface alone: the
// library loaded as the harness loads it, its settings from a registry
// file written before the first object is made (the registry is read once
// per process), each test with a private server named in that file.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/asio_interface.h"
#include "jack_server.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string processTag = std::to_string(getpid());
std::string serverFor(const char* config) { return "lc-drv-" + std::string(config) + "-" + processTag; }

struct Config {
    const char* name;
    const char* clsid;
    const char* values;
};

// Named after what each test needs; every one on its own server.
const Config configs[] = {
    {"wired", "{3C6A2E91-5B04-4F7D-A8E2-91D04B7C6A21}",
     "\"Outputs\"=dword:00000003\n\"ConnectOutputs\"=\"loopback:playback_1, loopback:playback_2\"\n"
     "\"ConnectInputs\"=\"loopback:capture_1,loopback:capture_2\"\n\"SampleType\"=dword:00000013\n"},
    {"stream", "{3C6A2E91-5B04-4F7D-A8E2-91D04B7C6A22}",
     "\"ConnectOutputs\"=\"loopback:playback_1,loopback:playback_2\"\n"
     "\"ConnectInputs\"=\"loopback:capture_1,loopback:capture_2\"\n"},
    {"gone", "{3C6A2E91-5B04-4F7D-A8E2-91D04B7C6A23}", "\"ConnectOutputs\"=\"\"\n\"ConnectInputs\"=\"\"\n"},
    {"xrun", "{3C6A2E91-5B04-4F7D-A8E2-91D04B7C6A24}", "\"ConnectOutputs\"=\"\"\n\"ConnectInputs\"=\"\"\n"},
};

void writeRegistryOnce()
{
    static const bool written = [] {
        const std::string path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                                 "/loopcheck-jack-driver-" + processTag + ".reg";
        std::ofstream out(path);
        out << "Windows Registry Editor Version 5.00\n\n";
        for (const Config& c : configs) {
            out << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\Bridge " << c.name << "]\n\"CLSID\"=\"" << c.clsid
                << "\"\n\"Server\"=\"" << serverFor(c.name) << "\"\n" << c.values << "\n";
            out << "[HKEY_CLASSES_ROOT\\CLSID\\" << c.clsid << "\\InprocServer32]\n@=\"" JACK_BRIDGE_LIBRARY "\"\n\n";
        }
        out.close();
        setenv("LOOPCHECK_REGISTRY", path.c_str(), 1);
        return true;
    }();
    (void)written;
}

GUID parseClsid(const char* text)
{
    GUID g{};
    unsigned d[11];
    std::sscanf(text, "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d[0], &d[1], &d[2], &d[3], &d[4], &d[5], &d[6],
                &d[7], &d[8], &d[9], &d[10]);
    g.Data1 = d[0];
    g.Data2 = static_cast<unsigned short>(d[1]);
    g.Data3 = static_cast<unsigned short>(d[2]);
    for (int i = 0; i < 8; ++i)
        g.Data4[i] = static_cast<unsigned char>(d[3 + i]);
    return g;
}

// A driver object of the named configuration, made through the library's
// class factory; null (with the test failed) when that fails.
IASIO* makeDriver(const char* config)
{
    writeRegistryOnce();
    static void* library = dlopen(JACK_BRIDGE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(library, nullptr) << dlerror();
    if (library == nullptr)
        return nullptr;
    using GetClassObject = HRESULT (*)(REFCLSID, REFIID, void**);
    const auto get = reinterpret_cast<GetClassObject>(dlsym(library, "DllGetClassObject"));
    const Config* found = nullptr;
    for (const Config& c : configs)
        if (std::string(c.name) == config)
            found = &c;
    if (get == nullptr || found == nullptr)
        return nullptr;
    const GUID clsid = parseClsid(found->clsid);
    IClassFactory* factory = nullptr;
    if (get(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)) != S_OK || factory == nullptr)
        return nullptr;
    IASIO* driver = nullptr;
    factory->CreateInstance(nullptr, clsid, reinterpret_cast<void**>(&driver));
    factory->Release();
    EXPECT_NE(driver, nullptr);
    return driver;
}

// --- a minimal host: plain callbacks writing into one record ---

struct HostRecord {
    std::atomic<int> switches{0};
    std::atomic<int> resets{0};
    std::atomic<int> resyncs{0};
    int stallAt = -1;  // the switch that takes far longer than a period
    std::mutex lock;
    std::vector<int64_t> positions;  // from the time records
    std::vector<ASIOLong> halves;
};
HostRecord* host = nullptr;

int64_t join(uint32_t hi, uint32_t lo) { return static_cast<int64_t>((uint64_t(hi) << 32) | lo); }

ASIOTime* onSwitchTimeInfo(ASIOTime* time, ASIOLong half, ASIOBool)
{
    {
        std::lock_guard<std::mutex> guard(host->lock);
        host->positions.push_back(time == nullptr ? -1
                                                  : join(time->timeInfo.samplePosition.hi,
                                                         time->timeInfo.samplePosition.lo));
        host->halves.push_back(half);
    }
    if (host->switches.fetch_add(1) == host->stallAt)
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
    return time;
}
void onSwitch(ASIOLong half, ASIOBool) { onSwitchTimeInfo(nullptr, half, ASIOTrue); }
void onRate(ASIOSampleRate) {}
ASIOLong onMessage(ASIOLong selector, ASIOLong value, void*, double*)
{
    if (selector == kAsioSelectorSupported)
        return value == kAsioSupportsTimeInfo || value == kAsioResetRequest ? 1 : 0;
    if (selector == kAsioSupportsTimeInfo)
        return 1;
    if (selector == kAsioResetRequest)
        host->resets.fetch_add(1);
    if (selector == kAsioResyncRequest)
        host->resyncs.fetch_add(1);
    return 0;
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto until = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class BridgeDriver : public ::testing::Test {
protected:
    void SetUp() override { host = &record_; }
    // The driver goes before its server: a client the server outlives
    // leaves nothing behind.
    void TearDown() override
    {
        if (driver_ != nullptr)
            driver_->Release();
        server_.reset();
        host = nullptr;
    }

    // The configuration's private server, running; null when it would not start.
    JackServer* startServer(const char* config)
    {
        server_ = std::make_unique<JackServer>(ExactServerName{serverFor(config)});
        EXPECT_TRUE(server_->ok()) << server_->log();
        return server_->ok() ? server_.get() : nullptr;
    }

    // Buffers for every channel; false when creation failed.
    bool createAll(int32_t frames)
    {
        ASIOLong inputs = 0, outputs = 0;
        if (driver_->getChannels(&inputs, &outputs) != ASE_OK)
            return false;
        for (ASIOLong k = 0; k < outputs; ++k)
            infos_.push_back(ASIOBufferInfo{ASIOFalse, k, {}});
        for (ASIOLong k = 0; k < inputs; ++k)
            infos_.push_back(ASIOBufferInfo{ASIOTrue, k, {}});
        callbacks_ = ASIOCallbacks{onSwitch, onRate, onMessage, onSwitchTimeInfo};
        return driver_->createBuffers(infos_.data(), ASIOLong(infos_.size()), frames, &callbacks_) == ASE_OK;
    }

    HostRecord record_;
    std::unique_ptr<JackServer> server_;
    IASIO* driver_ = nullptr;
    std::vector<ASIOBufferInfo> infos_;
    ASIOCallbacks callbacks_{};
};

TEST_F(BridgeDriver, DescribesTheServerAndNamesChannelsAfterTheirPorts)
{
    JackServer* server = startServer("wired");
    ASSERT_NE(server, nullptr);
    driver_ = makeDriver("wired");
    ASSERT_NE(driver_, nullptr);
    ASSERT_EQ(driver_->init(nullptr), ASIOTrue);

    char name[32];
    driver_->getDriverName(name);
    EXPECT_STREQ(name, "Bridge wired");
    ASIOLong inputs = 0, outputs = 0;
    ASSERT_EQ(driver_->getChannels(&inputs, &outputs), ASE_OK);
    EXPECT_EQ(inputs, 2);
    EXPECT_EQ(outputs, 3);

    ASIOLong minSize, maxSize, preferred, granularity;
    ASSERT_EQ(driver_->getBufferSize(&minSize, &maxSize, &preferred, &granularity), ASE_OK);
    EXPECT_EQ(std::vector<ASIOLong>({minSize, maxSize, preferred, granularity}),
              std::vector<ASIOLong>({256, 256, 256, 0}));
    EXPECT_EQ(driver_->canSampleRate(48000.0), ASE_OK);
    EXPECT_EQ(driver_->canSampleRate(44100.0), ASE_NoClock);
    EXPECT_EQ(driver_->setSampleRate(96000.0), ASE_NoClock);
    EXPECT_EQ(driver_->setSampleRate(48000.0), ASE_OK);

    struct Expected {
        bool isInput;
        ASIOLong channel;
        const char* name;
    };
    const Expected channels[] = {{false, 0, "loopback:playback_1"},
                                 {false, 1, "loopback:playback_2"},  // blanks around a name are dropped
                                 {false, 2, "out_3"},                // no name left: not connected
                                 {true, 0, "loopback:capture_1"},
                                 {true, 1, "loopback:capture_2"}};
    for (const Expected& e : channels) {
        ASIOChannelInfo info{};
        info.channel = e.channel;
        info.isInput = e.isInput ? ASIOTrue : ASIOFalse;
        ASSERT_EQ(driver_->getChannelInfo(&info), ASE_OK);
        EXPECT_STREQ(info.name, e.name);
        EXPECT_EQ(info.type, ASIOSTFloat32LSB);
    }
    ASIOChannelInfo beyond{};
    beyond.channel = 3;
    EXPECT_EQ(driver_->getChannelInfo(&beyond), ASE_InvalidParameter);

    ASIOLong inputLatency = -1, outputLatency = -1;
    ASSERT_EQ(driver_->getLatencies(&inputLatency, &outputLatency), ASE_OK);
    EXPECT_EQ(inputLatency, 256);
    EXPECT_EQ(outputLatency, 512);
}

// Time-info switches in alternating halves, each at the position of JACK's
// frame time; none after stop; another size than the server's is refused.
TEST_F(BridgeDriver, StreamsHalvesAtJacksFrameTimeAndStopsDead)
{
    JackServer* server = startServer("stream");
    ASSERT_NE(server, nullptr);
    driver_ = makeDriver("stream");
    ASSERT_NE(driver_, nullptr);
    ASSERT_EQ(driver_->init(nullptr), ASIOTrue);
    ASIOBufferInfo one{ASIOFalse, 0, {}};
    ASIOCallbacks callbacks{onSwitch, onRate, onMessage, onSwitchTimeInfo};
    EXPECT_EQ(driver_->createBuffers(&one, 1, 128, &callbacks), ASE_InvalidMode);
    ASSERT_TRUE(createAll(256));

    ASIOSamples position;
    ASIOTimeStamp stamp;
    EXPECT_EQ(driver_->getSamplePosition(&position, &stamp), ASE_SPNotAdvancing);
    ASSERT_EQ(driver_->start(), ASE_OK);
    ASSERT_TRUE(waitUntil([] { return host->switches.load() >= 20; }, std::chrono::seconds(10)));
    EXPECT_EQ(driver_->getSamplePosition(&position, &stamp), ASE_OK);
    ASSERT_EQ(driver_->stop(), ASE_OK);
    const int afterStop = host->switches.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(host->switches.load(), afterStop);

    std::lock_guard<std::mutex> guard(host->lock);
    ASSERT_GE(host->positions.size(), 20u);
    EXPECT_EQ(host->positions[0], 0);
    for (size_t i = 1; i < host->positions.size(); ++i) {
        // A late period (an xrun on a busy machine) skips frames, never goes back.
        EXPECT_GE(host->positions[i] - host->positions[i - 1], 256) << i;
        EXPECT_EQ(host->positions[i] % 256, 0) << i;
        EXPECT_NE(host->halves[i], host->halves[i - 1]) << i;
    }
    EXPECT_EQ(driver_->disposeBuffers(), ASE_OK);
}

// A host that overruns a period makes the server miss its deadline: the
// bridge asks the host to resynchronise and streams on, its positions
// skipping what JACK's frame time skipped.
TEST_F(BridgeDriver, AnXrunAsksForAResyncAndTheStreamGoesOn)
{
    JackServer* server = startServer("xrun");
    ASSERT_NE(server, nullptr);
    driver_ = makeDriver("xrun");
    ASSERT_NE(driver_, nullptr);
    ASSERT_EQ(driver_->init(nullptr), ASIOTrue);
    ASSERT_TRUE(createAll(256));
    record_.stallAt = 10;
    ASSERT_EQ(driver_->start(), ASE_OK);
    ASSERT_TRUE(waitUntil([] { return host->resyncs.load() >= 1 && host->switches.load() >= 30; },
                          std::chrono::seconds(10)))
        << host->resyncs.load() << " resyncs, " << host->switches.load() << " switches";
    ASSERT_EQ(driver_->stop(), ASE_OK);
    std::lock_guard<std::mutex> guard(host->lock);
    int64_t skipped = 0;
    for (size_t i = 1; i < host->positions.size(); ++i) {
        EXPECT_EQ(host->positions[i] % 256, 0) << i;
        skipped += host->positions[i] - host->positions[i - 1] - 256;
    }
    // 60 ms is more than 11 periods of 5.3 ms.
    EXPECT_GE(skipped, 256);
}

TEST_F(BridgeDriver, ServerGoneAsksForAResetAndNoSwitchFollows)
{
    JackServer* server = startServer("gone");
    ASSERT_NE(server, nullptr);
    driver_ = makeDriver("gone");
    ASSERT_NE(driver_, nullptr);
    ASSERT_EQ(driver_->init(nullptr), ASIOTrue);
    ASSERT_TRUE(createAll(256));
    ASSERT_EQ(driver_->start(), ASE_OK);
    ASSERT_TRUE(waitUntil([] { return host->switches.load() >= 5; }, std::chrono::seconds(10)));

    server->kill();
    ASSERT_TRUE(waitUntil([] { return host->resets.load() >= 1; }, std::chrono::seconds(10)));
    const int afterReset = host->switches.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(host->switches.load(), afterReset);
    EXPECT_EQ(host->resets.load(), 1);

    const auto began = Clock::now();
    EXPECT_EQ(driver_->stop(), ASE_OK);
    EXPECT_EQ(driver_->disposeBuffers(), ASE_OK);
    EXPECT_EQ(driver_->start(), ASE_InvalidMode);
    driver_->Release();
    driver_ = nullptr;
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - began).count(), 2.0);
}

}  // namespace
