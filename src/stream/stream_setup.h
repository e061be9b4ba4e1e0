// Prepares the loaded driver for one run: channels, sample format, buffer
// sizes, sample rate, the test signal, the driver's buffers with the
// callbacks, the lead-in, the reset counters and the recordings' room.
#pragma once

// True when the driver is ready to start. On false the console holds one
// line saying why (or the driver's own refusal); main thread, driver not
// started.
bool setupStreams();
