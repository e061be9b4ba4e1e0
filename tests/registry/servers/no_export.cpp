// An in-process server in name only: it has no DllGetClassObject.
extern "C" int registryTestNoExport() { return 0; }
