// The registry calls over the in-memory registry, with Windows' return
// codes and buffer rules: ERROR_MORE_DATA (and the size needed) when a value
// or name does not fit, ERROR_NO_MORE_ITEMS past the last subkey,
// ERROR_FILE_NOT_FOUND for a missing key or value, ERROR_INVALID_HANDLE for
// a handle that is not open.
#include <cstring>
#include <iterator>
#include <mutex>
#include <new>
#include <unordered_set>

#include "platform/posix/registry_file.h"
#include "platform/posix/win32_shim.h"

// An open key: the node and the registry it belongs to, kept alive by the
// handle even when the registry is read again meanwhile.
struct PosixRegistryKey {
    std::shared_ptr<const RegistryTree> tree;
    const RegistryKeyNode* node = nullptr;
};

namespace {

struct OpenKeys {
    std::mutex mutex;
    std::unordered_set<const PosixRegistryKey*> handles;
};

OpenKeys& openKeys()
{
    static OpenKeys instance;
    return instance;
}

// What a handle stands for. The predefined roots always stand for the
// registry in use now.
bool resolve(HKEY key, PosixRegistryKey& view)
{
    if (key == HKEY_LOCAL_MACHINE || key == HKEY_CLASSES_ROOT) {
        view.tree = posix_registry::current();
        if (key == HKEY_LOCAL_MACHINE) {
            view.node = &view.tree->localMachine;
        } else {
            static const RegistryKeyNode noClasses;
            view.node = view.tree->classesRoot();
            if (view.node == nullptr)
                view.node = &noClasses;
        }
        return true;
    }
    OpenKeys& open = openKeys();
    std::lock_guard<std::mutex> lock(open.mutex);
    if (open.handles.count(key) == 0)
        return false;
    view = *key;
    return true;
}

}  // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM, PHKEY result)
{
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    PosixRegistryKey view;
    if (!resolve(key, view))
        return ERROR_INVALID_HANDLE;
    const RegistryKeyNode* node = subKey == nullptr ? view.node : view.node->find(subKey);
    if (node == nullptr)
        return ERROR_FILE_NOT_FOUND;

    auto* handle = new (std::nothrow) PosixRegistryKey{view.tree, node};
    if (handle == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    OpenKeys& open = openKeys();
    std::lock_guard<std::mutex> lock(open.mutex);
    open.handles.insert(handle);
    *result = handle;
    return ERROR_SUCCESS;
}

// As on Windows, no subkey hands back the very handle that was passed in.
LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result)
{
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (subKey == nullptr || *subKey == '\0') {
        PosixRegistryKey view;
        if (!resolve(key, view))
            return ERROR_INVALID_HANDLE;
        *result = key;
        return ERROR_SUCCESS;
    }
    return RegOpenKeyExA(key, subKey, 0, KEY_READ, result);
}

LONG RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD nameSize)
{
    PosixRegistryKey view;
    if (!resolve(key, view))
        return ERROR_INVALID_HANDLE;
    if (name == nullptr)
        return ERROR_INVALID_PARAMETER;
    const auto& subkeys = view.node->subkeys;
    if (index >= subkeys.size())
        return ERROR_NO_MORE_ITEMS;
    const std::string& subkeyName = std::next(subkeys.begin(), static_cast<std::ptrdiff_t>(index))->second->name;
    if (subkeyName.size() + 1 > nameSize)
        return ERROR_MORE_DATA;
    std::memcpy(name, subkeyName.c_str(), subkeyName.size() + 1);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize)
{
    PosixRegistryKey view;
    if (!resolve(key, view))
        return ERROR_INVALID_HANDLE;
    if (reserved != nullptr || (data != nullptr && dataSize == nullptr))
        return ERROR_INVALID_PARAMETER;
    const auto found = view.node->values.find(valueName == nullptr ? "" : valueName);
    if (found == view.node->values.end())
        return ERROR_FILE_NOT_FOUND;

    const RegistryValue& value = found->second;
    const auto size = static_cast<DWORD>(value.data.size());
    if (type != nullptr)
        *type = value.type;
    if (data == nullptr) {
        if (dataSize != nullptr)
            *dataSize = size;
        return ERROR_SUCCESS;
    }
    if (size > *dataSize) {
        *dataSize = size;
        return ERROR_MORE_DATA;
    }
    if (size > 0)
        std::memcpy(data, value.data.data(), size);
    *dataSize = size;
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key)
{
    if (key == HKEY_LOCAL_MACHINE || key == HKEY_CLASSES_ROOT)
        return ERROR_SUCCESS;
    OpenKeys& open = openKeys();
    std::lock_guard<std::mutex> lock(open.mutex);
    if (open.handles.erase(key) == 0)
        return ERROR_INVALID_HANDLE;
    delete key;
    return ERROR_SUCCESS;
}
