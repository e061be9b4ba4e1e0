#include "support/fake_driver.h"

#include <algorithm>
#include <cstring>

int FakeDriver::callCountOf(const std::string& name) const
{
    return static_cast<int>(std::count(calls.begin(), calls.end(), name));
}

HRESULT STDMETHODCALLTYPE FakeDriver::QueryInterface(REFIID, void** object)
{
    *object = this;
    ++refCount;
    return S_OK;
}
ULONG STDMETHODCALLTYPE FakeDriver::AddRef() { return static_cast<ULONG>(++refCount); }
ULONG STDMETHODCALLTYPE FakeDriver::Release()
{
    calls.push_back("Release");
    return static_cast<ULONG>(--refCount);
}

ASIOBool FakeDriver::init(void*)
{
    calls.push_back("init");
    return initResult;
}
void FakeDriver::getDriverName(char* name)
{
    calls.push_back("getDriverName");
    std::snprintf(name, 32, "%s", driverName.c_str());
}
ASIOLong FakeDriver::getDriverVersion()
{
    calls.push_back("getDriverVersion");
    return driverVersion;
}
void FakeDriver::getErrorMessage(char* string)
{
    calls.push_back("getErrorMessage");
    std::snprintf(string, 124, "%s", errorText.c_str());
}
ASIOError FakeDriver::start()
{
    calls.push_back("start");
    return startResult;
}
ASIOError FakeDriver::stop()
{
    calls.push_back("stop");
    return stopResult;
}
ASIOError FakeDriver::getChannels(ASIOLong* numInputChannels, ASIOLong* numOutputChannels)
{
    calls.push_back("getChannels");
    if (channelsResult != ASE_OK) return channelsResult;
    *numInputChannels = inputs;
    *numOutputChannels = outputs;
    return ASE_OK;
}
ASIOError FakeDriver::getLatencies(ASIOLong* in, ASIOLong* out)
{
    calls.push_back("getLatencies");
    if (latenciesResult != ASE_OK) return latenciesResult;
    *in = inputLatency;
    *out = outputLatency;
    return ASE_OK;
}
ASIOError FakeDriver::getBufferSize(ASIOLong* mn, ASIOLong* mx, ASIOLong* pref, ASIOLong* gran)
{
    calls.push_back("getBufferSize");
    if (bufferSizeResult != ASE_OK) return bufferSizeResult;
    *mn = minSize;
    *mx = maxSize;
    *pref = preferredSize;
    *gran = granularity;
    return ASE_OK;
}
ASIOError FakeDriver::canSampleRate(ASIOSampleRate)
{
    calls.push_back("canSampleRate");
    return ASE_OK;
}
ASIOError FakeDriver::getSampleRate(ASIOSampleRate* rate)
{
    calls.push_back("getSampleRate");
    if (getSampleRateResult == ASE_OK) *rate = currentRate;
    return getSampleRateResult;
}
ASIOError FakeDriver::setSampleRate(ASIOSampleRate rate)
{
    calls.push_back("setSampleRate");
    rateSet = rate;
    if (setSampleRateResult == ASE_OK) currentRate = rate;
    return setSampleRateResult;
}
ASIOError FakeDriver::getClockSources(ASIOClockSource*, ASIOLong*)
{
    calls.push_back("getClockSources");
    return ASE_NotPresent;
}
ASIOError FakeDriver::setClockSource(ASIOLong)
{
    calls.push_back("setClockSource");
    return ASE_NotPresent;
}
ASIOError FakeDriver::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp)
{
    // Called from the buffer switch: no logging into the vector, which a
    // test thread may read, only a counter.
    ++samplePositionCalls;
    sPos->hi = sPos->lo = 0;
    tStamp->hi = tStamp->lo = 0;
    return ASE_OK;
}
ASIOError FakeDriver::getChannelInfo(ASIOChannelInfo* info)
{
    calls.push_back("getChannelInfo");
    channelInfoAsked = *info;
    if (channelInfoResult != ASE_OK) return channelInfoResult;
    info->type = sampleType;
    return ASE_OK;
}
ASIOError FakeDriver::createBuffers(ASIOBufferInfo* infos, ASIOLong numChannels, ASIOLong bufferSize,
                                    ASIOCallbacks* cbs)
{
    calls.push_back("createBuffers");
    createdChannels = numChannels;
    createdBufferSize = bufferSize;
    createdInfos.assign(infos, infos + std::max<ASIOLong>(numChannels, 0));
    callbacks = *cbs;
    if (createBuffersResult != ASE_OK) return createBuffersResult;
    storage.assign(static_cast<size_t>(std::max<ASIOLong>(numChannels, 0)), {});
    const size_t bytes = static_cast<size_t>(std::max<ASIOLong>(bufferSize, 0)) * sampleWidth();
    for (size_t k = 0; k < storage.size(); ++k) {
        storage[k].assign(2, std::vector<uint8_t>(bytes, 0xA5));
        infos[k].buffers[0] = storage[k][0].data();
        infos[k].buffers[1] = storage[k][1].data();
    }
    if (duringCreateBuffers) duringCreateBuffers(callbacks);
    return ASE_OK;
}
ASIOError FakeDriver::disposeBuffers()
{
    calls.push_back("disposeBuffers");
    return disposeResult;
}
ASIOError FakeDriver::controlPanel()
{
    calls.push_back("controlPanel");
    return controlPanelResult;
}
ASIOError FakeDriver::future(ASIOLong, void*)
{
    calls.push_back("future");
    return ASE_InvalidParameter;
}
ASIOError FakeDriver::outputReady()
{
    calls.push_back("outputReady");
    return ASE_NotPresent;
}
