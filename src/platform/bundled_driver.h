// The virtual loopback driver that ships with the harness.
#pragma once

// Display name it is announced under, and its class identifier.
#define LOOPCHECK_BUNDLED_DRIVER_NAME "Loopcheck Virtual Loopback"
#define LOOPCHECK_BUNDLED_DRIVER_CLSID "{8A1F3C52-6E0B-4D97-9C41-2B7E5D0A13F6}"

// File name of the driver library, looked for next to the executable.
#ifdef _WIN32
#define LOOPCHECK_BUNDLED_DRIVER_FILE "loopcheck_loopback.dll"
#else
#define LOOPCHECK_BUNDLED_DRIVER_FILE "libloopcheck_loopback.so"
#endif
