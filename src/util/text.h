// Text conversions between UTF-8, the thread's ANSI code page and UTF-16.
// Every helper returns a fresh string owned by the caller. A null input is a
// caller error: it is logged and gives an empty result. Invalid input
// sequences become U+FFFD (or '?' in ANSI) rather than failing.
#pragma once

#include <string>

std::wstring ChangeUtf8ToWideStr(const char* utf8);
// Same conversion as ChangeUtf8ToWideStr; kept for the callers that name it.
std::wstring ChangeToWideStr(const char* utf8);
std::string ChangeAnsiToUTF8Str(const char* ansi);
std::string ChangeWideToUtf8Str(const wchar_t* wide);
// Converts the whole text, embedded null characters included.
std::string ChangeWideToUtf8Str(const std::wstring& wide);
std::string ChangeUTF8ToAnsiStr(const char* utf8);
std::string ChangeWideToAnsiStr(const wchar_t* wide);
std::wstring ChangeAnsiToWideStr(const char* ansi);

// Case-insensitive comparison of ASCII/ANSI text, as the C library's _stricmp.
bool EqualsNoCase(const std::string& a, const char* b);
std::string ToLowerAscii(std::string text);
// C library atoi rules: optional blanks and sign, leading digits, 0 when none.
int AtoiLike(const char* text);
