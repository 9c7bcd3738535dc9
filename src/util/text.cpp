#include "util/text.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<TextErrorReporter> g_reporter{nullptr};

void Report(const char* message) {
  TextErrorReporter reporter = g_reporter.load();
  if (reporter) reporter(message);
}

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

TextErrorReporter SetTextErrorReporter(TextErrorReporter reporter) { return g_reporter.exchange(reporter); }

std::wstring ChangeUtf8ToWideStr(const char* utf8) {
  if (!utf8) {
    Report("ChangeUtf8ToWideStr: utf8 is empty! \n");
    return std::wstring();
  }
  return ToWide(CP_UTF8, utf8);
}

std::wstring ChangeToWideStr(const char* utf8) {
  if (!utf8) {
    Report("ChangeToWideStr: AnsiString is empty! \n");
    return std::wstring();
  }
  return ToWide(CP_UTF8, utf8);
}

std::string ChangeAnsiToUTF8Str(const char* ansi) {
  if (!ansi) {
    Report("ChangeAnsiToUTF8Str: ansiString is empty! \n");
    return std::string();
  }
  std::wstring wide = ToWide(CP_ACP, ansi);
  return FromWide(CP_UTF8, wide.c_str(), static_cast<int>(wide.size()));
}

std::string ChangeWideToUtf8Str(const wchar_t* wide) {
  if (!wide) {
    Report("ChangeWideToUtf8Str: wideString is empty! \n");
    return std::string();
  }
  return FromWide(CP_UTF8, wide, static_cast<int>(wcslen(wide)));
}

std::string ChangeWideToUtf8Str(const std::wstring& wide) {
  return FromWide(CP_UTF8, wide.c_str(), static_cast<int>(wide.size()));
}

std::string ChangeUTF8ToAnsiStr(const char* utf8) {
  if (!utf8) {
    Report("ChangeUTF8ToAnsiStr: utf8 is empty! \n");
    return std::string();
  }
  std::wstring wide = ToWide(CP_UTF8, utf8);
  return FromWide(CP_ACP, wide.c_str(), static_cast<int>(wide.size()));
}

std::string ChangeWideToAnsiStr(const wchar_t* wide) {
  if (!wide) {
    Report("ChangeWideToAnsiStr: wideString is empty! \n");
    return std::string();
  }
  return FromWide(CP_ACP, wide, static_cast<int>(wcslen(wide)));
}

std::wstring ChangeAnsiToWideStr(const char* ansi) {
  if (!ansi) {
    Report("ChangeAnsiToWideStr: AnsiString is empty! \n");
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

std::string ToLowerText(const std::string& utf8) {
  std::wstring wide = ToWide(CP_UTF8, utf8.c_str());
  if (!wide.empty()) CharLowerBuffW(&wide[0], static_cast<DWORD>(wide.size()));
  return FromWide(CP_UTF8, wide.c_str(), static_cast<int>(wide.size()));
}

int AtoiLike(const char* text) { return text ? atoi(text) : 0; }

int AtoiOrZero(const char* text) {
  if (!text) return 0;
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  long long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > 2147483648LL) return 0;
  }
  if (negative) value = -value;
  if (value > 2147483647LL || value < -2147483647LL - 1) return 0;
  return static_cast<int>(value);
}
