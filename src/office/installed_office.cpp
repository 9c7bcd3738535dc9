#include "office/installed_office.h"

#include <windows.h>

#include <set>

#include "agent/registry.h"
#include "log/agent_log.h"
#include "office/office_state.h"
#include "util/handles.h"
#include "util/text.h"
#include "util/registry_paths.h"


namespace {

bool ContainsNoCase(const std::string& text, const char* needle) {
  return ToLowerText(text).find(ToLowerText(needle)) != std::string::npos;
}

// Office may be 64-bit or 32-bit; its own view is asked first.
std::string ReadOfficeText(const char* subkey, const char* valueName) {
  std::string text;
  ReadViewString(subkey, valueName, &text, 1);
  if (text.empty()) ReadViewString(subkey, valueName, &text, 0);
  return text;
}

// The same checks as ReadViewString, on a key that is already open.
std::string ReadOpenKeyText(HKEY key, const wchar_t* valueName) {
  const DWORD kMaxUnits = 2048;
  std::vector<wchar_t> buffer(kMaxUnits, 0);
  DWORD type = 0;
  DWORD size = kMaxUnits * sizeof(wchar_t);
  if (RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
      ERROR_SUCCESS) {
    return std::string();
  }
  if (CheckViewStringData(type, reinterpret_cast<const BYTE*>(buffer.data()), size) != ERROR_SUCCESS) {
    return std::string();
  }
  return ChangeWideToUtf8Str(buffer.data());
}

}  // namespace

std::vector<std::string> SplitPieces(const std::string& text, const char* separators) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of(separators, start);
    if (end == std::string::npos) end = text.size();
    if (end > start) pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

std::vector<std::string> MergeInstalledCultures(const std::string& officeCulture, const std::string& clientCulture) {
  std::set<std::string> distinct;
  for (const std::string& piece : SplitPieces(officeCulture, ",")) distinct.insert(piece);
  for (const std::string& piece : SplitPieces(clientCulture, ",")) distinct.insert(piece);
  std::vector<std::string> cultures;
  for (const std::string& culture : distinct) {
    if (!ContainsNoCase(culture, "proof")) cultures.push_back(culture);
  }
  return cultures;
}

std::string PickProductReleaseId(const std::string& productReleaseIds) {
  std::vector<std::string> pieces = SplitPieces(productReleaseIds, ",");
  if (pieces.empty()) return std::string();
  // The Access runtime rides along with a real suite; configure the suite.
  if (ContainsNoCase(pieces[0], "AccessRuntimeRetail") && pieces.size() > 1) return pieces[1];
  return pieces[0];
}

std::vector<std::string> GetInstalledLanguages() {
  std::string officeCulture = ReadOfficeText(reg_path::kClickToRunInventory, "OfficeCulture");
  std::string clientCulture = ReadOfficeText(reg_path::kClickToRunConfiguration, "ClientCulture");
  if (officeCulture.empty() && clientCulture.empty()) return {};
  std::vector<std::string> cultures = MergeInstalledCultures(officeCulture, clientCulture);
  for (const std::string& culture : cultures) LogInfo("Office Installed Language: %s\n", culture.c_str());
  return cultures;
}

std::string GetProductReleaseId() {
  return PickProductReleaseId(ReadOfficeText(reg_path::kClickToRunConfiguration, "ProductReleaseIds"));
}

std::vector<std::string> GetExcludedApps() {
  const std::wstring subkey = ChangeUtf8ToWideStr(reg_path::kClickToRunConfiguration);
  UniqueHKey key;
  LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.put());
  if (rc != ERROR_SUCCESS) {
    rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, key.put());
  }
  if (rc != ERROR_SUCCESS) {
    LogError("Failed to open %s with error code : %ld\n", reg_path::kClickToRunConfiguration, rc);
    return {};
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[260];
    DWORD nameLength = 260;
    if (RegEnumValueW(key.get(), index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      break;
    }
    if (!ContainsNoCase(ChangeWideToUtf8Str(name), "excludedapps")) continue;
    // Only the first matching value counts; the rest are never read.
    return SplitPieces(ReadOpenKeyText(key.get(), name), ",=\"");
  }
  return {};
}

void ReadUpdateChannels() {
  OfficeState& state = OfficeCtx();
  LONG rc = ReadRegSZEx(HKEY_LOCAL_MACHINE, reg_path::kClickToRunConfiguration, "UpdateChannel", &state.savedUpdateChannel, 1);
  state.savedUpdateChannelPresent = rc == ERROR_SUCCESS;
  LogInfo("Error Code : %d UpdateChannel : %s\n", static_cast<int>(rc), state.savedUpdateChannel.c_str());

  rc = ReadRegSZEx(HKEY_LOCAL_MACHINE, reg_path::kClickToRunConfiguration, "UpdateChannel", &state.savedUpdateChannelX86, 0);
  state.savedUpdateChannelX86Present = rc == ERROR_SUCCESS;
  LogInfo("Error Code : %ld UpdateChannelx86 : %s\n", rc, state.savedUpdateChannelX86.c_str());
}

namespace {

// The channels were read as raw ANSI bytes and the writer takes UTF-8, so the
// text is converted on the way back; otherwise a channel outside ASCII would
// come back altered.
LONG WriteUpdateChannel(const std::string& ansiText, int is64) {
  std::string utf8 = ChangeAnsiToUTF8Str(ansiText.c_str());
  return writeValueEx(HKEY_LOCAL_MACHINE, reg_path::kClickToRunConfiguration, "UpdateChannel", utf8.c_str(), REG_SZ, is64);
}

}  // namespace

void ResetUpdateChannels() {
  const OfficeState& state = OfficeCtx();
  if (state.savedUpdateChannel.empty()) {
    LogError("UpdateChannel is empty. Cannot be reset.\n");
  } else {
    LONG rc = WriteUpdateChannel(state.savedUpdateChannel, 1);
    if (rc != ERROR_SUCCESS) {
      LogError("Failed to reset UpdateChannel with error code : %ld\n", rc);
    } else {
      LogInfo("UpdateChannel reset to %s\n", state.savedUpdateChannel.c_str());
    }
  }

  if (state.savedUpdateChannelX86.empty()) {
    LogError("UpdateChannelx86 is empty. Cannot be reset.\n");
    return;
  }
  LONG rc = WriteUpdateChannel(state.savedUpdateChannelX86, 0);
  if (rc != ERROR_SUCCESS) {
    LogError("Failed to reset UpdateChannelx86 with error code : %ld\n", rc);
  } else {
    LogInfo("UpdateChannelx86 reset to %s\n", state.savedUpdateChannelX86.c_str());
  }
}
