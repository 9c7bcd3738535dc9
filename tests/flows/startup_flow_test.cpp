// The real program's start-up over a seeded agent registry: the order of its
// steps in the log, the parameter dump, and the refusals that end it with 13.
#include <gtest/gtest.h>

#include "support/agent_program_test.h"

using namespace testing_support;

namespace {

class StartupFlow : public AgentProgramTest {
 protected:
  StartupFlow() : AgentProgramTest("startup_agent") {}
  size_t At(const std::string& text) const { return Log().find(text); }
};

const char kValidLine[] = "-pid 12 -ch C1 -oce E1 -in pkg.exe -prid P1 -v 1.0";

}  // namespace

TEST_F(StartupFlow, StepsRunInOrderAndTheDumpShowsTheAgent) {
  EXPECT_EQ(Run("-debugwithoutlang x"), 13u);
  size_t locale = At("returning locale ");
  size_t banner = At("[INFO] OfficeInstaller_N : 3.0\n");
  size_t params = At("@@@@@@@ Inside InitializeAgentParameters Method @@@@@@@@ \n");
  size_t dump = At("Plexmoor Server Name                -> 127.0.0.1 \n");
  size_t end = At("@@@@@@@@ End Of InitializeAgentParameters Method @@@@@@@@ \n");
  size_t debug = At("Debug Enabled without language");
  ASSERT_NE(locale, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  ASSERT_NE(debug, std::string::npos);
  EXPECT_LT(locale, banner);
  EXPECT_LT(banner, params);
  EXPECT_LT(params, dump);
  EXPECT_LT(dump, end);
  EXPECT_LT(end, debug);
  EXPECT_NE(At("Plexmoor Server Port                -> 8383 \n"), std::string::npos);
  EXPECT_NE(At("Plexmoor Server Data Path           -> client-data/cust01/domains/"), std::string::npos);
  EXPECT_NE(At("Plexmoor Customer Id\t\t   -> CUST01 \n"), std::string::npos);
  EXPECT_NE(At("The Agent Machine Resource Id is given by -> 101 \n"), std::string::npos);
  EXPECT_EQ(At("Failed to initialize agent params."), std::string::npos);
}

TEST_F(StartupFlow, RefusedStartUpEndsWith13BeforeTheCommandLine) {
  struct Case {
    const char* what;
    const char* subkey;
    const char* name;
    const char* data;  // nullptr: remove the value
    DWORD type;
  };
  const Case cases[] = {
      {"no server name", "ServerInfo", "RZServerName", nullptr, REG_SZ},
      {"no customer name", "", "CustomerName", nullptr, REG_SZ},
      {"imaged computer", "", "ImagedComputer", "1", REG_DWORD},
  };
  for (const Case& c : cases) {
    ClearAgentRegistry();
    SeedMinimalAgent(agent_.path() + "\\");
    if (c.data) {
      SeedAgentValue(c.subkey, c.name, c.data, c.type);
    } else {
      RemoveAgentValue(c.subkey, c.name);
    }
    EXPECT_EQ(Run(kValidLine), 13u) << c.what;
    EXPECT_NE(At("[ERROR] Failed to initialize agent params.\n"), std::string::npos) << c.what;
    EXPECT_EQ(At("Office Source PatchID"), std::string::npos) << c.what;
    EXPECT_NE(At("Log close time: "), std::string::npos) << c.what;
  }
  EXPECT_LT(At("Local Computer Name                       -> "),
            At("InitializeAgentParameters : Computer is detected as imaged One .. \n"));
}
