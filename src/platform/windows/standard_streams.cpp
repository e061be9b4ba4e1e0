#include "platform/standard_streams.h"

// A Windows console process gets its standard handles from the system, and
// the C runtime's descriptors 0 to 2 stay reserved for them even when a
// handle is missing, so no file can land on them.
void openClosedStandardStreams() {}
