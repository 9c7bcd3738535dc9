#include "exec/error_text.h"

#include <gtest/gtest.h>

TEST(ErrorText, TableCodesWhenTheSystemHasNoText) {
  // Wine has no message for these; Windows has none either.
  EXPECT_EQ(GetErrorMessageText(17025), "OfficeUpdateError: Patch already installed.");
  EXPECT_EQ(GetErrorMessageText(20001), "Patch update delayed since application is used by another process");
  EXPECT_EQ(GetErrorMessageText(2359302),
            "Patch already Installed and the changes will not be effective until the system is rebooted.");
  EXPECT_EQ(GetErrorMessageText(17048), "OfficeUpdateError : This installation requires Windows Installer 3.1 or greater.");
}

TEST(ErrorText, UnknownCodesFallBackWithTheNumber) {
  EXPECT_EQ(GetErrorMessageText(987654), "Unknown Error. Code : 987654");
  EXPECT_EQ(GetErrorMessageText(-7), "Unknown Error. Code : -7");
}

TEST(ErrorText, SystemTextIsOneLineOrFallback) {
  // File not found: the system's text (without line breaks) or the fallback.
  std::string text = GetErrorMessageText(2);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_EQ(text.find('\r'), std::string::npos);
  // 3010 may be missing from Wine's table; either text is acceptable.
  std::string reboot = GetErrorMessageText(3010);
  EXPECT_TRUE(reboot == "Unknown Error. Code : 3010" || reboot.find("Unknown") == std::string::npos);
}

TEST(ErrorText, TableIsConsultedOnlyForItsOwnCodes) {
  EXPECT_EQ(ErrorTextFromTable(1508).substr(0, 30), "The requested operation is suc");
  EXPECT_EQ(ErrorTextFromTable(17022), "");
  EXPECT_EQ(ErrorTextFromTable(0), "");
}
