// Text conversions between UTF-8, the thread's ANSI code page and UTF-16.
// Every helper returns a fresh string owned by the caller. A null input is a
// caller error: it is reported through the text error reporter and gives an
// empty result. Invalid input sequences become U+FFFD (or '?' in ANSI) rather
// than failing.
//
// Narrow texts inside the program are UTF-8. ANSI text (command-line
// arguments, ANSI registry calls) is converted once, where it enters.
#pragma once

#include <string>

// This layer sits below the log and never writes to it. The log installs a
// reporter at open time, so a caller's bad input still reaches the agent log.
using TextErrorReporter = void (*)(const char* message);
// Installs the reporter (null: none) and returns the one it replaces.
TextErrorReporter SetTextErrorReporter(TextErrorReporter reporter);

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
// Lower case of UTF-8 text through the current locale's mapping
// (CharLowerBuffW), so letters outside ASCII are lowered too.
std::string ToLowerText(const std::string& utf8);
// C library atoi rules: optional blanks and sign, leading digits, 0 when none.
int AtoiLike(const char* text);
// The same rules, but a number that does not fit a signed 32-bit int gives 0
// instead of an unspecified value.
int AtoiOrZero(const char* text);
