#include "exec/file_helpers.h"

#include <windows.h>
#include <shlobj.h>

#include "log/agent_log.h"
#include "util/handles.h"
#include "util/text.h"

int IsFileExist(const char* path) {
  if (!path) return 0;
  std::wstring widePath = ChangeUtf8ToWideStr(path);
  UniqueFile file(CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      LogError("IsFileExist : The File Name %s is not found %lu\n", path, error);
    } else {
      LogError("IsFileExist : Invalid Handle returned for %s - %lu\n", path, error);
    }
    return 0;
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size)) size.QuadPart = 0;
  LogDebug("IsFileExist : The File %s size is given by : %lld\n", path, static_cast<long long>(size.QuadPart));
  if (size.QuadPart == 0) {
    LogError("IsFileExist : The required file (%s) size is 0 bytes. Hence returning file not found.\n", path);
    return 0;
  }
  return 1;
}

int CheckFileExists(const char* path) {
  LogDebug("FileName to search -> %s \n", path ? path : "");
  if (!path) return 2;
  WIN32_FIND_DATAW data;
  UniqueFind find(FindFirstFileW(ChangeUtf8ToWideStr(path).c_str(), &data));
  if (!find) {
    LogError("CheckFileExists -> Invalid File Handle. %lu \n", GetLastError());
    return 2;
  }
  return 0;
}

int CheckFileExists(const wchar_t* path) {
  if (!path) return 13;
  WIN32_FIND_DATAW data;
  UniqueFind find(FindFirstFileW(path, &data));
  if (!find) {
    LogError("CheckFileExists -> Invalid File Handle. %lu \n", GetLastError());
    return 13;
  }
  return 0;
}

int CreateFolder(const wchar_t* path) {
  if (!path) {
    LogError("CreateFolder : The directory to create is NULL . \n");
    return 13;
  }
  std::string text = ChangeWideToUtf8Str(path);
  int result = 0;
  if (text.size() >= 1 && text.size() <= 3) {
    LogInfo("CreateFolder : The Drive letter Given.hence it cannot be created \n");
    result = 183;
  } else {
    std::string folder;
    size_t lastSeparator = text.rfind('\\');
    if (lastSeparator == std::string::npos) {
      folder = text;
    } else {
      std::string last = text.substr(lastSeparator + 1);
      // The parent is what precedes the first occurrence of the last component.
      size_t first = last.empty() ? lastSeparator : text.find(last);
      folder = text.substr(0, first);
    }
    bool driveOnly = (!folder.empty() && folder.size() <= 3) ||
                     (folder.size() == 4 && folder[1] == ':' && folder[2] == '\\' && folder[3] == '\\');
    if (driveOnly) {
      LogInfo("CreateFolder : The Drive letter Given.hence it cannot be created \n");
      result = 183;
    } else if (!folder.empty()) {
      LogInfo("CreateFolder : The Directory to create is %s \n", folder.c_str());
      std::wstring wideFolder = ChangeUtf8ToWideStr(folder.c_str());
      int rc = SHCreateDirectoryExW(nullptr, wideFolder.c_str(), nullptr);
      result = (rc == ERROR_SUCCESS || rc == ERROR_ALREADY_EXISTS || rc == ERROR_FILE_EXISTS) ? 0 : rc;
    }
  }
  LogDebug("CreateFolder function returns Error code %d \n", result);
  if (result != 0) LogErrorCode(result);
  return result;
}
