// Self-registration for regsvr32: announces the bundled virtual driver
// under the drivers key and registers its class with this library's own
// path. Windows only; elsewhere the registry is a file one writes by hand.
#include <windows.h>
#include <olectl.h>

#include <cstring>
#include <string>

#include "platform/bundled_driver.h"

namespace {

const char* const driverKey = "SOFTWARE\\ASIO\\" LOOPCHECK_BUNDLED_DRIVER_NAME;
const char* const classKey = "CLSID\\" LOOPCHECK_BUNDLED_DRIVER_CLSID;
const char* const serverKey = "CLSID\\" LOOPCHECK_BUNDLED_DRIVER_CLSID "\\InprocServer32";

class CreatedKey {
public:
    CreatedKey(const CreatedKey&) = delete;
    CreatedKey& operator=(const CreatedKey&) = delete;
    CreatedKey(HKEY root, const char* path)
    {
        if (RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key_, nullptr) !=
            ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~CreatedKey()
    {
        if (key_ != nullptr)
            RegCloseKey(key_);
    }

    // A null name sets the key's default value.
    bool setText(const char* name, const char* text)
    {
        return key_ != nullptr &&
               RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                              static_cast<DWORD>(std::strlen(text) + 1)) == ERROR_SUCCESS;
    }

private:
    HKEY key_ = nullptr;
};

bool ownPath(std::string& path)
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&ownPath), &module))
        return false;
    char buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameA(module, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    path.assign(buffer, length);
    return true;
}

bool deleted(HKEY root, const char* path)
{
    const LONG result = RegDeleteKeyA(root, path);
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

}  // namespace

STDAPI DllRegisterServer()
{
    std::string path;
    if (!ownPath(path))
        return E_FAIL;
    bool written = CreatedKey(HKEY_CLASSES_ROOT, classKey).setText(nullptr, LOOPCHECK_BUNDLED_DRIVER_NAME);
    {
        CreatedKey server(HKEY_CLASSES_ROOT, serverKey);
        written = server.setText(nullptr, path.c_str()) && written;
        written = server.setText("ThreadingModel", "Apartment") && written;
    }
    {
        CreatedKey driver(HKEY_LOCAL_MACHINE, driverKey);
        written = driver.setText("CLSID", LOOPCHECK_BUNDLED_DRIVER_CLSID) && written;
        written = driver.setText("Description", LOOPCHECK_BUNDLED_DRIVER_NAME) && written;
    }
    return written ? S_OK : SELFREG_E_CLASS;
}

STDAPI DllUnregisterServer()
{
    // Subkeys first: a key with subkeys cannot be deleted.
    bool removed = deleted(HKEY_CLASSES_ROOT, serverKey);
    removed = deleted(HKEY_CLASSES_ROOT, classKey) && removed;
    removed = deleted(HKEY_LOCAL_MACHINE, driverKey) && removed;
    return removed ? S_OK : SELFREG_E_CLASS;
}
