#include "platform/interruption.h"

#include <windows.h>

#include <atomic>

namespace {

// The console's control event plus one, 0 for none.
std::atomic<DWORD> caught{0};
std::atomic<bool> handled{false};

// How long a close handler holds the process open for the clean-up; the
// system gives it about five seconds before it ends the process anyway.
constexpr int closeWaitMs = 4500;

// Runs on a thread the system starts for it. No allocation, no locks, no
// output: it only notes the event, and for a close it waits.
BOOL WINAPI noteControlEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        if (caught.exchange(event + 1) != 0)
            return FALSE;  // asked twice: the default handler ends the process
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        caught.exchange(event + 1);
        for (int waited = 0; waited < closeWaitMs && !handled.load(); waited += 10)
            Sleep(10);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

void catchInterruptions() { SetConsoleCtrlHandler(noteControlEvent, TRUE); }

// Windows has no signal for a closed pipe: the write fails.
void ignoreBrokenPipes() {}

int interruptionStatus()
{
    const DWORD event = caught.load();
    if (event == 0)
        return 0;
    switch (event - 1) {
    case CTRL_C_EVENT:
        return 130;
    case CTRL_CLOSE_EVENT:
        return 129;  // as a closed terminal is elsewhere (SIGHUP)
    default:
        return 143;
    }
}

const char* interruptionName()
{
    const DWORD event = caught.load();
    if (event == 0)
        return "";
    switch (event - 1) {
    case CTRL_C_EVENT:
        return "Ctrl-C";
    case CTRL_BREAK_EVENT:
        return "Ctrl-Break";
    case CTRL_CLOSE_EVENT:
        return "closing the console";
    default:
        return "the end of the session";
    }
}

void interruptionHandled() { handled.store(true); }

void simulateInterruption(int status)
{
    DWORD event = CTRL_BREAK_EVENT;
    if (status == 130)
        event = CTRL_C_EVENT;
    else if (status == 129)
        event = CTRL_CLOSE_EVENT;
    caught.store(status == 0 ? 0 : event + 1);
}
