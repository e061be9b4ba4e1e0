// Reads registry-export text, the format Windows' registry editor writes:
//
//   Windows Registry Editor Version 5.00
//   ; a comment
//   [HKEY_LOCAL_MACHINE\SOFTWARE\ASIO\My Driver]
//   "CLSID"="{...}"
//   "Description"="My \"quoted\" driver at C:\\path"
//   "Outputs"=dword:00000008
//   @="the key's default value"
//
// also hex:/hex(n): data (continued over lines ending in a backslash),
// "Name"=- to delete a value and [-key] to delete a key. HKEY_CLASSES_ROOT
// sections land below HKEY_LOCAL_MACHINE\SOFTWARE\Classes.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "platform/posix/registry_tree.h"

// Adds what text describes to tree. A line that cannot be read is skipped
// with one warning naming fileName and its line number. A relative path in
// the default value of an InprocServer32 key is taken relative to folder.
void parseRegistryText(std::string_view text, const std::string& fileName, const std::string& folder,
                       RegistryTree& tree, std::ostream& warnings);
