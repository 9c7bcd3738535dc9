// The one registry read of the lowest layer: no logging, no interpretation
// beyond what the caller asks. The log uses it for its level and folder,
// which it needs before the registry layer (which logs) may be used.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

struct RawRegistryValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// Reads a value of HKEY_LOCAL_MACHINE, its type and bytes as stored, in the
// given view (the agent's own keys live in the 32-bit view; see the registry
// layer). Names are UTF-8. 0, or the system's error; `out` is untouched on
// failure.
LONG ReadRawRegistryValue(const char* subkey, const char* valueName, RawRegistryValue* out,
                          REGSAM view = KEY_WOW64_32KEY);

// --- pure rules on what was read ---
// A folder named by a registry value: REG_SZ or REG_EXPAND_SZ text, up to its
// first null, as UTF-8, ending with a backslash (added when missing). Any
// other type, or an empty text, is no folder: a folder read from binary data
// or an empty value would put files at the root of a drive.
std::optional<std::string> FolderFromRegistryValue(const RawRegistryValue& value);
// A DWORD read the way the agent has always read its numbers: the first four
// bytes whatever the type, fewer bytes filling the low end. Nothing when the
// data is longer than a DWORD.
std::optional<DWORD> DwordFromRegistryValue(const RawRegistryValue& value);
