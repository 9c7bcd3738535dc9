// WMI queries against Wine's WMI, and the service-tag source order.
#include "exec/machine_identity.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include "util/text.h"

namespace {

WmiQueryOutcome Ok(const wchar_t* value) { return WmiQueryOutcome{0, std::wstring(value)}; }
WmiQueryOutcome NoObject() { return WmiQueryOutcome{0, std::nullopt}; }
WmiQueryOutcome Failed(long code) { return WmiQueryOutcome{code, std::nullopt}; }

}  // namespace

TEST(ServiceTagOrder, FirstNonEmptySourceWinsElseLastCode) {
  const long kInvalidClass = static_cast<long>(0x80041010);
  struct Case {
    const char* what;
    std::vector<WmiQueryOutcome> outcomes;
    long code;
    const wchar_t* value;
    int source;
  };
  const Case cases[] = {
      {"product number", {Ok(L"PN-1")}, 0, L"PN-1", 0},
      {"empty product number falls to the BIOS", {Ok(L""), Ok(L"BIOS-7")}, 0, L"BIOS-7", 1},
      {"failed and empty sources fall to the board", {Failed(kInvalidClass), NoObject(), Ok(L""), Ok(L"MB-3")}, 0,
       L"MB-3", 3},
      {"nothing anywhere keeps the last code", {Ok(L""), Ok(L""), Ok(L""), Failed(kInvalidClass)}, kInvalidClass,
       L"", -1},
      {"all empty but successful", {Ok(L""), NoObject(), Ok(L""), NoObject()}, 0, L"", -1},
      {"an earlier failure does not stick", {Failed(kInvalidClass), Ok(L"BIOS-9")}, 0, L"BIOS-9", 1},
  };
  for (const Case& c : cases) {
    ServiceTagChoice choice = ChooseServiceTag(c.outcomes);
    EXPECT_EQ(choice.code, c.code) << c.what;
    EXPECT_EQ(choice.value, c.value) << c.what;
    EXPECT_EQ(choice.source, c.source) << c.what;
  }
}

TEST(WmiQuery, WineAnswersTheIdentityClasses) {
  const wchar_t* const queries[][2] = {
      {L"SELECT * FROM Win32_ComputerSystemProduct", L"UUID"},
      {L"SELECT * FROM Win32_ComputerSystemProduct", L"IdentifyingNumber"},
      {L"SELECT * FROM Win32_Bios", L"SerialNumber"},
      {L"SELECT * FROM Win32_BaseBoard", L"SerialNumber"},
  };
  for (const auto& q : queries) {
    std::optional<std::wstring> value;
    EXPECT_EQ(GetValuesUsingWMIQuery(&value, q[0], q[1]), 0) << ChangeWideToUtf8Str(q[0]);
    if (value) {
      EXPECT_LE(value->size(), 259u);
    }
  }
}

TEST(WmiQuery, FailuresReturnTheirCodeAndLeaveTheValueAlone) {
  std::optional<std::wstring> value = std::wstring(L"untouched");
  // Windows refuses an unknown class, Wine answers it with no objects: either
  // way there is no value.
  GetValuesUsingWMIQuery(&value, L"SELECT * FROM Win32_NoSuchClassAtAll", L"Name");
  EXPECT_EQ(value, std::wstring(L"untouched"));
  EXPECT_NE(GetValuesUsingWMIQuery(&value, L"this is not WQL", L"Name"), 0);
  EXPECT_EQ(value, std::wstring(L"untouched"));
}

TEST(WmiQuery, NoObjectOrANullPropertySucceedsWithoutValue) {
  std::optional<std::wstring> value;
  EXPECT_EQ(GetValuesUsingWMIQuery(&value, L"SELECT * FROM Win32_Process WHERE ProcessId = 4294967295", L"Name"), 0);
  EXPECT_FALSE(value.has_value());
  // Wine's product record has no SKU number: the property is null.
  EXPECT_EQ(GetValuesUsingWMIQuery(&value, L"SELECT * FROM Win32_ComputerSystemProduct", L"SKUNumber"), 0);
  EXPECT_FALSE(value.has_value());
}

TEST(MachineIdentity, UuidAndServiceTagMatchTheirSources) {
  std::optional<std::wstring> uuid;
  ASSERT_EQ(GetValuesUsingWMIQuery(&uuid, L"SELECT * FROM Win32_ComputerSystemProduct", L"UUID"), 0);
  std::string uuidText;
  EXPECT_EQ(GetLocalMachineUUID(&uuidText), 0);
  EXPECT_EQ(uuidText, uuid ? ChangeWideToUtf8Str(uuid->c_str()) : std::string());

  // Query the four sources here and apply the order by hand.
  const wchar_t* const sources[][2] = {
      {L"SELECT * FROM Win32_ComputerSystemProduct", L"IdentifyingNumber"},
      {L"SELECT * FROM Win32_Bios", L"SerialNumber"},
      {L"SELECT * FROM Win32_SystemEnclosure", L"SerialNumber"},
      {L"SELECT * FROM Win32_BaseBoard", L"SerialNumber"},
  };
  std::vector<WmiQueryOutcome> outcomes;
  for (const auto& s : sources) {
    WmiQueryOutcome o;
    o.code = GetValuesUsingWMIQuery(&o.value, s[0], s[1]);
    outcomes.push_back(o);
  }
  ServiceTagChoice expected = ChooseServiceTag(outcomes);
  std::string tag = "stale";
  long code = GetLocalMachineServiceTag(&tag);
  EXPECT_EQ(tag, ChangeWideToUtf8Str(expected.value.c_str()));
  if (expected.source >= 0) {
    EXPECT_EQ(code, 0);
  }
}

TEST(MachineIdentity, CallerInASingleThreadedApartmentStillGetsAnAnswer) {
  // The query gives up the caller's apartment for the multithreaded one; it
  // must not fail with a changed-mode error.
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  std::optional<std::wstring> value;
  EXPECT_EQ(GetValuesUsingWMIQuery(&value, L"SELECT * FROM Win32_Bios", L"SerialNumber"), 0);
}
