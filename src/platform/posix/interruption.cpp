#include "platform/interruption.h"

#include <signal.h>

#include <atomic>

namespace {

// Written in a signal handler: must be lock-free to be safe there.
std::atomic<int> caught{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

// Runs in signal context: only async-signal-safe calls (no allocation, no
// locks, no stdio).
extern "C" void noteSignal(int number)
{
    if (caught.exchange(number) != 0) {
        // The operator asked twice: no more waiting for the clean-up.
        signal(number, SIG_DFL);
        raise(number);
    }
}

}  // namespace

void catchInterruptions()
{
    struct sigaction action {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    // Restarted calls keep a slow write or read from failing half-way; the
    // main thread looks at the flag at its own waiting points.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed terminal or SSH session: the driver still has to be stopped
    // and released, and a half-written dump removed.
    sigaction(SIGHUP, &action, nullptr);
    ignoreBrokenPipes();
}

// A reader of standard output that went away (`| head`) would end the
// process at its next line, with the driver still running during a test;
// ignored, that write fails and the failure is handled where it is made.
void ignoreBrokenPipes() { signal(SIGPIPE, SIG_IGN); }

int interruptionStatus()
{
    const int number = caught.load();
    return number == 0 ? 0 : 128 + number;
}

const char* interruptionName()
{
    switch (caught.load()) {
    case 0:
        return "";
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "a signal";
    }
}

void interruptionHandled() {}

void simulateInterruption(int status) { caught.store(status == 0 ? 0 : status - 128); }
