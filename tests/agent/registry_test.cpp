#include "agent/registry.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/test_support.h"
#include "util/handles.h"

using testing_support::ScopedTestKey;

namespace {

// Raw read in an explicit view, bypassing the layer under test.
std::vector<BYTE> RawValue(const std::string& subkey, const char* name, REGSAM view, DWORD* type = nullptr) {
  UniqueHKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ | view, key.put()) != 0) return {};
  DWORD size = 0;
  DWORD valueType = 0;
  std::wstring wideName(name, name + strlen(name));
  if (RegQueryValueExW(key.get(), wideName.c_str(), nullptr, &valueType, nullptr, &size) != 0) return {};
  std::vector<BYTE> data(size);
  RegQueryValueExW(key.get(), wideName.c_str(), nullptr, &valueType, data.data(), &size);
  if (type) *type = valueType;
  return data;
}

DWORD AsDword(const std::vector<BYTE>& data) {
  DWORD v = 0;
  if (data.size() >= 4) memcpy(&v, data.data(), 4);
  return v;
}

void SetRaw(const std::string& subkey, const wchar_t* name, DWORD type, const void* data, DWORD size, REGSAM view) {
  UniqueHKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, std::wstring(subkey.begin(), subkey.end()).c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS | view, nullptr, key.put(), nullptr),
            0);
  ASSERT_EQ(RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size), 0);
}

}  // namespace

TEST(RegistryViews, PlainAndExCallsStayInTheirOwnView) {
  ScopedTestKey key("views");
  ASSERT_EQ(writeValue(HKEY_LOCAL_MACHINE, key.path().c_str(), "Name", "in32", REG_SZ), 0);
  ASSERT_EQ(writeValueEx(HKEY_LOCAL_MACHINE, key.path().c_str(), "Name", "in64", REG_SZ, 1), 0);

  std::string text;
  EXPECT_EQ(ReadViewString(key.path().c_str(), "Name", &text, 0), 0);
  EXPECT_EQ(text, "in32");
  EXPECT_EQ(ReadViewString(key.path().c_str(), "Name", &text, 1), 0);
  EXPECT_EQ(text, "in64");
  EXPECT_EQ(ReadRegSZ(HKEY_LOCAL_MACHINE, key.path().c_str(), "Name", &text), 0);
  EXPECT_EQ(text, "in32");
  EXPECT_EQ(ReadRegSZEx(HKEY_LOCAL_MACHINE, key.path().c_str(), "Name", &text, 1), 0);
  EXPECT_EQ(text, std::string("in64\0", 5));  // the stored bytes, terminator included
  // A multi-string comes back whole, not cut at its first element.
  ASSERT_EQ(writeValueEx(HKEY_LOCAL_MACHINE, key.path().c_str(), "Multi", "a;bc", REG_MULTI_SZ, 1), 0);
  EXPECT_EQ(ReadRegSZEx(HKEY_LOCAL_MACHINE, key.path().c_str(), "Multi", &text, 1), 0);
  EXPECT_EQ(text, std::string("a\0bc\0\0", 6));

  // A value only in the 64-bit view is invisible to the plain readers.
  ASSERT_EQ(writeValueEx(HKEY_LOCAL_MACHINE, key.path().c_str(), "Only64", "7", REG_DWORD, 1), 0);
  DWORD value = 99;
  EXPECT_EQ(ReadDwordRegistryData(HKEY_LOCAL_MACHINE, key.path().c_str(), "Only64", &value), 2);
  EXPECT_EQ(value, 99u);
  EXPECT_EQ(ReadDwordRegistryDataEx(HKEY_LOCAL_MACHINE, key.path().c_str(), "Only64", &value, 1), 0);
  EXPECT_EQ(value, 7u);

  EXPECT_EQ(deleteValueEx(HKEY_LOCAL_MACHINE, key.path().c_str(), "Name", 1), 0);
  EXPECT_EQ(ReadViewString(key.path().c_str(), "Name", &text, 0), 0);  // 32-bit copy survives
  EXPECT_EQ(ReadViewString(key.path().c_str(), "Name", &text, 1), 2);
}

TEST(RegistryEncoding, DwordConversionsDifferBetweenWriters) {
  ScopedTestKey key("dword");
  const std::string& k = key.path();
  ASSERT_EQ(writeValue(HKEY_LOCAL_MACHINE, k.c_str(), "Plain", "4294967295", REG_DWORD), 0);
  ASSERT_EQ(writeValueEx(HKEY_LOCAL_MACHINE, k.c_str(), "Ex", "4294967295", REG_DWORD, 0), 0);
  ASSERT_EQ(writeValue(HKEY_LOCAL_MACHINE, k.c_str(), "Signed", "  -12abc", REG_DWORD), 0);
  ASSERT_EQ(writeValueEx(HKEY_LOCAL_MACHINE, k.c_str(), "ExNeg", "-5", REG_DWORD, 0), 0);
  ASSERT_EQ(writeValue(HKEY_LOCAL_MACHINE, k.c_str(), "Empty", "--", REG_DWORD), 0);
  DWORD type = 0;
  EXPECT_EQ(AsDword(RawValue(k, "Plain", KEY_WOW64_32KEY, &type)), 2147483647u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(AsDword(RawValue(k, "Ex", KEY_WOW64_32KEY)), 4294967295u);
  EXPECT_EQ(static_cast<LONG>(AsDword(RawValue(k, "Signed", KEY_WOW64_32KEY))), -12);
  EXPECT_EQ(AsDword(RawValue(k, "ExNeg", KEY_WOW64_32KEY)), 4294967291u);
  EXPECT_EQ(RawValue(k, "Empty", KEY_WOW64_32KEY).size(), 4u);
  EXPECT_EQ(AsDword(RawValue(k, "Empty", KEY_WOW64_32KEY)), 0u);
}

TEST(RegistryEncoding, MultiStringCaretAndSemicolonRules) {
  ScopedTestKey key("multi");
  const std::string& k = key.path();
  ASSERT_EQ(writeValueEx(HKEY_LOCAL_MACHINE, k.c_str(), "Ex", "a;b^;c;d^^e", REG_MULTI_SZ, 0), 0);
  ASSERT_EQ(writeValue(HKEY_LOCAL_MACHINE, k.c_str(), "Plain", "a;b", REG_MULTI_SZ), 0);
  std::vector<BYTE> ex = RawValue(k, "Ex", KEY_WOW64_32KEY);
  std::wstring exText(reinterpret_cast<const wchar_t*>(ex.data()), ex.size() / 2);
  EXPECT_EQ(exText, std::wstring(L"a\0b;c\0d^e\0\0", 11));
  std::vector<BYTE> plain = RawValue(k, "Plain", KEY_WOW64_32KEY);
  std::wstring plainText(reinterpret_cast<const wchar_t*>(plain.data()), plain.size() / 2);
  EXPECT_EQ(plainText, std::wstring(L"a;b\0\0", 5));
}

TEST(RegistryEncoding, QwordWrapsAndBinaryDiffers) {
  ScopedTestKey key("qword");
  const std::string& k = key.path();
  ASSERT_EQ(writeValue(HKEY_LOCAL_MACHINE, k.c_str(), "Big", "18446744073709551616", REG_QWORD), 0);  // 2^64
  ASSERT_EQ(writeValue(HKEY_LOCAL_MACHINE, k.c_str(), "Small", "1234", REG_QWORD), 0);
  std::vector<BYTE> big = RawValue(k, "Big", KEY_WOW64_32KEY);
  ASSERT_EQ(big.size(), 8u);
  unsigned long long v = 0;
  memcpy(&v, big.data(), 8);
  EXPECT_EQ(v, 0u);
  memcpy(&v, RawValue(k, "Small", KEY_WOW64_32KEY).data(), 8);
  EXPECT_EQ(v, 1234u);

  ASSERT_EQ(writeValue(HKEY_LOCAL_MACHINE, k.c_str(), "BinPlain", "ab", REG_BINARY), 0);
  ASSERT_EQ(writeValueEx(HKEY_LOCAL_MACHINE, k.c_str(), "BinEx", "ab", REG_BINARY, 0), 0);
  EXPECT_EQ(RawValue(k, "BinPlain", KEY_WOW64_32KEY).size(), 6u);  // UTF-16 + terminator
  EXPECT_EQ(RawValue(k, "BinEx", KEY_WOW64_32KEY), (std::vector<BYTE>{'a', 'b', 0}));
}

TEST(RegistryEncoding, DefaultValueTokenAndStringBytes) {
  ScopedTestKey key("default");
  const std::string& k = key.path();
  ASSERT_EQ(writeValue(HKEY_LOCAL_MACHINE, k.c_str(), "--", "--", REG_SZ), 0);
  DWORD type = 0;
  std::vector<BYTE> def = RawValue(k, "", KEY_WOW64_32KEY, &type);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(def, (std::vector<BYTE>{0, 0}));
  ASSERT_EQ(writeValue(HKEY_LOCAL_MACHINE, k.c_str(), "Text", "\xC3\xA9t\xC3\xA9", REG_SZ), 0);  // été
  EXPECT_EQ(RawValue(k, "Text", KEY_WOW64_32KEY).size(), 8u);
  std::string text;
  EXPECT_EQ(ReadRegSZ(HKEY_LOCAL_MACHINE, k.c_str(), "Text", &text), 0);
  EXPECT_EQ(text, "\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(deleteValue(HKEY_LOCAL_MACHINE, k.c_str(), "--"), 0);
  EXPECT_EQ(writeValue(HKEY_LOCAL_MACHINE, k.c_str(), nullptr, "x", REG_SZ), 13);
}

TEST(RegistryReaders, MissingValuesReturnTwoAndLeaveTheDefault) {
  ScopedTestKey key("missing");
  DWORD value = 42;
  EXPECT_EQ(ReadDwordRegistryData(HKEY_LOCAL_MACHINE, key.path().c_str(), "Nope", &value), 2);
  EXPECT_EQ(value, 42u);
  std::string text = "keep";
  EXPECT_EQ(ReadViewString(key.path().c_str(), "Nope", &text, 0), 2);
  EXPECT_EQ(text, "keep");
  EXPECT_EQ(ReadViewDword(key.path().c_str(), "Nope", &value, 1), 2);
  EXPECT_EQ(value, 42u);
  EXPECT_EQ(ReadRegSZ(HKEY_LOCAL_MACHINE, key.path().c_str(), "Nope", &text), 2);
  EXPECT_EQ(text, "");
  addRegistryKey(HKEY_LOCAL_MACHINE, key.path().c_str());
  EXPECT_EQ(ReadDwordRegistryData(HKEY_LOCAL_MACHINE, key.path().c_str(), "Nope", &value), 2);
  EXPECT_EQ(value, 42u);
}

TEST(RegistryReaders, ViewStringRefusesMalformedData) {
  ScopedTestKey key("malformed");
  const std::string& k = key.path();
  DWORD number = 5;
  SetRaw(k, L"Dword", REG_DWORD, &number, 4, KEY_WOW64_32KEY);
  const BYTE odd[] = {'a', 0, 0};
  SetRaw(k, L"Odd", REG_SZ, odd, sizeof(odd), KEY_WOW64_32KEY);
  SetRaw(k, L"Expand", REG_EXPAND_SZ, L"%TEMP%", 14, KEY_WOW64_32KEY);
  SetRaw(k, L"Str", REG_SZ, L"5", 4, KEY_WOW64_32KEY);
  SetRaw(k, L"LongStr", REG_SZ, L"12345", 12, KEY_WOW64_32KEY);

  std::string text = "keep";
  EXPECT_EQ(ReadViewString(k.c_str(), "Dword", &text, 0), 13);
  EXPECT_EQ(ReadViewString(k.c_str(), "Odd", &text, 0), 13);
  EXPECT_EQ(text, "keep");
  EXPECT_EQ(ReadViewString(k.c_str(), "Expand", &text, 0), 0);
  EXPECT_EQ(text, "%TEMP%");

  DWORD value = 0;
  EXPECT_EQ(ReadViewDword(k.c_str(), "Dword", &value, 0), 0);
  EXPECT_EQ(value, 5u);
  // Wrong type: the bytes are stored, but the result is 13.
  EXPECT_EQ(ReadViewDword(k.c_str(), "Str", &value, 0), 13);
  EXPECT_EQ(value, static_cast<DWORD>(L'5'));
  // Longer than a DWORD: still the type's refusal, not "more data".
  EXPECT_EQ(ReadViewDword(k.c_str(), "LongStr", &value, 0), 13);
}

TEST(RegistryReaders, ViewStringDataRules) {
  // Wine adds the terminator a value lacks once the registry is saved and
  // reloaded, so the missing-terminator rule is checked on raw bytes.
  const wchar_t terminated[] = L"ab";
  const wchar_t unterminated[] = {L'a', L'b'};
  const BYTE odd[] = {'a', 0, 0};
  const BYTE* t = reinterpret_cast<const BYTE*>(terminated);
  EXPECT_EQ(CheckViewStringData(REG_SZ, t, 6), 0);
  EXPECT_EQ(CheckViewStringData(REG_EXPAND_SZ, t, 6), 0);
  EXPECT_EQ(CheckViewStringData(REG_MULTI_SZ, t, 6), 13);
  EXPECT_EQ(CheckViewStringData(REG_SZ, reinterpret_cast<const BYTE*>(unterminated), 4), 13);
  EXPECT_EQ(CheckViewStringData(REG_SZ, odd, 3), 13);
  EXPECT_EQ(CheckViewStringData(REG_SZ, t, 0), 13);
}

TEST(RegistryReaders, ViewStringLengthLimit) {
  ScopedTestKey key("long");
  std::wstring fits(2047, L'x');
  std::wstring tooLong(2048, L'y');
  SetRaw(key.path(), L"Fits", REG_SZ, fits.c_str(), static_cast<DWORD>((fits.size() + 1) * 2), KEY_WOW64_32KEY);
  SetRaw(key.path(), L"TooLong", REG_SZ, tooLong.c_str(), static_cast<DWORD>((tooLong.size() + 1) * 2),
         KEY_WOW64_32KEY);
  std::string text;
  EXPECT_EQ(ReadViewString(key.path().c_str(), "Fits", &text, 0), 0);
  EXPECT_EQ(text.size(), 2047u);
  EXPECT_EQ(ReadViewString(key.path().c_str(), "TooLong", &text, 0), ERROR_MORE_DATA);
}

TEST(RegistryKeys, DeleteRefusesEmptySubkeyAndRemovesTrees) {
  ScopedTestKey key("tree");
  std::string child = key.path() + "\\a\\b";
  ASSERT_EQ(writeValue(HKEY_LOCAL_MACHINE, child.c_str(), "V", "1", REG_DWORD), 0);
  EXPECT_EQ(deleteRegistryKey(HKEY_LOCAL_MACHINE, ""), 2);
  EXPECT_EQ(deleteRegistryKey(HKEY_LOCAL_MACHINE, nullptr), 2);
  DWORD value = 0;
  EXPECT_EQ(ReadDwordRegistryData(HKEY_LOCAL_MACHINE, child.c_str(), "V", &value), 0);
  EXPECT_EQ(deleteRegistryKey(HKEY_LOCAL_MACHINE, (key.path() + "\\a").c_str()), 0);
  EXPECT_EQ(ReadDwordRegistryData(HKEY_LOCAL_MACHINE, child.c_str(), "V", &value), 2);

  ASSERT_EQ(writeValue(HKEY_LOCAL_MACHINE, child.c_str(), "V", "1", REG_DWORD), 0);
  EXPECT_EQ(DeleteRegistryKeyTree(HKEY_LOCAL_MACHINE, (key.path() + "\\a").c_str()), 1);
  EXPECT_EQ(ReadDwordRegistryData(HKEY_LOCAL_MACHINE, child.c_str(), "V", &value), 2);
  EXPECT_EQ(DeleteRegistryKeyTree(HKEY_LOCAL_MACHINE, (key.path() + "\\a").c_str()), 0);
}
