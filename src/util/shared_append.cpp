#include "util/shared_append.h"

#include <cwchar>

#include "util/handles.h"

namespace {

// One write of the whole text; 0 or the system error.
unsigned long WriteWhole(HANDLE file, const std::string& text) {
  if (text.empty()) return 0;
  DWORD written = 0;
  if (!WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
    DWORD error = GetLastError();
    return error ? error : ERROR_WRITE_FAULT;
  }
  return written == text.size() ? 0 : ERROR_WRITE_FAULT;
}

}  // namespace

std::wstring AppendMutexName(const std::wstring& path) {
  std::wstring lower = path;
  if (!lower.empty()) CharLowerBuffW(&lower[0], static_cast<DWORD>(lower.size()));
  unsigned long long hash = 14695981039346656037ULL;  // FNV-1a
  for (wchar_t c : lower) {
    hash ^= static_cast<unsigned long long>(c);
    hash *= 1099511628211ULL;
  }
  // The prefix is the one the agent log's mutex has always had; it names
  // every shared file's mutex, so all versions of the program agree.
  wchar_t name[64];
  swprintf(name, 64, L"rzprereqhandler_log_%016llx", hash);
  return name;
}

AppendMutexHold::AppendMutexHold(HANDLE mutex) : mutex_(mutex), held_(false) {
  if (!mutex_) return;
  DWORD wait = WaitForSingleObject(mutex_, 2000);
  held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

AppendMutexHold::~AppendMutexHold() {
  if (held_) ReleaseMutex(mutex_);
}

std::string ToTextModeLineEnds(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 16);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

unsigned long AppendToSharedFile(const std::wstring& path, const std::string& header, const std::string& text) {
  UniqueHandleNull mutex(CreateMutexW(nullptr, FALSE, AppendMutexName(path).c_str()));
  AppendMutexHold hold(mutex.get());
  UniqueFile file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    DWORD error = GetLastError();
    return error ? error : ERROR_OPEN_FAILED;
  }
  // Read on the very next line: OPEN_ALWAYS tells an existing file this way.
  const bool created = GetLastError() != ERROR_ALREADY_EXISTS;
  if (created) {
    unsigned long rc = WriteWhole(file.get(), header);
    if (rc != 0) return rc;
  }
  return WriteWhole(file.get(), text);
}
