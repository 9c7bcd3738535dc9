// The registry access layer. Every call opens and closes its key, logs its
// steps and returns a Windows error code (0 on success).
//
// The program is a 32-bit process, so its default view is the 32-bit view.
// Plain calls ask for that view explicitly (KEY_WOW64_32KEY), which changes
// nothing in the 32-bit product and makes a 64-bit build read and write the
// same places. "Ex" calls with a non-zero flag use the 64-bit view.
//
// Names and data given to the writers are UTF-8. The name "--" means the
// key's default value; data "--" means empty data (0 for numbers).
// Readers leave the caller's variable untouched on failure.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

LONG addRegistryKey(HKEY root, const char* subkey);
LONG addRegistryKeyEx(HKEY root, const char* subkey, int is64);
// Deletes the key with everything under it. A null or empty subkey gives 2.
LONG deleteRegistryKey(HKEY root, const char* subkey);
LONG writeValue(HKEY root, const char* subkey, const char* valueName, const char* data, DWORD type);
LONG writeValueEx(HKEY root, const char* subkey, const char* valueName, const char* data, DWORD type, int is64);
// As writeValue, but never writes the data into the log (passwords).
LONG writeValueQuiet(HKEY root, const char* subkey, const char* valueName, const char* data, DWORD type);
LONG deleteValue(HKEY root, const char* subkey, const char* valueName);
LONG deleteValue(HKEY root, const wchar_t* subkey, const wchar_t* valueName);
LONG deleteValueEx(HKEY root, const char* subkey, const char* valueName, int is64);
// Reads up to 4 bytes of any value; a missing value gives 2.
LONG ReadDwordRegistryData(HKEY root, const char* subkey, const char* valueName, DWORD* out);
LONG ReadDwordRegistryDataEx(HKEY root, const char* subkey, const char* valueName, DWORD* out, int is64);
// String through the wide functions, returned as UTF-8. Out is cleared first.
LONG ReadRegSZ(HKEY root, const char* subkey, const char* valueName, std::string* out);
// String through the ANSI functions: the stored bytes as they are, nulls
// included (a REG_MULTI_SZ keeps every element).
LONG ReadRegSZEx(HKEY root, const char* subkey, const char* valueName, std::string* out, int is64);
// String through the wide functions: the stored UTF-16 units as they are.
LONG ReadRegSZEx(HKEY root, const wchar_t* subkey, const wchar_t* valueName, std::wstring* out);
// Deletes a key by removing its subkeys depth-first. 1 on success, 0 on failure.
int DeleteRegistryKeyTree(HKEY root, const char* subkey);
// HKEY_LOCAL_MACHINE in an explicit view. 13 for a value of any other type
// (a short one is still stored, up to 4 bytes).
LONG ReadViewDword(const char* subkey, const char* valueName, DWORD* out, int is64);
// REG_SZ or REG_EXPAND_SZ only, well formed, at most 2048 UTF-16 units;
// returned as UTF-8. 13 for a bad type or malformed data.
LONG ReadViewString(const char* subkey, const char* valueName, std::string* out, int is64);

// --- pure pieces, exposed for tests ---
// 0 when string data read by ReadViewString is well formed: a string type,
// an even byte count and a terminating null unit; otherwise 13.
LONG CheckViewStringData(DWORD type, const BYTE* data, DWORD size);
struct EncodedValue {
  std::vector<BYTE> bytes;
};
// `wideData` is the data after the "--" rule; `utf8Data` the caller's text.
EncodedValue EncodeRegistryData(const std::wstring& wideData, const std::string& utf8Data, DWORD type, bool exRules);
