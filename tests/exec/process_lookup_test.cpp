#include "exec/process_lookup.h"

#include <gtest/gtest.h>

TEST(ProcessLookup, NamesMatchIgnoringCaseOverFifteenCharacters) {
  struct Case {
    const wchar_t* process;
    const wchar_t* wanted;
    bool matches;
  };
  const Case cases[] = {
      {L"WINWORD.exe", L"WINWORD.exe", true},
      {L"excel.EXE", L"EXCEL.exe", true},
      {L"WINWORD.exe2", L"WINWORD.exe", false},
      {L"WINWORD.ex", L"WINWORD.exe", false},
      {L"WINWORD.exe", L"", false},
      // 16 characters: only the first 15 count.
      {L"LYNCHTMLCONV.EXX", L"lynchtmlconv.exe", true},
      {L"lynchtmlconv.ex", L"lynchtmlconv.exe", true},
      {L"lynchtmlconv.e", L"lynchtmlconv.exe", false},
      {L"LYNC.exe", L"lynchtmlconv.exe", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProcessNameMatches(c.process, c.wanted), c.matches)
        << "process " << testing::PrintToString(c.process) << ", wanted " << testing::PrintToString(c.wanted);
  }
}
