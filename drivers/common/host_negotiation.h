// What a driver asks its host while creating buffers: whether it speaks
// the engine-version and time-info messages, and then those messages.
#pragma once

#include "driver/asio_interface.h"

// Sends the questions and messages through callbacks.asioMessage (if any).
// True when the host answered 1 to the time-info message, i.e. it wants
// bufferSwitchTimeInfo.
bool negotiateWithHost(const ASIOCallbacks& callbacks);
