// Fuzzes the reader of registry-export text, the POSIX registry file: any
// bytes, as a user's file or an export from Windows (UTF-16 with its byte
// order mark) may hold them. Whatever it reads, each key of the tree it
// builds must be found again by its name.
#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <string>
#include <string_view>

#include "platform/posix/registry_text.h"
#include "platform/posix/registry_tree.h"

namespace {

// Warnings are not looked at.
std::ostream discard(nullptr);

// Every key can be found again by its own name, as the registry calls
// look keys up.
void check(const RegistryKeyNode& key)
{
    for (const auto& [name, subkey] : key.subkeys) {
        if (subkey == nullptr || name.empty() || key.find(name) != subkey.get()) std::abort();
        check(*subkey);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    RegistryTree tree;
    parseRegistryText(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.reg", "/fuzz", tree,
                      discard);
    check(tree.localMachine);
    return 0;
}
