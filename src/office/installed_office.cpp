#include "office/installed_office.h"

#include <windows.h>

#include <cstring>
#include <set>

#include "agent/registry.h"
#include "log/agent_log.h"
#include "office/office_state.h"
#include "util/handles.h"
#include "util/raw_registry.h"
#include "util/registry_paths.h"
#include "util/text.h"


namespace {

bool ContainsNoCase(const std::string& text, const char* needle) {
  return ToLowerText(text).find(ToLowerText(needle)) != std::string::npos;
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

std::string ReadOfficeText(const char* subkey, const char* valueName) {
  // Office may be 64-bit or 32-bit; its own view is asked first.
  std::string text;
  ReadViewString(subkey, valueName, &text, 1);
  if (text.empty()) ReadViewString(subkey, valueName, &text, 0);
  return text;
}

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

std::string JoinPieces(const std::vector<std::string>& pieces) {
  std::string text;
  for (const std::string& piece : pieces) text += (text.empty() ? "" : ",") + piece;
  return text;
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

namespace {

const wchar_t kUpdateChannelName[] = L"UpdateChannel";

REGSAM ViewOf(int is64) { return is64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }

// "UpdateChannel" of one view exactly as stored. Setup may write it in any
// type (a text, a number, several texts), and what it finds at the end must
// be what was there before, so nothing is converted on the way. Returns the
// read's status; `saved` is empty unless it is 0.
LONG ReadChannelValue(int is64, std::optional<RawRegistryValue>* saved) {
  saved->reset();
  RawRegistryValue value;
  LONG rc = ReadRawRegistryValue(reg_path::kClickToRunConfiguration, "UpdateChannel", &value, ViewOf(is64));
  if (rc == ERROR_SUCCESS) *saved = std::move(value);
  return rc;
}

// Puts "UpdateChannel" of one view back as it was saved.
LONG RestoreChannelValue(const std::optional<RawRegistryValue>& saved, int is64) {
  const std::wstring subkey = ChangeUtf8ToWideStr(reg_path::kClickToRunConfiguration);
  UniqueHKey key;
  if (saved.has_value()) {
    // Setup may have removed the key itself.
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_SET_VALUE | ViewOf(is64), nullptr, key.put(), nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    const BYTE none = 0;
    const BYTE* data = saved->data.empty() ? &none : saved->data.data();
    return RegSetValueExW(key.get(), kUpdateChannelName, 0, saved->type, data,
                          static_cast<DWORD>(saved->data.size()));
  }
  // Missing at start: whatever setup left there goes; no key or no value is
  // already as it was.
  LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_SET_VALUE | ViewOf(is64), key.put());
  if (rc == ERROR_SUCCESS) rc = RegDeleteValueW(key.get(), kUpdateChannelName);
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

// The value as a line of the agent log: texts as UTF-8, several texts
// joined by ";", a number in decimal, anything else by its size and type.
std::string ChannelText(const std::optional<RawRegistryValue>& saved) {
  if (!saved.has_value()) return std::string();
  const size_t units = saved->data.size() / sizeof(wchar_t);
  std::wstring wide(units, L'\0');
  if (units > 0) memcpy(&wide[0], saved->data.data(), units * sizeof(wchar_t));
  switch (saved->type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return ChangeWideToUtf8Str(wide.c_str());
    case REG_MULTI_SZ: {
      std::string text;
      for (size_t at = 0; at < wide.size() && wide[at] != L'\0';) {
        size_t end = wide.find(L'\0', at);
        if (end == std::wstring::npos) end = wide.size();
        if (!text.empty()) text += ";";
        text += ChangeWideToUtf8Str(wide.substr(at, end - at));
        at = end + 1;
      }
      return text;
    }
    case REG_DWORD:
      if (saved->data.size() == sizeof(DWORD)) {
        DWORD number = 0;
        memcpy(&number, saved->data.data(), sizeof(number));
        return std::to_string(number);
      }
      break;
    default:
      break;
  }
  return "(" + std::to_string(saved->data.size()) + " bytes of type " + std::to_string(saved->type) + ")";
}

// Restores one view and logs the outcome under the view's own name.
void ResetUpdateChannel(const std::optional<RawRegistryValue>& saved, int is64, const char* name) {
  LONG rc = RestoreChannelValue(saved, is64);
  if (rc != ERROR_SUCCESS) {
    LogError("Failed to reset %s with error code : %ld\n", name, rc);
  } else if (saved.has_value()) {
    LogInfo("%s reset to %s\n", name, ChannelText(saved).c_str());
  } else {
    LogInfo("%s was missing at start and is left missing.\n", name);
  }
}

}  // namespace

void ReadUpdateChannels(OfficeState* out) {
  OfficeState& state = *out;
  LONG rc = ReadChannelValue(1, &state.savedUpdateChannel);
  LogInfo("Error Code : %d UpdateChannel : %s\n", static_cast<int>(rc), ChannelText(state.savedUpdateChannel).c_str());

  rc = ReadChannelValue(0, &state.savedUpdateChannelX86);
  LogInfo("Error Code : %ld UpdateChannelx86 : %s\n", rc, ChannelText(state.savedUpdateChannelX86).c_str());
}

void ResetUpdateChannels(const OfficeState& state) {
  ResetUpdateChannel(state.savedUpdateChannel, 1, "UpdateChannel");
  ResetUpdateChannel(state.savedUpdateChannelX86, 0, "UpdateChannelx86");
}
