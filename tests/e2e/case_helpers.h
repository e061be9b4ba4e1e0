// Small pieces the reliability cases share: a configured virtual driver,
// registry value texts, and the console lines of one run.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "expected_output.h"
#include "harness_runner.h"

namespace cases {

using Settings = std::vector<std::pair<std::string, std::string>>;

inline VirtualDriverEntry virtualDriver(const std::string& name, Settings settings = {})
{
    return VirtualDriverEntry{name, "{5E1A0000-0000-4000-8000-0000000000B6}", "", std::move(settings), true};
}

// A dword value as the export format writes it; negative values as their
// two's complement.
inline std::string dword(int64_t value)
{
    char text[32];
    std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(static_cast<uint32_t>(value)));
    return text;
}

inline std::string quoted(const std::string& value) { return "\"" + value + "\""; }

// The three questions answered, the one driver listed, the rate table.
inline std::string head(const std::string& driverName)
{
    return expected::questionsUpToDrivers() + "0 " + driverName + "\n" + expected::rateList();
}

// The initialisation of a run: on the first run of the process with the
// control panel and the fresh start after it.
inline std::string initialisation(const std::string& driverName, bool firstRun)
{
    return firstRun ? expected::firstInitialisation(driverName) : expected::initialised(driverName);
}

// A run that streams: initialisation, setup, shutdown, then `after` (the
// float line, the staircase check).
inline std::string streamingRun(const std::string& driverName, bool firstRun, const expected::Setup& setup,
                                const std::string& during = "", const std::string& after = "",
                                const std::string& disposeCode = "0")
{
    return initialisation(driverName, firstRun) + "Initialised device\n" + expected::setupLines(setup) +
           "Setup playback\n" + during + expected::shutdown(disposeCode) + "Deinitialised device\n" + after;
}

}  // namespace cases
