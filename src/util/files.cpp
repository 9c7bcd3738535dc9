#include "util/files.h"

#include <windows.h>
#include <share.h>
#include <shlobj.h>

#include "util/handles.h"

int CreateFolderTree(const std::wstring& folder) {
  if (folder.empty()) return ERROR_INVALID_PARAMETER;
  if (IsDirectory(folder)) return 0;
  int rc = SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  if (rc == ERROR_SUCCESS || rc == ERROR_ALREADY_EXISTS || rc == ERROR_FILE_EXISTS) return IsDirectory(folder) ? 0 : rc;
  return rc;
}

bool IsDirectory(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int DeleteFolderTree(const std::wstring& folder) {
  if (!IsDirectory(folder)) return 0;
  WIN32_FIND_DATAW data;
  std::wstring pattern = folder + L"\\*";
  {
    UniqueFind find(FindFirstFileW(pattern.c_str(), &data));
    if (find) {
      do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring child = folder + L"\\" + name;
        const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (folder && !link) {
          DeleteFolderTree(child);
        } else if (folder) {
          RemoveDirectoryW(child.c_str());
        } else {
          SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
          DeleteFileW(child.c_str());
        }
      } while (FindNextFileW(find.get(), &data));
    }
  }
  if (!RemoveDirectoryW(folder.c_str())) return static_cast<int>(GetLastError());
  return 0;
}

bool IsContainedRelativePath(const std::string& name) {
  if (name.find(':') != std::string::npos) return false;
  if (!name.empty() && (name[0] == '\\' || name[0] == '/')) return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("\\/", start);
    if (end == std::string::npos) end = name.size();
    // Windows ignores trailing dots and blanks of an element, so ".. " and
    // "..." climb like "..".
    std::string element = name.substr(start, end - start);
    size_t keep = element.find_last_not_of(". ");
    if (element.size() >= 2 && keep == std::string::npos) return false;
    start = end + 1;
  }
  return true;
}

unsigned long WriteTextFile(const std::wstring& path, const std::string& text, bool* opened) {
  UniqueStdioFile file(_wfsopen(path.c_str(), L"w", _SH_DENYNO));
  if (opened) *opened = static_cast<bool>(file);
  if (!file) {
    DWORD error = GetLastError();
    return error ? error : ERROR_OPEN_FAILED;
  }
  size_t written = fwrite(text.data(), 1, text.size(), file.get());
  bool complete = written == text.size() && fflush(file.get()) == 0;
  DWORD error = complete ? 0 : GetLastError();
  if (fclose(file.release()) != 0 && complete) {
    complete = false;
    error = GetLastError();
  }
  if (complete) return 0;
  return error ? error : ERROR_WRITE_FAULT;
}
