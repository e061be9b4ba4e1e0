#include "driver_key.h"

#include <vector>

bool OpenKey::open(HKEY parent, const char* path)
{
    close();
    return RegOpenKeyExA(parent, path, 0, KEY_READ, &handle_) == ERROR_SUCCESS;
}

void OpenKey::close()
{
    if (handle_ != nullptr)
        RegCloseKey(handle_);
    handle_ = nullptr;
}

bool readText(HKEY key, const char* name, std::string& text)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
        return false;
    std::vector<char> data(static_cast<size_t>(size) + 1, '\0');
    DWORD capacity = size;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(data.data()), &capacity) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    // Stored text need not end in a terminator; the extra byte supplies one.
    text = std::string(data.data());
    return true;
}

void readDword(HKEY key, const char* name, int32_t& value)
{
    DWORD type = REG_NONE;
    DWORD data = 0;
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&data), &size) == ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof data)
        value = static_cast<int32_t>(data);
}

namespace {

bool namesClass(HKEY key, REFCLSID clsid)
{
    std::string text;
    if (!readText(key, "CLSID", text))
        return false;
    WCHAR wide[64];
    if (MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide, 64) == 0)
        return false;
    CLSID named;
    return CLSIDFromString(wide, &named) == S_OK && IsEqualGUID(named, clsid);
}

}  // namespace

bool openDriverKey(REFCLSID clsid, OpenKey& key, std::string& keyName)
{
    OpenKey asio;
    if (!asio.open(HKEY_LOCAL_MACHINE, "SOFTWARE\\ASIO"))
        return false;
    char name[256];
    for (DWORD index = 0;; ++index) {
        const LONG found = RegEnumKeyA(asio.get(), index, name, sizeof name);
        // A name past the registry's limit is no driver's key; the keys
        // after it still are.
        if (found == ERROR_MORE_DATA)
            continue;
        if (found != ERROR_SUCCESS)
            break;
        if (!key.open(asio.get(), name) || !namesClass(key.get(), clsid))
            continue;
        keyName = name;
        return true;
    }
    key.close();
    return false;
}
