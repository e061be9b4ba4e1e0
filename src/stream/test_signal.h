// The one-second test signal every output plays, over and over.
#pragma once

// Builds testState.signalBuffer for the run's rate, format and signal kind
// and prints its console lines. False, with one line naming the bytes asked
// for, when the buffer cannot be allocated; no signal exists then.
bool generateTestSignal();
