// Runs a call that waits on the JACK server with a limit on the waiting: a
// server that is stopped or stuck must not hold the host's thread.
#pragma once

#include <chrono>
#include <functional>

// Runs work on a thread of its own and waits for it at most `limit`. True
// when it ended in time. Otherwise the thread is left to end whenever the
// server lets it, keeping the library loaded meanwhile, so work must own
// everything it uses (never the driver object, which may be gone by then).
bool callWithin(std::chrono::milliseconds limit, std::function<void()> work);
