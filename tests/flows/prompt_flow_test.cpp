// Deployments that meet a running Word. Wine has no terminal sessions, so
// these runs use the test build of the program, whose sessions come from
// sessions.txt beside it (our own session, active, with a user); a
// winlogon.exe stand-in lends its token for the prompt program, and the
// prompt program stand-in records each start and answers as scripted.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "flows/deployment_fixture.h"
#include "prompt/localized_texts.h"
#include "util/clock.h"
#include "util/files.h"

using namespace testing_support;

namespace {

const char kRestrictionsKey[] = "Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions";
const char kPostpone7[] =
    "rzpatchprompt.exe -PatchPrompt -prompt-type postpone -pid {pid} -prompt-text \"emptydata\" "
    "-postponetimelimitindays 7";
const char kCompleted[] = "rzpatchprompt.exe -PatchPrompt -prompt-type completed -prompt-text \"emptydata\" -pid {pid}";
const char kForceClose[] = "rzpatchprompt.exe -PatchPrompt -prompt-type ForceClose -prompt-text \"emptydata\" -pid {pid}";
const char kForceCloseText[] =
    "Office updates are pending installation on your system. Any currently running Office applications will be "
    "forcefully closed to proceed with the installation. <br><br><b style=\"color: red;\"> Ensure you save your "
    "work before proceeding.</b>";
const char kNoResponse[] = "Office updates postponed due to no response to notification.";

std::string DeploymentKey() { return std::string(reg_path::kOfficePatchData) + "\\731"; }

// A prompt text as the prompt program should find it: without line feeds.
std::string OneLine(const std::wstring& text) {
  std::string line = ChangeWideToUtf8Str(text);
  line.erase(std::remove(line.begin(), line.end(), '\n'), line.end());
  return line;
}

class PromptedDeployment : public DeploymentFlow {
 protected:
  void SetUp() override {
    DeploymentFlow::SetUp();
    ASSERT_TRUE(CopyFileUtf8(BinPath("OfficeInstallerScriptedSessions.exe"), program_));
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    WriteFileBytes(agent_ / "sessions.txt", std::to_string(session) + " 0 tester\n");
    ASSERT_TRUE(CopyFileUtf8(BinPath("rzpatchprompt_standin.exe"), agent_ / "rzpatchprompt.exe"));
    ASSERT_TRUE(winlogon_.started() && word_.started());
    texts_.LoadPromptTexts();
  }
  void TearDown() override {
    deleteRegistryKey(HKEY_CURRENT_USER, kRestrictionsKey);
    DeploymentFlow::TearDown();
  }

  // A fresh run: the install mode, the postponement policy, the stored
  // prompt state (empty: none), the prompt program's script, and an answer
  // an earlier run left behind; nothing left of an earlier run's prompts,
  // setup calls, remark or log. Printing was forbidden explicitly, the other
  // two browser restrictions were never set.
  void Prepare(int mode, DWORD enablePostpone, DWORD forceCloseDays, const std::string& first,
               const std::string& postPoneTill, const std::string& script) {
    WriteSettings({"en-us"}, mode);
    deleteRegistryKey(HKEY_LOCAL_MACHINE, reg_path::kOfficePatchData);
    writeValue(HKEY_LOCAL_MACHINE, reg_path::kOfficePatchData, "EnablePostPoneInPrompt",
               std::to_string(enablePostpone).c_str(), REG_DWORD);
    writeValue(HKEY_LOCAL_MACHINE, reg_path::kOfficePatchData, "ForceCloseAppsInDays",
               std::to_string(forceCloseDays).c_str(), REG_DWORD);
    writeValue(HKEY_LOCAL_MACHINE, reg_path::kOfficePatchData, "ExitCode", "1", REG_DWORD);
    if (!first.empty()) writeValue(HKEY_LOCAL_MACHINE, DeploymentKey().c_str(), "FirstPromptTime", first.c_str(), REG_SZ);
    if (!postPoneTill.empty()) {
      writeValue(HKEY_LOCAL_MACHINE, DeploymentKey().c_str(), "PostPoneTill", postPoneTill.c_str(), REG_SZ);
    }
    WriteFileBytes(agent_ / "rzpatchprompt.txt", script);
    for (const std::string& file : {agent_ / "rzpatchprompt.1.txt", agent_ / "rzpatchprompt.2.txt",
                                    agent_ / "data\\custom-patch-remarks.json", agent_ / "logs\\rzprereqhandler.log",
                                    record_ / "setup_standin.calls.txt", record_ / "configure.received.1.xml"}) {
      DeleteFileW(ChangeUtf8ToWideStr(file.c_str()).c_str());
    }
    DeleteFolderTree(ChangeUtf8ToWideStr(PackageFolder().c_str()));
    deleteRegistryKey(HKEY_CURRENT_USER, kRestrictionsKey);
    writeValue(HKEY_CURRENT_USER, kRestrictionsKey, "NoPrinting", "1", REG_DWORD);
  }

  // The n-th start of the prompt program, as it recorded it; empty when it
  // was not started that often.
  std::string Prompt(int n) const { return ReadTextFile(agent_ / ("rzpatchprompt." + std::to_string(n) + ".txt")); }
  static std::string Field(const std::string& record, const std::string& key) {
    const std::string text = "\n" + record;
    size_t at = text.find("\n" + key + "=");
    if (at == std::string::npos) return "(none)";
    at += key.size() + 2;
    return text.substr(at, text.find('\n', at) - at);
  }
  // Checks the prompt's command line, with the starting program's process
  // id for {pid}, and its text.
  static void ExpectPrompt(const std::string& record, std::string line, const std::string& text) {
    EXPECT_EQ(Field(record, "command"), line.replace(line.find("{pid}"), 5, Field(record, "parent")));
    EXPECT_EQ(Field(record, "text"), text);
  }
  std::string DeploymentValue(const char* name) const {
    std::string value = "(none)";
    ReadViewString(DeploymentKey().c_str(), name, &value, 0);
    return value;
  }

  TempDir apps_{"prompt_apps"};
  RunningStandin winlogon_{apps_, "winlogon.exe"};
  RunningStandin word_{apps_, "WINWORD.exe"};
  LocalizedPromptTexts texts_;  // in the machine's locale, as the program's
};

}  // namespace

TEST_F(PromptedDeployment, RunsThatMeetRunningApplications) {
  const struct {
    const char* what;
    int mode;
    DWORD enablePostpone;
    DWORD forceCloseDays;
    const char* first;  // the stored FirstPromptTime and PostPoneTill
    const char* postPoneTill;
    const char* script;
    const char* extraName;  // one more DWORD of the Office patch key
    DWORD exitCode;
    const char* prompt;  // the first prompt's command line; null: none
    const char* remark;
    bool installs;  // with setup closing the applications
    bool completionNotice;
    // The deployment's state afterwards (a success removes it); "now": the
    // run's own time.
    const char* firstAfter;
    const char* postPoneTillAfter;
  } cases[] = {
      {"mode 2 may not close them", 2, 1, 7, "100", "", "exit_code=1", "", 20001, nullptr, "", false, false, "100",
       "(none)"},
      {"mode 1 lets setup close them", 1, 1, 7, "100", "", "exit_code=1", "", 0, nullptr, "", true, false, "(none)",
       "(none)"},
      {"yes", 3, 1, 7, "100", "", "exit_code=1", "", 0, kPostpone7, "", true, true, "(none)", "(none)"},
      {"yes, completion notice off", 3, 1, 7, "100", "", "exit_code=1", "NeglectOfficeCompletionPrompt", 0,
       kPostpone7, "", true, false, "(none)", "(none)"},
      {"postponed", 3, 1, 7, "100", "", "exit_code=2\npostpone_value=1999999999", "", 20001, kPostpone7,
       "Office updates postponed by users", false, false, "now", "1999999999"},
      // Without postponement a "no" postpones nothing.
      {"refused without postponement", 3, 0, 0, "100", "", "exit_code=2", "", 20001,
       "rzpatchprompt.exe -PatchPrompt -prompt-text \"emptydata\" -pid {pid} -timeoutinmin 5",
       "Office updates postponed by users", false, false, "100", "(none)"},
      // No days to offer: the line ends in a blank after the text argument.
      {"prompt program failed", 3, 1, 0, "100", "", "exit_code=3", "", 5,
       "rzpatchprompt.exe -PatchPrompt -prompt-type postpone -pid {pid} -prompt-text \"emptydata\" ", "", false,
       false, "now", "(none)"},
      // RunningPromptTimeOut 45 is capped at 30.
      {"no answer to the prompt without postponement", 3, 0, 0, "100", "", "", "RunningPromptTimeOut", 20001,
       "rzpatchprompt.exe -PatchPrompt -prompt-text \"emptydata\" -pid {pid} -timeoutinmin 30", kNoResponse, false,
       false, "100", "(none)"},
      {"postponed until later", 3, 1, 7, "1000000", "2000000000", "exit_code=1", "", 20001, nullptr, kNoResponse,
       false, false, "1000000", "2000000000"},
      // Postponed beyond the deadline, a day after the first prompt, which
      // has passed: the user is only told.
      {"deadline passed", 3, 1, 1, "1000", "100000", "exit_code=1", "", 0, kForceClose, "", true, true, "(none)",
       "(none)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Prepare(c.mode, c.enablePostpone, c.forceCloseDays, c.first, c.postPoneTill, c.script);
    if (*c.extraName) writeValue(HKEY_LOCAL_MACHINE, reg_path::kOfficePatchData, c.extraName, "45", REG_DWORD);

    const long long before = UnixSecondsNow(nullptr);
    EXPECT_EQ(Run(), c.exitCode);
    const long long after = UnixSecondsNow(nullptr);
    const std::string asked = Prompt(1);
    if (c.prompt) {
      ExpectPrompt(asked, c.prompt,
                   c.prompt == kForceClose ? kForceCloseText : OneLine(texts_.GetPromptText("ui_upper")));
      EXPECT_EQ(Field(asked, "folder"), agent_.path());
      // Restricted while the prompt is up, as before afterwards.
      EXPECT_EQ(Field(asked, "restrictions"), "1 1 1");
      const std::pair<const char*, DWORD> before[] = {{"NoFileOpen", 0}, {"NoFileNew", 0}, {"NoPrinting", 1}};
      for (const auto& restriction : before) {
        DWORD value = 7;
        EXPECT_EQ(ReadDwordRegistryData(HKEY_CURRENT_USER, kRestrictionsKey, restriction.first, &value), 0);
        EXPECT_EQ(value, restriction.second) << restriction.first;
      }
    }
    if (c.mode == 3) {
      // The answer counts once; the earlier run's never does.
      DWORD left = 0;
      EXPECT_EQ(ReadViewDword(reg_path::kOfficePatchData, "ExitCode", &left, 0), ERROR_FILE_NOT_FOUND);
    }
    const std::string notice = Prompt(c.prompt ? 2 : 1);
    if (c.completionNotice) {
      ExpectPrompt(notice, kCompleted, OneLine(texts_.GetPromptText("completed")));
    } else {
      EXPECT_EQ(notice, "");
    }
    EXPECT_EQ(Count(Calls(), "/configure"), c.installs ? 1u : 0u);
    if (c.installs) {
      EXPECT_EQ(Count(Received(1), "<Property Name=\"FORCEAPPSHUTDOWN\" Value=\"TRUE\"/>"), 1u);
    }
    EXPECT_EQ(ReadFileBytes(agent_ / "data\\custom-patch-remarks.json"),
              *c.remark ? "{\r\n\t\"custom_remarks\" : \"" + std::string(c.remark) + "\"\r\n}\r\n" : "");
    EXPECT_EQ(Count(Log(), "Log close time"), 1u);

    const std::string first = DeploymentValue("FirstPromptTime");
    if (std::string(c.firstAfter) == "now") {
      const long long written = atoll(first.c_str());
      EXPECT_TRUE(written >= before && written <= after) << first;
    } else {
      EXPECT_EQ(first, c.firstAfter);
    }
    EXPECT_EQ(DeploymentValue("PostPoneTill"), c.postPoneTillAfter);
    std::string postponement;
    EXPECT_EQ(ReadViewString(reg_path::kPatch, "UserPromptPostPoneValue", &postponement, 0), ERROR_FILE_NOT_FOUND);
  }
}

TEST_F(PromptedDeployment, DebugRunShowsThePromptOfItsTypeInItsLanguage) {
  texts_.SetLocale("de-DE");
  const struct {
    const char* args;
    const char* command;
    std::string text;
  } cases[] = {
      {"-debugwithlang de-DE 3", kCompleted, OneLine(texts_.GetPromptText("completed"))},
      // The forced-close notice has no translation.
      {"-debugwithlang de-DE x", kForceClose, kForceCloseText},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    Prepare(1, 0, 0, "", "", "");
    EXPECT_EQ(Run(c.args), 13u);
    ExpectPrompt(Prompt(1), c.command, c.text);
    EXPECT_EQ(Prompt(2), "");
  }
}
