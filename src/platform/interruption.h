// Interruption of a test by the operator or the system: Ctrl-C, termination
// and a closed terminal (SIGINT, SIGTERM, SIGHUP; on Windows Ctrl-C,
// Ctrl-Break and closing the console). The handlers only note what came; the main thread looks at
// interruptionStatus() at its waiting points and winds the test down:
// driver stopped and released, reports closed, no dump left cut short.
#pragma once

// Installs the handlers for the rest of the process. A second Ctrl-C (or
// termination) while the first is being handled ends the process at once.
// Broken pipes are ignored as ignoreBrokenPipes() does.
void catchInterruptions();

// A write to a pipe that nothing reads any more fails (EPIPE) instead of
// ending the process (SIGPIPE).
void ignoreBrokenPipes();

// 0 while nothing interrupted the test, else the exit status it calls for:
// 130 for Ctrl-C (SIGINT), 143 for termination (SIGTERM, Ctrl-Break, the
// end of the session), 129 for a closed terminal (SIGHUP, the console being
// closed). Safe on any thread.
int interruptionStatus();

// What interrupted, in words for the operator ("SIGINT", "Ctrl-Break"...);
// empty while nothing did.
const char* interruptionName();

// The main thread's word that the winding down is over. On Windows the
// system ends the process as soon as a close handler returns, so that
// handler waits for this.
void interruptionHandled();

// Notes an interruption as a handler would (status 129, 130 or 143), or
// forgets it (0). For tests.
void simulateInterruption(int status);
