// The registry, COM and string calls the driver registry is written
// against: Windows' own on Windows, our stand-in elsewhere, with the same
// names, signatures, return codes and buffer semantics.
#pragma once

#include "platform/com_types.h"

#ifndef _WIN32
#include "platform/posix/win32_shim.h"
#endif
