#include "agent/rz_json.h"

#include <windows.h>

#include <cstdio>
#include <sstream>

#include "log/agent_log.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/text.h"

int CRZJson::WriteJSONDO(const std::string& path, const Json::Value& value) {
  LogDebug("@@@ Inside CRZJson::WriteJSONDO\n");
  std::wstring widePath;
  std::wstring tempPath;
  try {
    if (value.isNull() || value.empty()) LogDebug("@@@ Inside CRZJson::root is empty\n");
    std::ostringstream out;
    Json::StyledStreamWriter writer("\t");
    writer.write(out, value);

    widePath = ChangeUtf8ToWideStr(path.c_str());
    // The temporary file sits beside the target so the final move stays on
    // one volume and is a plain rename.
    tempPath = widePath + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    if (WriteTextFile(tempPath, out.str()) != 0) {
      DeleteFileW(tempPath.c_str());
      LogError("JSON Failed to create  actual file.\n");
      return 13;
    }
    if (!MoveFileExW(tempPath.c_str(), widePath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      DWORD moveError = GetLastError();
      // Someone holds the old file open without delete sharing (a reader of
      // the agent): the rename cannot happen, so overwrite the file in place
      // rather than lose the new text.
      if (!CopyFileW(tempPath.c_str(), widePath.c_str(), FALSE)) {
        DWORD copyError = GetLastError();
        DeleteFileW(tempPath.c_str());
        LogError("JSON Failed to create  actual file.\n");
        LogError("CRZJson::WriteJSONDO : replacing %s failed (%lu, %lu)\n", path.c_str(), moveError, copyError);
        return 13;
      }
      DeleteFileW(tempPath.c_str());
    }
    root_ = value;
    LogDebug("@@@ end of CRZJson::WriteJSONDO\n");
    return 0;
  } catch (...) {
    if (!tempPath.empty()) DeleteFileW(tempPath.c_str());
    LogError("error caught in CRZJson::WriteJSONDO\n");
    return 13;
  }
}

std::string CRZJson::FileToString(const std::string& path) {
  LogDebug("@@@ Inside CRZJson::FileToString\n");
  std::wstring widePath = ChangeUtf8ToWideStr(path.c_str());
  // Delete sharing lets a writer replace the file while we read it.
  UniqueFile file(CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    LogError("JSON The file %S open failed NULL\n", widePath.c_str());
    return std::string();
  }
  LARGE_INTEGER size;
  std::string text;
  // A file the 32-bit process could not hold in memory counts as unreadable.
  if (GetFileSizeEx(file.get(), &size) && size.QuadPart > 0 && size.QuadPart < 0x40000000) {
    text.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (ReadFile(file.get(), &text[0], static_cast<DWORD>(text.size()), &read, nullptr) && read == text.size()) {
      text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    } else {
      text.clear();
    }
  }
  LogDebug("@@@ End of CRZJson::FileToString\n");
  return text;
}

int CRZJson::StringToValue(const std::string& text, Json::Value* value) {
  LogDebug("@@@ inside CRZJson::StringToValue\n");
  try {
    Json::Reader reader;
    Json::Value parsed;
    if (!reader.parse(text, parsed, true)) {
      LogError("JSON Failed to parse file: \n%s\n", reader.getFormattedErrorMessages().c_str());
      return 13;
    }
    *value = parsed;
    LogDebug("@@@ End of CRZJson::StringToValue\n");
    return 0;
  } catch (...) {
    LogError("error caught in CRZJson::StringToValue\n");
    return 13;
  }
}

int CRZJson::LoadJSONDO(const std::string& path, Json::Value* value) {
  LogDebug("@@@ Inside CRZJson::LoadJSONDO\n");
  try {
    try {
      text_ = FileToString(path);
    } catch (...) {
      LogError("error caught in CRZJson::FileToString\n");
      return 13;
    }
    if (text_.empty()) {
      LogError("JSON Failed to read input or empty input: %s\n", path.c_str());
      return 2;
    }
    Json::Value parsed;
    int result = StringToValue(text_, &parsed);
    if (result == 0) {
      root_ = parsed;
      if (value) *value = parsed;
    }
    LogDebug("@@@ End of CRZJson::LoadJSONDO\n");
    return result;
  } catch (...) {
    LogError("error caught in CRZJson::LoadJSONDO\n");
    return 13;
  }
}
