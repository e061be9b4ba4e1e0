// The audio driver interface as host and drivers share it: scalar types,
// records, codes, the callback record and the driver object's vtable.
// Every interface integer is 32-bit on every platform (Windows' long is,
// Linux's is not), so the types below spell the width out.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/com_types.h"

using ASIOLong = int32_t;
using ASIOBool = int32_t;
using ASIOError = int32_t;
using ASIOSampleRate = double;
using ASIOSampleType = int32_t;

constexpr ASIOBool ASIOFalse = 0;
constexpr ASIOBool ASIOTrue = 1;

// 64-bit values travel as two unsigned halves, high first.
struct ASIOSamples {
    uint32_t hi;
    uint32_t lo;
};
struct ASIOTimeStamp {
    uint32_t hi;
    uint32_t lo;
};

enum : ASIOError {
    ASE_OK = 0,
    ASE_SUCCESS = 0x3f4847a0,
    ASE_NotPresent = -1000,
    ASE_HWMalfunction = -999,
    ASE_InvalidParameter = -998,
    ASE_InvalidMode = -997,
    ASE_SPNotAdvancing = -996,
    ASE_NoClock = -995,
    ASE_NoMemory = -994,
};

enum : ASIOSampleType {
    ASIOSTInt16MSB = 0,
    ASIOSTInt24MSB = 1,
    ASIOSTInt32MSB = 2,
    ASIOSTFloat32MSB = 3,
    ASIOSTFloat64MSB = 4,
    ASIOSTInt32MSB16 = 8,
    ASIOSTInt32MSB18 = 9,
    ASIOSTInt32MSB20 = 10,
    ASIOSTInt32MSB24 = 11,
    ASIOSTInt16LSB = 16,
    ASIOSTInt24LSB = 17,
    ASIOSTInt32LSB = 18,
    ASIOSTFloat32LSB = 19,
    ASIOSTFloat64LSB = 20,
    ASIOSTInt32LSB16 = 24,
    ASIOSTInt32LSB18 = 25,
    ASIOSTInt32LSB20 = 26,
    ASIOSTInt32LSB24 = 27,
};

// Selectors of the driver-to-host message callback.
enum : ASIOLong {
    kAsioSelectorSupported = 1,
    kAsioEngineVersion = 2,
    kAsioResetRequest = 3,
    kAsioBufferSizeChange = 4,
    kAsioResyncRequest = 5,
    kAsioLatenciesChanged = 6,
    kAsioSupportsTimeInfo = 7,
    kAsioSupportsTimeCode = 8,
    kAsioMMCCommand = 9,
    kAsioSupportsInputMonitor = 10,
    kAsioSupportsInputGain = 11,
    kAsioSupportsInputMeter = 12,
    kAsioSupportsOutputGain = 13,
    kAsioSupportsOutputMeter = 14,
    kAsioOverload = 15,
};

struct ASIODriverInfo {
    ASIOLong asioVersion;
    ASIOLong driverVersion;
    char name[32];
    char errorMessage[124];
    void* sysRef;
};

struct ASIOChannelInfo {
    ASIOLong channel;
    ASIOBool isInput;
    ASIOBool isActive;
    ASIOLong channelGroup;
    ASIOSampleType type;
    char name[32];
};

struct ASIOBufferInfo {
    ASIOBool isInput;
    ASIOLong channelNum;
    void* buffers[2];
};

struct ASIOClockSource {
    ASIOLong index;
    ASIOLong associatedChannel;
    ASIOLong associatedGroup;
    ASIOBool isCurrentSource;
    char name[32];
};

// AsioTimeInfo flags the host reads.
constexpr uint32_t kSamplePositionValid = 1u << 1;

struct AsioTimeInfo {
    double speed;
    ASIOTimeStamp systemTime;
    ASIOSamples samplePosition;
    ASIOSampleRate sampleRate;
    uint32_t flags;
    char reserved[12];
};

struct ASIOTimeCode {
    double speed;
    ASIOSamples timeCodeSamples;
    uint32_t flags;
    char future[64];
};

struct ASIOTime {
    ASIOLong reserved[4];
    AsioTimeInfo timeInfo;
    ASIOTimeCode timeCode;
};

// Plain functions in the default (cdecl) convention; they carry no context
// pointer, so a host reaches its state through globals.
struct ASIOCallbacks {
    void (*bufferSwitch)(ASIOLong doubleBufferIndex, ASIOBool directProcess);
    void (*sampleRateDidChange)(ASIOSampleRate sRate);
    ASIOLong (*asioMessage)(ASIOLong selector, ASIOLong value, void* message, double* opt);
    ASIOTime* (*bufferSwitchTimeInfo)(ASIOTime* params, ASIOLong doubleBufferIndex, ASIOBool directProcess);
};

// The driver object. Slots 0-2 come from IUnknown (stdcall on 32-bit
// Windows); the methods below carry no calling-convention keyword, which
// gives member functions the compiler's default (thiscall on 32-bit
// Windows), exactly as drivers are built.
struct IASIO : public IUnknown {
    virtual ASIOBool init(void* sysHandle) = 0;                                        // 3
    virtual void getDriverName(char* name) = 0;                                        // 4
    virtual ASIOLong getDriverVersion() = 0;                                           // 5
    virtual void getErrorMessage(char* string) = 0;                                    // 6
    virtual ASIOError start() = 0;                                                     // 7
    virtual ASIOError stop() = 0;                                                      // 8
    virtual ASIOError getChannels(ASIOLong* numInputChannels, ASIOLong* numOutputChannels) = 0;  // 9
    virtual ASIOError getLatencies(ASIOLong* inputLatency, ASIOLong* outputLatency) = 0;        // 10
    virtual ASIOError getBufferSize(ASIOLong* minSize, ASIOLong* maxSize, ASIOLong* preferredSize,
                                    ASIOLong* granularity) = 0;                        // 11
    virtual ASIOError canSampleRate(ASIOSampleRate sampleRate) = 0;                   // 12
    virtual ASIOError getSampleRate(ASIOSampleRate* sampleRate) = 0;                  // 13
    virtual ASIOError setSampleRate(ASIOSampleRate sampleRate) = 0;                   // 14
    virtual ASIOError getClockSources(ASIOClockSource* clocks, ASIOLong* numSources) = 0;   // 15
    virtual ASIOError setClockSource(ASIOLong reference) = 0;                         // 16
    virtual ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) = 0;      // 17
    virtual ASIOError getChannelInfo(ASIOChannelInfo* info) = 0;                      // 18
    virtual ASIOError createBuffers(ASIOBufferInfo* bufferInfos, ASIOLong numChannels, ASIOLong bufferSize,
                                    ASIOCallbacks* callbacks) = 0;                     // 19
    virtual ASIOError disposeBuffers() = 0;                                            // 20
    virtual ASIOError controlPanel() = 0;                                              // 21
    virtual ASIOError future(ASIOLong selector, void* opt) = 0;                       // 22
    virtual ASIOError outputReady() = 0;                                               // 23

protected:
    ~IASIO() = default;
};

// Layouts both sides of the interface must agree on.
static_assert(sizeof(ASIOSamples) == 8 && sizeof(ASIOTimeStamp) == 8, "64-bit values are two halves");
static_assert(sizeof(ASIOChannelInfo) == 52, "ASIOChannelInfo layout");
static_assert(offsetof(ASIODriverInfo, sysRef) == (sizeof(void*) == 4 ? 164 : 168), "ASIODriverInfo layout");
static_assert(sizeof(ASIOBufferInfo) == 8 + 2 * sizeof(void*), "ASIOBufferInfo layout");
static_assert(sizeof(ASIOCallbacks) == 4 * sizeof(void*), "four function pointers");
static_assert(offsetof(ASIOTime, timeInfo) == 16 && offsetof(ASIOTime, timeCode) == 64, "ASIOTime layout");
