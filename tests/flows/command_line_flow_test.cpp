// Runs the real program with a seeded agent registry and checks the full
// exit code and the agent log it leaves.
#include <gtest/gtest.h>

#include "support/agent_program_test.h"

using namespace testing_support;

namespace {

class CommandLineFlow : public AgentProgramTest {
 protected:
  CommandLineFlow() : AgentProgramTest("cmdline_agent") {}
  bool Logged(const std::string& text) const { return Log().find(text) != std::string::npos; }
};

}  // namespace

TEST_F(CommandLineFlow, ValidLineReachesTheDeployment) {
  // No installer package is there, so the deployment ends with 2.
  DWORD code = Run("-pid 12 -ch C1 -oce E1 -in pkg.exe -prid P1 -v 1.0");
  EXPECT_EQ(code, 2u);
  EXPECT_TRUE(Logged("[INFO] OfficeInstaller_N : 3.0\n"));
  EXPECT_TRUE(Logged("Office Source PatchID : 12\n"));
  EXPECT_TRUE(Logged("Office Installer name : " + agent_.path() + "\\\\patches\\pkg.exe\n"));
  EXPECT_TRUE(Logged("File not found : "));
  EXPECT_FALSE(Logged("Invalid arguments."));
  EXPECT_TRUE(Logged("Log close time: "));
}

TEST_F(CommandLineFlow, DebugWithoutLanguageSwallowsThePatchId) {
  EXPECT_EQ(Run("-debugwithoutlang -pid 5"), 13u);
  EXPECT_TRUE(Logged("Debug Enabled without language"));
  EXPECT_TRUE(Logged("[ERROR] ******************************Debug Finished***************************\n"));
  EXPECT_FALSE(Logged("Office Source PatchID"));
  EXPECT_FALSE(Logged("Invalid arguments."));
  EXPECT_TRUE(Logged("Log close time: "));
}

TEST_F(CommandLineFlow, DebugWithLanguageAndUnknownType) {
  EXPECT_EQ(Run("-debugwithlang de-DE x"), 13u);
  EXPECT_TRUE(Logged("DebugLanguage : de-DE\n"));
  EXPECT_TRUE(Logged("Debug Enabled with language"));
  EXPECT_TRUE(Logged("Debug Finished"));
}

TEST_F(CommandLineFlow, UpperCaseOptionIsAcceptedButTheRunIsInvalid) {
  EXPECT_EQ(Run("-PID 7"), 13u);
  EXPECT_TRUE(Logged("Office Source PatchID : 7\n"));
  EXPECT_TRUE(Logged("[ERROR] Invalid arguments.\n"));
  EXPECT_TRUE(Logged("Log close time: "));  // the log is closed on this exit too
}

TEST_F(CommandLineFlow, TrailingVersionOptionLogsAnEmptyValue) {
  EXPECT_EQ(Run("-pid 12 -ch C1 -oce E1 -in pkg.exe -prid P1 -v"), 13u);
  EXPECT_TRUE(Logged("Version : \n"));
  EXPECT_TRUE(Logged("Invalid arguments.\n"));
}

TEST_F(CommandLineFlow, QuotedArgumentsFollowTheSystemSplitter) {
  EXPECT_EQ(Run("-pid 12 -ch \"Current Channel\" -oce E1 -in \"my pkg.exe\" -prid P1 -v 1.0"), 2u);
  EXPECT_TRUE(Logged("Office Channel : Current Channel\n"));
  EXPECT_TRUE(Logged("\\patches\\my pkg.exe\n"));
}

TEST_F(CommandLineFlow, MissingInstallFolderEndsWithThirteen) {
  ClearAgentRegistry();
  EXPECT_EQ(Run("-pid 12 -ch C1 -oce E1 -in pkg.exe -prid P1 -v 1.0"), 13u);
  EXPECT_FALSE(FileExists(agent_ / "logs\\rzprereqhandler.log"));
}

TEST_F(CommandLineFlow, InstallFolderOfAnotherTypeWritesNothing) {
  // Binary data that reads like the folder as text: taken as text, the log
  // and the package folders would land there.
  SeedAgentValue("", "RZAgentInstallDir", agent_.path() + "\\", REG_BINARY);
  EXPECT_EQ(Run("-pid 12 -ch C1 -oce E1 -in pkg.exe -prid P1 -v 1.0"), 13u);
  EXPECT_FALSE(FileExists(agent_ / "logs"));
  EXPECT_FALSE(FileExists(agent_ / "patches"));
}
