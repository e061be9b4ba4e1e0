// Where the registry comes from on platforms without one: the registry-export
// text file named by the environment variable LOOPCHECK_REGISTRY, or, when
// that is not set, a built-in registry announcing the bundled virtual
// driver with its library next to the executable or, for an installed
// harness, in <prefix>/lib/loopcheck beside the executable's bin folder.
//
// The registry is read on first use and kept. Key handles already open keep
// the registry they were opened in, so a reload never pulls a key out from
// under a reader.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "platform/posix/registry_tree.h"

namespace posix_registry {

inline constexpr const char* fileVariable = "LOOPCHECK_REGISTRY";

// The registry in use, read now if it has not been read yet (warnings about
// the file go to standard error).
std::shared_ptr<const RegistryTree> current();

// Reads the registry again as at first use: the file LOOPCHECK_REGISTRY
// names, or the built-in one.
void reload(std::ostream& warnings);

// Uses the given registry file from now on. A file that cannot be read
// gives an empty registry.
void loadFile(const std::string& path, std::ostream& warnings);

// The registry used when LOOPCHECK_REGISTRY is not set.
RegistryTree builtInRegistry();

// Where the built-in registry takes the bundled driver's library from: the
// first of the places above where the file exists, or the one next to the
// executable when there is none (the driver is then skipped as missing).
std::string bundledDriverPath(const std::string& executableFolder);

// Folder of the running executable, without a trailing slash; "." when it
// cannot be found.
std::string executableFolder();

}  // namespace posix_registry
