// Helpers for the registry tests: fixture files, loading them as the
// registry in use, and what the test server reports.
#pragma once

#include <string>

#include "platform/win32_api.h"

// A file in the fixture folder, next to the test servers.
std::string fixturePath(const std::string& name);

// Makes the registry file the registry in use; returns its warnings.
std::string useRegistryFile(const std::string& path);

// Writes text to a registry file in the fixture folder, named after the
// running test, and makes it the registry in use; returns its warnings.
std::string useRegistryText(const std::string& text);

// Drivers made by the test server that are not yet released.
int liveTestDrivers();

// A key handle closed at the end of the scope.
class OpenedKey {
public:
    OpenedKey(HKEY parent, const char* path);
    ~OpenedKey();
    OpenedKey(const OpenedKey&) = delete;
    OpenedKey& operator=(const OpenedKey&) = delete;

    LONG status() const { return status_; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
    LONG status_;
};

// The text value valueName of key, or "<missing>".
std::string textOf(HKEY key, const char* valueName);

// COM started on this thread for the life of the object.
class ComScope {
public:
    ComScope() { CoInitialize(nullptr); }
    ~ComScope() { CoUninitialize(); }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
};
