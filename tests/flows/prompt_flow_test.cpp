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

std::string DeploymentKey() { return kProgramKeys.officePatchData + "\\731"; }

// A prompt text as the prompt program should find it: without line feeds.
std::string OneLine(const std::wstring& text) {
  std::string line = ChangeWideToUtf8Str(text);
  line.erase(std::remove(line.begin(), line.end(), '\n'), line.end());
  return line;
}

// One run that meets a running Word: how it is set up, and what it must do.
// A row says what differs from the common case: install mode 3 with
// postponement up to 7 days, a first prompt stored at 100, the user agreeing
// to the postpone prompt, setup closing the applications, the completion
// notice, and the deployment's state removed by the success.
struct PromptCase {
  explicit PromptCase(const char* what) : what(what) {}

  const char* what;
  int mode = 3;
  DWORD enablePostpone = 1;
  DWORD forceCloseDays = 7;
  // The stored FirstPromptTime and PostPoneTill; empty: none.
  const char* first = "100";
  const char* postPoneTill = "";
  const char* script = "exit_code=1";
  const char* extraName = "";  // one more DWORD of the Office patch key, 45
  DWORD exitCode = 0;
  const char* prompt = kPostpone7;  // the first prompt's command line; null: none
  const char* remark = "";
  bool installs = true;  // with setup closing the applications
  bool completionNotice = true;
  // The deployment's state afterwards (a success removes it); "now": the
  // run's own time.
  const char* firstAfter = "(none)";
  const char* postPoneTillAfter = "(none)";

  PromptCase& Mode(int value) { mode = value; return *this; }
  // Neither postponement nor a deadline for closing the applications.
  PromptCase& WithoutPostponement() { enablePostpone = 0; forceCloseDays = 0; return *this; }
  PromptCase& ForceCloseAfterDays(DWORD days) { forceCloseDays = days; return *this; }
  PromptCase& Stored(const char* firstPrompt, const char* postponedTill) {
    first = firstPrompt;
    postPoneTill = postponedTill;
    return *this;
  }
  PromptCase& Script(const char* text) { script = text; return *this; }
  PromptCase& Extra(const char* name) { extraName = name; return *this; }
  PromptCase& Prompt(const char* commandLine) { prompt = commandLine; return *this; }
  PromptCase& NoPrompt() { prompt = nullptr; return *this; }
  PromptCase& NoNotice() { completionNotice = false; return *this; }
  // The run ends with `code` and the remark, installing nothing.
  PromptCase& Refused(DWORD code, const char* remarkText = "") {
    exitCode = code;
    remark = remarkText;
    installs = false;
    completionNotice = false;
    return *this;
  }
  PromptCase& LeavesState(const char* firstPrompt, const char* postponedTill) {
    firstAfter = firstPrompt;
    postPoneTillAfter = postponedTill;
    return *this;
  }
};

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

  // A fresh run: the case's install mode, postponement policy, stored
  // prompt state and prompt program's script, and an answer an earlier run
  // left behind; nothing left of an earlier run's prompts, setup calls,
  // remark or log. Printing was forbidden explicitly, the other two browser
  // restrictions were never set.
  void Prepare(const PromptCase& c) {
    const std::string first = c.first;
    const std::string postPoneTill = c.postPoneTill;
    WriteSettings({"en-us"}, c.mode);
    deleteRegistryKey(HKEY_LOCAL_MACHINE, kProgramKeys.officePatchData.c_str());
    writeValue(HKEY_LOCAL_MACHINE, kProgramKeys.officePatchData.c_str(), "EnablePostPoneInPrompt",
               std::to_string(c.enablePostpone).c_str(), REG_DWORD);
    writeValue(HKEY_LOCAL_MACHINE, kProgramKeys.officePatchData.c_str(), "ForceCloseAppsInDays",
               std::to_string(c.forceCloseDays).c_str(), REG_DWORD);
    writeValue(HKEY_LOCAL_MACHINE, kProgramKeys.officePatchData.c_str(), "ExitCode", "1", REG_DWORD);
    if (!first.empty()) writeValue(HKEY_LOCAL_MACHINE, DeploymentKey().c_str(), "FirstPromptTime", first.c_str(), REG_SZ);
    if (!postPoneTill.empty()) {
      writeValue(HKEY_LOCAL_MACHINE, DeploymentKey().c_str(), "PostPoneTill", postPoneTill.c_str(), REG_SZ);
    }
    WriteFileBytes(agent_ / "rzpatchprompt.txt", c.script);
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
  const PromptCase cases[] = {
      PromptCase("mode 2 may not close them").Mode(2).NoPrompt().Refused(20001).LeavesState("100", "(none)"),
      PromptCase("mode 1 lets setup close them").Mode(1).NoPrompt().NoNotice(),
      PromptCase("yes"),
      PromptCase("yes, completion notice off").Extra("NeglectOfficeCompletionPrompt").NoNotice(),
      PromptCase("postponed")
          .Script("exit_code=2\npostpone_value=1999999999")
          .Refused(20001, "Office updates postponed by users")
          .LeavesState("now", "1999999999"),
      // Without postponement a "no" postpones nothing.
      PromptCase("refused without postponement")
          .WithoutPostponement()
          .Script("exit_code=2")
          .Prompt("rzpatchprompt.exe -PatchPrompt -prompt-text \"emptydata\" -pid {pid} -timeoutinmin 5")
          .Refused(20001, "Office updates postponed by users")
          .LeavesState("100", "(none)"),
      // No days to offer: the line ends in a blank after the text argument.
      PromptCase("prompt program failed")
          .ForceCloseAfterDays(0)
          .Script("exit_code=3")
          .Prompt("rzpatchprompt.exe -PatchPrompt -prompt-type postpone -pid {pid} -prompt-text \"emptydata\" ")
          .Refused(5)
          .LeavesState("now", "(none)"),
      // RunningPromptTimeOut 45 is capped at 30.
      PromptCase("no answer to the prompt without postponement")
          .WithoutPostponement()
          .Script("")
          .Extra("RunningPromptTimeOut")
          .Prompt("rzpatchprompt.exe -PatchPrompt -prompt-text \"emptydata\" -pid {pid} -timeoutinmin 30")
          .Refused(20001, kNoResponse)
          .LeavesState("100", "(none)"),
      PromptCase("postponed until later")
          .Stored("1000000", "2000000000")
          .NoPrompt()
          .Refused(20001, kNoResponse)
          .LeavesState("1000000", "2000000000"),
      // Postponed beyond the deadline, a day after the first prompt, which
      // has passed: the user is only told.
      PromptCase("deadline passed").ForceCloseAfterDays(1).Stored("1000", "100000").Prompt(kForceClose),
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Prepare(c);
    if (*c.extraName) {
      writeValue(HKEY_LOCAL_MACHINE, kProgramKeys.officePatchData.c_str(), c.extraName, "45", REG_DWORD);
    }

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
      EXPECT_EQ(ReadViewDword(kProgramKeys.officePatchData.c_str(), "ExitCode", &left, 0), ERROR_FILE_NOT_FOUND);
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
    EXPECT_EQ(ReadViewString(kProgramKeys.patch.c_str(), "UserPromptPostPoneValue", &postponement, 0),
              ERROR_FILE_NOT_FOUND);
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
    Prepare(PromptCase(c.args).Mode(1).WithoutPostponement().Stored("", "").Script(""));
    EXPECT_EQ(Run(c.args), 13u);
    ExpectPrompt(Prompt(1), c.command, c.text);
    EXPECT_EQ(Prompt(2), "");
  }
}
