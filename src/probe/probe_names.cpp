#include "probe/probe_report.h"

const char* errorCodeName(int32_t code)
{
    switch (code) {
    case ASE_OK: return "ASE_OK";
    case ASE_SUCCESS: return "ASE_SUCCESS";
    case ASE_NotPresent: return "ASE_NotPresent";
    case ASE_HWMalfunction: return "ASE_HWMalfunction";
    case ASE_InvalidParameter: return "ASE_InvalidParameter";
    case ASE_InvalidMode: return "ASE_InvalidMode";
    case ASE_SPNotAdvancing: return "ASE_SPNotAdvancing";
    case ASE_NoClock: return "ASE_NoClock";
    case ASE_NoMemory: return "ASE_NoMemory";
    default: return "unknown";
    }
}

const char* sampleTypeName(int32_t type)
{
    switch (type) {
    case ASIOSTInt16MSB: return "ASIOSTInt16MSB";
    case ASIOSTInt24MSB: return "ASIOSTInt24MSB";
    case ASIOSTInt32MSB: return "ASIOSTInt32MSB";
    case ASIOSTFloat32MSB: return "ASIOSTFloat32MSB";
    case ASIOSTFloat64MSB: return "ASIOSTFloat64MSB";
    case ASIOSTInt32MSB16: return "ASIOSTInt32MSB16";
    case ASIOSTInt32MSB18: return "ASIOSTInt32MSB18";
    case ASIOSTInt32MSB20: return "ASIOSTInt32MSB20";
    case ASIOSTInt32MSB24: return "ASIOSTInt32MSB24";
    case ASIOSTInt16LSB: return "ASIOSTInt16LSB";
    case ASIOSTInt24LSB: return "ASIOSTInt24LSB";
    case ASIOSTInt32LSB: return "ASIOSTInt32LSB";
    case ASIOSTFloat32LSB: return "ASIOSTFloat32LSB";
    case ASIOSTFloat64LSB: return "ASIOSTFloat64LSB";
    case ASIOSTInt32LSB16: return "ASIOSTInt32LSB16";
    case ASIOSTInt32LSB18: return "ASIOSTInt32LSB18";
    case ASIOSTInt32LSB20: return "ASIOSTInt32LSB20";
    case ASIOSTInt32LSB24: return "ASIOSTInt32LSB24";
    default: return "unknown";
    }
}

const char* messageSelectorName(int32_t selector)
{
    switch (selector) {
    case kAsioSelectorSupported: return "kAsioSelectorSupported";
    case kAsioEngineVersion: return "kAsioEngineVersion";
    case kAsioResetRequest: return "kAsioResetRequest";
    case kAsioBufferSizeChange: return "kAsioBufferSizeChange";
    case kAsioResyncRequest: return "kAsioResyncRequest";
    case kAsioLatenciesChanged: return "kAsioLatenciesChanged";
    case kAsioSupportsTimeInfo: return "kAsioSupportsTimeInfo";
    case kAsioSupportsTimeCode: return "kAsioSupportsTimeCode";
    case kAsioMMCCommand: return "kAsioMMCCommand";
    case kAsioSupportsInputMonitor: return "kAsioSupportsInputMonitor";
    case kAsioSupportsInputGain: return "kAsioSupportsInputGain";
    case kAsioSupportsInputMeter: return "kAsioSupportsInputMeter";
    case kAsioSupportsOutputGain: return "kAsioSupportsOutputGain";
    case kAsioSupportsOutputMeter: return "kAsioSupportsOutputMeter";
    case kAsioOverload: return "kAsioOverload";
    default: return "unknown";
    }
}

const char* latencyNote(const ProbeReport& report)
{
    if (!report.latenciesKnown || report.inputLatency != 0 || report.outputLatency != 0)
        return nullptr;
    return "both latencies are 0: the driver reports none (PipeWire's JACK service does so for ports that "
           "carry no latency); only a measured round trip tells the real one";
}
