// Classes the test server knows, shared by the server and the tests. The
// fixture registry files spell the same identifiers as text.
#pragma once

#include "platform/com_types.h"

// {A1A1A1A1-0000-4000-8000-00000000000A}: made by the test server.
inline constexpr CLSID testClassA = {0xA1A1A1A1, 0x0000, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x0A}};
// {C3C3C3C3-0000-4000-8000-00000000000C}: made by the test server.
inline constexpr CLSID testClassC = {0xC3C3C3C3, 0x0000, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x0C}};
// {B2B2B2B2-0000-4000-8000-00000000000B}: registered with the test server,
// which refuses to make it.
inline constexpr CLSID testClassRefused = {0xB2B2B2B2, 0x0000, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x0B}};

// {E8E8E8E8-0000-4000-8000-00000000000E}: registered with the test server,
// whose factory aborts the process when asked to make it.
inline constexpr CLSID testClassCrashes = {0xE8E8E8E8, 0x0000, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x0E}};

// Exported by the test server: drivers it made that are not yet released.
typedef int (*LiveObjectsFunction)();
