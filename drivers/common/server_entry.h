// The work behind the entry points every in-process server exports. Each
// driver defines DllGetClassObject and DllCanUnloadNow in its own sources
// (a name exported from a static library would not leave the driver) and
// answers them from here.
#pragma once

#include "class_factory.h"
#include "platform/com_types.h"

#ifdef _WIN32
#define LOOPCHECK_DRIVER_EXPORT STDAPI
#else
#define LOOPCHECK_DRIVER_EXPORT extern "C" __attribute__((visibility("default"))) HRESULT
#endif

// Any class identifier is served: its settings decide what the objects
// the factory makes are.
HRESULT serveClassObject(REFCLSID clsid, REFIID iid, void** object, MakeDriver make);
// S_OK once no object, factory or server lock keeps the library in use.
HRESULT answerCanUnloadNow();
