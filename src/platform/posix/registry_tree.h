// The registry as held in memory: a tree of keys, each with named values.
// Key and value names compare without regard to ASCII case, and subkeys
// come out in that order, as Windows enumerates them. A tree is never
// changed once built, so open key handles can share it with a reload.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/win32_shim.h"

struct CaselessLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};

bool equalsCaseless(std::string_view a, std::string_view b);

struct RegistryValue {
    DWORD type = REG_NONE;
    std::vector<uint8_t> data;  // text values include their terminating zero
};

struct RegistryKeyNode {
    std::string name;  // as first written
    std::map<std::string, std::unique_ptr<RegistryKeyNode>, CaselessLess> subkeys;
    std::map<std::string, RegistryValue, CaselessLess> values;  // "" is the default value

    // The key at a backslash-separated path below this one; null when any
    // part is missing. Empty parts are passed over.
    const RegistryKeyNode* find(std::string_view path) const;
    // The same, creating what is missing.
    RegistryKeyNode& make(std::string_view path);
    // Removes the subkey at path with everything below it.
    void remove(std::string_view path);
};

// HKEY_CLASSES_ROOT is a view of this key below HKEY_LOCAL_MACHINE, as it is
// for machine-wide registrations on Windows.
inline constexpr std::string_view classesRootPath = "SOFTWARE\\Classes";

struct RegistryTree {
    RegistryKeyNode localMachine;

    RegistryTree() { localMachine.make(classesRootPath); }
    RegistryKeyNode& classesRoot() { return localMachine.make(classesRootPath); }
    const RegistryKeyNode* classesRoot() const { return localMachine.find(classesRootPath); }
};

RegistryValue textValue(std::string_view text);
RegistryValue dwordValue(uint32_t value);
