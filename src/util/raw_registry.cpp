#include "util/raw_registry.h"

#include <cstring>

#include "util/handles.h"
#include "util/text.h"

LONG ReadRawRegistryValue(const char* subkey, const char* valueName, RawRegistryValue* out, REGSAM view) {
  UniqueHKey key;
  LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, ChangeUtf8ToWideStr(subkey ? subkey : "").c_str(), 0,
                          KEY_QUERY_VALUE | view, key.put());
  if (rc != ERROR_SUCCESS) return rc;
  const std::wstring name = ChangeUtf8ToWideStr(valueName ? valueName : "");
  RawRegistryValue value;
  DWORD size = 0;
  rc = RegQueryValueExW(key.get(), name.c_str(), nullptr, &value.type, nullptr, &size);
  // The value may grow between the size query and the read: ask again then.
  for (int attempt = 0; attempt < 4 && rc == ERROR_SUCCESS; ++attempt) {
    value.data.resize(size);
    rc = RegQueryValueExW(key.get(), name.c_str(), nullptr, &value.type, size ? value.data.data() : nullptr, &size);
    if (rc == ERROR_MORE_DATA) {
      rc = ERROR_SUCCESS;
      continue;
    }
    if (rc != ERROR_SUCCESS) break;
    value.data.resize(size);
    if (out) *out = std::move(value);
    return ERROR_SUCCESS;
  }
  return rc == ERROR_SUCCESS ? ERROR_MORE_DATA : rc;
}

std::optional<std::string> FolderFromRegistryValue(const RawRegistryValue& value) {
  if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) return std::nullopt;
  std::wstring text(value.data.size() / sizeof(wchar_t), L'\0');
  if (!text.empty()) memcpy(&text[0], value.data.data(), text.size() * sizeof(wchar_t));
  text.resize(wcsnlen(text.c_str(), text.size()));
  if (text.empty()) return std::nullopt;
  if (text.back() != L'\\' && text.back() != L'/') text += L'\\';
  return ChangeWideToUtf8Str(text);
}

std::optional<DWORD> DwordFromRegistryValue(const RawRegistryValue& value) {
  if (value.data.size() > sizeof(DWORD)) return std::nullopt;
  DWORD number = 0;
  if (!value.data.empty()) memcpy(&number, value.data.data(), value.data.size());
  return number;
}
