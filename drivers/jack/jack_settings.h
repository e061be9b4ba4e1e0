// How one bridge driver is configured: which server it joins, under what
// name, how many ports it makes, where they connect and the sample format
// it offers the host. Read once when the driver object is created, then
// never changed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com_types.h"

struct JackSettings {
    // Name of the registry key the settings came from; empty when no key
    // names the driver's class and the defaults apply.
    std::string keyName;

    // Empty: the server a JACK client finds by default.
    std::string server;
    std::string clientName = "loopcheck";
    int32_t outputs = 2;
    int32_t inputs = 2;

    // Port names to connect to, in port order. Absent: the physical
    // ports; present and empty: nothing is connected.
    bool connectOutputsGiven = false;
    std::vector<std::string> connectOutputs;
    bool connectInputsGiven = false;
    std::vector<std::string> connectInputs;

    int32_t sampleType = 18;
};

// Upper bound on the ports of either direction: far more than any host
// streams, small enough that a mistyped count cannot exhaust the server.
constexpr int32_t maxJackPorts = 256;

// Finds the key under HKEY_LOCAL_MACHINE\SOFTWARE\ASIO whose "CLSID" value
// names clsid and reads its values over the defaults. Missing, mistyped or
// unreadable values keep their defaults; counts are held to 0..maxJackPorts.
JackSettings readJackSettings(REFCLSID clsid);

// Comma-separated port names, blanks around each name dropped; empty
// entries are skipped.
std::vector<std::string> splitPortList(const std::string& text);
