#include "options/run_options.h"

#include <gtest/gtest.h>

namespace {
RunOptions Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "OfficeInstaller.exe");
  RunOptions options;
  ParseCommandLine(args, "C:\\agent\\", &options);
  return options;
}
}  // namespace

TEST(CommandLine, FullDeploymentLine) {
  RunOptions o = Parse({"-pid", "12", "-ch", "C1", "-oce", "E1", "-in", "pkg.exe", "-prid", "P1", "-v", "1.0"});
  EXPECT_EQ(o.patchId, 12);
  EXPECT_EQ(o.channel, "C1");
  EXPECT_EQ(o.clientEdition, "E1");
  EXPECT_EQ(o.installerPath, "C:\\agent\\\\patches\\pkg.exe");
  EXPECT_EQ(o.productReleaseId, "P1");
  EXPECT_EQ(o.version, "1.0");
  EXPECT_FALSE(o.debugMode);
  EXPECT_TRUE(ValidateRunOptions(o));
}

TEST(CommandLine, ConsumptionRules) {
  RunOptions o = Parse({"-debugwithoutlang", "-pid", "5"});
  EXPECT_TRUE(o.debugMode);
  EXPECT_FALSE(o.debugWithLang);
  EXPECT_EQ(o.patchId, 0);  // "-pid" was the ignored value; "5" is skipped

  o = Parse({"-PID", "7", "junk", "-Ch", "X"});
  EXPECT_EQ(o.patchId, 7);
  EXPECT_EQ(o.channel, "X");

  o = Parse({"-pid", "1", "-v"});
  EXPECT_EQ(o.version, "");
  EXPECT_FALSE(ValidateRunOptions(o));

  o = Parse({"-v", "2.0", "-v"});  // a trailing -v keeps the earlier value
  EXPECT_EQ(o.version, "2.0");

  o = Parse({"-pid"});
  EXPECT_EQ(o.patchId, 0);
  o = Parse({"-pid", "12abc", "-pid", "x"});
  EXPECT_EQ(o.patchId, 0);  // given again: overwritten, non-numeric gives 0
}

TEST(CommandLine, DebugWithLanguageTypes) {
  struct Case {
    std::vector<std::string> args;
    std::string language;
    int type;
  } cases[] = {
      {{"-debugwithlang", "de-DE", "3"}, "de-DE", 3},
      {{"-debugwithlang", "de-DE", "x"}, "de-DE", 4},
      {{"-debugwithlang", "ja-JP", "1"}, "ja-JP", 1},
      {{"-debugwithlang", "fr-FR"}, "fr-FR", 4},
      {{"-debugwithlang"}, "", 4},
  };
  for (const Case& c : cases) {
    RunOptions o = Parse(c.args);
    EXPECT_TRUE(o.debugMode);
    EXPECT_TRUE(o.debugWithLang);
    EXPECT_EQ(o.debugLanguage, c.language);
    EXPECT_EQ(o.debugPromptType, c.type);
  }
  // The type argument is examined next: an option there still takes effect.
  RunOptions o = Parse({"-debugwithlang", "de-DE", "-pid", "9"});
  EXPECT_EQ(o.debugPromptType, 4);
  EXPECT_EQ(o.patchId, 9);
}

TEST(CommandLine, ValidationNeedsEveryField) {
  RunOptions full = Parse({"-pid", "12", "-ch", "C1", "-oce", "E1", "-in", "pkg.exe", "-prid", "P1", "-v", "1.0"});
  ASSERT_TRUE(ValidateRunOptions(full));
  RunOptions o = full;
  o.patchId = 0;
  EXPECT_FALSE(ValidateRunOptions(o));
  for (std::string RunOptions::*field : {&RunOptions::channel, &RunOptions::clientEdition, &RunOptions::installerPath,
                                         &RunOptions::productReleaseId, &RunOptions::version}) {
    o = full;
    o.*field = "";
    EXPECT_FALSE(ValidateRunOptions(o));
  }
}

TEST(CommandLine, PatchIdsAndInstallerNamesThatCannotBeTrusted) {
  struct Case {
    const char* pid;
    const char* installer;
    bool valid;
  } cases[] = {
      {"2147483647", "pkg.exe", true},
      {"1", "sub\\pkg.exe", true},
      {"1", "\xE9\x80\x9A\xE9\x81\x93.exe", true},
      {"4294967297", "pkg.exe", false},  // would wrap onto package 1
      {"2147483648", "pkg.exe", false},
      {"-5", "pkg.exe", false},
      {"0", "pkg.exe", false},
      {"1", "..\\..\\outside.exe", false},
      {"1", "sub/../../outside.exe", false},
      {"1", "C:\\outside.exe", false},
      {"1", "C:outside.exe", false},
      {"1", "\\\\server\\share\\x.exe", false},
      {"1", "/outside.exe", false},
      {"1", "pkg.exe:stream", false},
      {"1", "sub\\.. \\x.exe", false},
  };
  for (const Case& c : cases) {
    RunOptions o = Parse({"-pid", c.pid, "-ch", "C1", "-oce", "E1", "-in", c.installer, "-prid", "P1", "-v", "1.0"});
    EXPECT_EQ(ValidateRunOptions(o), c.valid) << c.pid << " " << c.installer;
  }
}

TEST(DerivedValues, FileNameNumber) {
  EXPECT_EQ(FileNameNumberFromPath("C:\\agent\\bin\\731-setup.exe"), 731);
  EXPECT_EQ(FileNameNumberFromPath("C:/agent/bin/42-x-y.exe"), 42);
  EXPECT_EQ(FileNameNumberFromPath("C:\\dir-9\\OfficeInstaller.exe"), 0);
  EXPECT_EQ(FileNameNumberFromPath("88.exe"), 88);
  EXPECT_EQ(FileNameNumberFromPath("C:\\agent\\4294967297-setup.exe"), 0);  // does not fit

}

TEST(DerivedValues, PackageFolderIsNormalised) {
  EXPECT_EQ(PackageFolderFor("C:\\agent\\", 12), "C:\\agent\\patches\\office\\12");
  EXPECT_EQ(PackageFolderFor("C:/agent//x/", 5), "C:\\agent\\x\\patches\\office\\5");
  EXPECT_EQ(PackageFolderFor("\\C:\\agent\\\\", -3), "C:\\agent\\patches\\office\\-3");
}
