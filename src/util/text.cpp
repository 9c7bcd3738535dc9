#include "util/text.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "log/agent_log.h"

namespace {

std::wstring ToWide(UINT codePage, const char* text) {
  int length = static_cast<int>(strlen(text));
  if (length == 0) return std::wstring();
  int needed = MultiByteToWideChar(codePage, 0, text, length, nullptr, 0);
  if (needed <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(needed), L'\0');
  MultiByteToWideChar(codePage, 0, text, length, &out[0], needed);
  return out;
}

std::string FromWide(UINT codePage, const wchar_t* text, int length) {
  if (length == 0) return std::string();
  int needed = WideCharToMultiByte(codePage, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string();
  std::string out(static_cast<size_t>(needed), '\0');
  WideCharToMultiByte(codePage, 0, text, length, &out[0], needed, nullptr, nullptr);
  return out;
}

}  // namespace

std::wstring ChangeUtf8ToWideStr(const char* utf8) {
  if (!utf8) {
    LogError("ChangeUtf8ToWideStr: utf8 is empty! \n");
    return std::wstring();
  }
  return ToWide(CP_UTF8, utf8);
}

std::wstring ChangeToWideStr(const char* utf8) {
  if (!utf8) {
    LogError("ChangeToWideStr: AnsiString is empty! \n");
    return std::wstring();
  }
  return ToWide(CP_UTF8, utf8);
}

std::string ChangeAnsiToUTF8Str(const char* ansi) {
  if (!ansi) {
    LogError("ChangeAnsiToUTF8Str: ansiString is empty! \n");
    return std::string();
  }
  std::wstring wide = ToWide(CP_ACP, ansi);
  return FromWide(CP_UTF8, wide.c_str(), static_cast<int>(wide.size()));
}

std::string ChangeWideToUtf8Str(const wchar_t* wide) {
  if (!wide) {
    LogError("ChangeWideToUtf8Str: wideString is empty! \n");
    return std::string();
  }
  return FromWide(CP_UTF8, wide, static_cast<int>(wcslen(wide)));
}

std::string ChangeWideToUtf8Str(const std::wstring& wide) {
  return FromWide(CP_UTF8, wide.c_str(), static_cast<int>(wide.size()));
}

std::string ChangeUTF8ToAnsiStr(const char* utf8) {
  if (!utf8) {
    LogError("ChangeUTF8ToAnsiStr: utf8 is empty! \n");
    return std::string();
  }
  std::wstring wide = ToWide(CP_UTF8, utf8);
  return FromWide(CP_ACP, wide.c_str(), static_cast<int>(wide.size()));
}

std::string ChangeWideToAnsiStr(const wchar_t* wide) {
  if (!wide) {
    LogError("ChangeWideToAnsiStr: wideString is empty! \n");
    return std::string();
  }
  return FromWide(CP_ACP, wide, static_cast<int>(wcslen(wide)));
}

std::wstring ChangeAnsiToWideStr(const char* ansi) {
  if (!ansi) {
    LogError("ChangeAnsiToWideStr: AnsiString is empty! \n");
    return std::wstring();
  }
  return ToWide(CP_ACP, ansi);
}

bool EqualsNoCase(const std::string& a, const char* b) {
  return b != nullptr && _stricmp(a.c_str(), b) == 0;
}

std::string ToLowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

int AtoiLike(const char* text) { return text ? atoi(text) : 0; }
