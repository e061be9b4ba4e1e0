// The registry the loopback tests run against: one file announcing every
// configuration the tests need, each a virtual driver under its own class
// identifier, all served by the one driver library. Written once per
// process, before the driver first reads its settings, and named through
// LOOPCHECK_REGISTRY.
#pragma once

#include <string>

#include "platform/com_types.h"

// Writes the file and points LOOPCHECK_REGISTRY at it, once.
void ensureTestRegistry();

// Class identifier of the configured driver announced under name; the
// test fails (and a null identifier comes back) for an unknown name.
CLSID testDriverClass(const std::string& name);

// A class no key names: its objects run on the defaults.
CLSID unconfiguredClass();

std::string clsidText(REFCLSID clsid);
