#include "util/text.h"

#include <gtest/gtest.h>

TEST(TextConversion, RoundTripsUtf8ThroughUtf16) {
  const char* utf8 = "Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80";  // Grüße 日本 😀
  std::wstring wide = ChangeUtf8ToWideStr(utf8);
  EXPECT_EQ(wide, L"Gr\u00fc\u00dfe \u65e5\u672c \U0001F600");
  EXPECT_EQ(ChangeToWideStr(utf8), wide);
  EXPECT_EQ(ChangeWideToUtf8Str(wide.c_str()), utf8);
}

namespace {
std::string g_reported;
void Capture(const char* message) { g_reported += message; }
}  // namespace

TEST(TextConversion, EmptyAndNullInputGiveEmptyResults) {
  // Null input is reported through the installed reporter, empty input is not.
  TextErrorReporter previous = SetTextErrorReporter(Capture);
  EXPECT_EQ(ChangeUtf8ToWideStr(""), L"");
  EXPECT_EQ(g_reported, "");
  EXPECT_EQ(ChangeAnsiToUTF8Str(nullptr), "");
  EXPECT_EQ(g_reported, "ChangeAnsiToUTF8Str: ansiString is empty! \n");
  SetTextErrorReporter(previous);
  EXPECT_EQ(ChangeUtf8ToWideStr(""), L"");
  EXPECT_EQ(ChangeUtf8ToWideStr(nullptr), L"");
  EXPECT_EQ(ChangeToWideStr(nullptr), L"");
  EXPECT_EQ(ChangeAnsiToUTF8Str(nullptr), "");
  EXPECT_EQ(ChangeWideToUtf8Str(nullptr), "");
  EXPECT_EQ(ChangeUTF8ToAnsiStr(nullptr), "");
  EXPECT_EQ(ChangeWideToAnsiStr(L""), "");
}

TEST(TextConversion, InvalidUtf8BecomesReplacementCharacterNotTruncation) {
  // A lone continuation byte and a truncated sequence in the middle.
  std::wstring wide = ChangeUtf8ToWideStr("a\x80" "b\xE6\x97" "c");
  ASSERT_GE(wide.size(), 4u);
  EXPECT_EQ(wide.front(), L'a');
  EXPECT_EQ(wide.back(), L'c');
  EXPECT_NE(wide.find(L'\uFFFD'), std::wstring::npos);
}

TEST(TextConversion, AnsiCodePageRoundTrip) {
  std::string ansi = ChangeUTF8ToAnsiStr("caf\xC3\xA9");
  EXPECT_EQ(ChangeAnsiToUTF8Str(ansi.c_str()), "caf\xC3\xA9");
  EXPECT_EQ(ChangeAnsiToWideStr(ansi.c_str()), L"caf\u00e9");
}

TEST(TextHelpers, AtoiAndCaseRules) {
  EXPECT_EQ(AtoiLike("731-setup.exe"), 731);
  EXPECT_EQ(AtoiLike("abc"), 0);
  EXPECT_EQ(AtoiLike(nullptr), 0);
  EXPECT_TRUE(EqualsNoCase("YeS", "yes"));
  EXPECT_FALSE(EqualsNoCase("yes", nullptr));
  EXPECT_EQ(ToLowerAscii("Corp.Local"), "corp.local");
}
