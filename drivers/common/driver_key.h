// The registry reading both drivers' settings readers share: finding the
// driver's own key under the drivers key by the class identifier it names,
// and reading typed values from it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32_api.h"

// Closes a key handle on every path.
class OpenKey {
public:
    OpenKey() = default;
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    ~OpenKey() { close(); }

    bool open(HKEY parent, const char* path);
    void close();
    HKEY get() const { return handle_; }

private:
    HKEY handle_ = nullptr;
};

// Opens the first key under HKEY_LOCAL_MACHINE\SOFTWARE\ASIO whose CLSID
// value names clsid and sets keyName to its name; false (keyName as it
// was) when there is none.
bool openDriverKey(REFCLSID clsid, OpenKey& key, std::string& keyName);

// A driver's settings as registered for clsid: the defaults, then the name
// of its key and what readValues finds there when the key exists.
template <class Settings>
Settings readDriverSettings(REFCLSID clsid, void (*readValues)(HKEY key, Settings& settings))
{
    Settings settings;
    OpenKey key;
    if (openDriverKey(clsid, key, settings.keyName))
        readValues(key.get(), settings);
    return settings;
}

// A REG_SZ value; false (text as it was) when missing or of another type.
bool readText(HKEY key, const char* name, std::string& text);
// A REG_DWORD value; value stays as it was when missing or of another type.
void readDword(HKEY key, const char* name, int32_t& value);
