// Where the registry leaves the driver that its last successful open
// produced. The slot itself belongs to the test record, a layer above this
// one; the record defines this accessor, so the registry fills the slot
// without depending on the record.
#pragma once

#include "driver/asio_interface.h"

IASIO*& currentDriverSlot();
