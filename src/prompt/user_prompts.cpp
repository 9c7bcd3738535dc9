#include "prompt/user_prompts.h"

#include <algorithm>
#include <cstdio>

#include "agent/registry.h"
#include "exec/session_runner.h"
#include "log/agent_log.h"
#include "util/handles.h"
#include "util/registry_paths.h"
#include "util/text.h"

namespace {

// The prompt program finds its text here rather than on its command line,
// which could not carry HTML or a translated text safely; "emptydata" fills
// the text argument.
const wchar_t kPromptTextValue[] = L"UserPromptTempText";

const char kRunningFormat[] = "rzpatchprompt.exe -PatchPrompt -prompt-text \"emptydata\" -pid %ld -timeoutinmin %d";
const char kPostponeWithLimitFormat[] =
    "rzpatchprompt.exe -PatchPrompt -prompt-type postpone -pid %ld -prompt-text \"emptydata\" "
    "-postponetimelimitindays %ld";
// The prompt program has always been given this line with its last blank.
const char kPostponeFormat[] =
    "rzpatchprompt.exe -PatchPrompt -prompt-type postpone -pid %ld -prompt-text \"emptydata\" ";
const char kCompletedFormat[] =
    "rzpatchprompt.exe -PatchPrompt -prompt-type completed -prompt-text \"emptydata\" -pid %ld";
const char kForceCloseFormat[] =
    "rzpatchprompt.exe -PatchPrompt -prompt-type ForceClose -prompt-text \"emptydata\" -pid %ld";

const wchar_t kForceCloseText[] =
    L"\nOffice updates are pending installation on your system. Any currently running Office applications will be "
    L"forcefully closed to proceed with the installation. "
    L"<br><br><b style=\"color: red;\"> Ensure you save your work before proceeding.</b>";

const DWORD kShortestRunningTimeout = 5;
const DWORD kLongestRunningTimeout = 30;

template <typename... Args>
std::string FormatCommandLine(const char* format, Args... args) {
  char line[512];
  snprintf(line, sizeof(line), format, args...);
  return line;
}

// The account's browser restriction policies, and what they were before the
// prompt switched them on.
const char kBrowserRestrictionsKey[] = "Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions";
const char* const kBrowserRestrictions[] = {"NoFileOpen", "NoFileNew", "NoPrinting"};
DWORD savedBrowserRestrictions[3] = {0, 0, 0};

// The writer creates the policy keys when they are missing. Its "Ex" form
// in our default view reads the number unsigned, so any saved value comes
// back exactly.
void WriteBrowserRestrictions(const DWORD (&values)[3]) {
  for (size_t i = 0; i < 3; ++i) {
    writeValueEx(HKEY_CURRENT_USER, kBrowserRestrictionsKey, kBrowserRestrictions[i],
                 std::to_string(values[i]).c_str(), REG_DWORD, 0);
  }
}

}  // namespace

DWORD ClampRunningPromptTimeout(DWORD minutes) {
  return std::min(std::max(minutes, kShortestRunningTimeout), kLongestRunningTimeout);
}

bool UserWindowPromptForOffice365::PassingI18nData(const std::wstring& text) {
  std::wstring oneLine = text;
  oneLine.erase(std::remove(oneLine.begin(), oneLine.end(), L'\n'), oneLine.end());
  UniqueHKey key;
  const std::wstring patchKey = ChangeUtf8ToWideStr(keys_.patch.c_str());
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, patchKey.c_str(), 0, KEY_SET_VALUE | KEY_WOW64_32KEY, key.put()) !=
      ERROR_SUCCESS) {
    return false;
  }
  const DWORD bytes = static_cast<DWORD>(oneLine.size() * sizeof(wchar_t));
  // The value holds the units alone. RegSetValueExW also stores a zero that
  // directly follows the counted string data, taking it for a forgotten
  // terminator, so the unit after the text must not be a zero.
  oneLine.push_back(L' ');
  if (RegSetValueExW(key.get(), kPromptTextValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(oneLine.data()), bytes) !=
      ERROR_SUCCESS) {
    return false;
  }
  LogDebug("%s : RegValue Set for Unicode Conversion\n", "UserWindowPromptForOffice365::PassingI18nData");
  return true;
}

int UserWindowPromptForOffice365::Show(const char* who, const std::wstring& text, const std::string& commandLine) {
  PassingI18nData(text);
  LogDebug("%s  : Command Arguement %s", who, commandLine.c_str());
  return LaunchInUserSession(commandLine.c_str(), agentFolder_);
}

int UserWindowPromptForOffice365::ShowPatchIsRunningPrompt(long processId) {
  DWORD timeout = 0;
  ReadDwordRegistryData(HKEY_LOCAL_MACHINE, keys_.officePatchData.c_str(), "RunningPromptTimeOut", &timeout);
  timeout = ClampRunningPromptTimeout(timeout);
  LogInfo("Running Prompt Timeout is %d \n", static_cast<int>(timeout));
  return Show("UserWindowPromptForOffice365::ShowPatchIsRunningPrompt", texts_.GetPromptText("ui_upper"),
              FormatCommandLine(kRunningFormat, processId, static_cast<int>(timeout)));
}

int UserWindowPromptForOffice365::ShowPatchIsRunningPromptWithPostpone(long dayLimit, long processId) {
  const std::string line = dayLimit != 0 ? FormatCommandLine(kPostponeWithLimitFormat, processId, dayLimit)
                                         : FormatCommandLine(kPostponeFormat, processId);
  return Show("UserWindowPromptForOffice365::ShowPatchIsRunningPromptWithPostpone",
              texts_.GetPromptText("ui_upper"), line);
}

void UserWindowPromptForOffice365::ShowPatchCompletedPrompt(long processId) {
  Show("UserWindowPromptForOffice365::ShowPatchCompletedPrompt", texts_.GetPromptText("completed"),
       FormatCommandLine(kCompletedFormat, processId));
}

void UserWindowPromptForOffice365::ShowForceClosePrompt(long processId) {
  Show("UserWindowPromptForOffice365::ShowForceClosePrompt", kForceCloseText,
       FormatCommandLine(kForceCloseFormat, processId));
}

void SetPromptBrowserRestrictions() {
  for (size_t i = 0; i < 3; ++i) {
    // A value that cannot be read keeps the copy it has (0 at first).
    ReadDwordRegistryData(HKEY_CURRENT_USER, kBrowserRestrictionsKey, kBrowserRestrictions[i],
                          &savedBrowserRestrictions[i]);
  }
  const DWORD on[3] = {1, 1, 1};
  WriteBrowserRestrictions(on);
}

void RestorePromptBrowserRestrictions() { WriteBrowserRestrictions(savedBrowserRestrictions); }

void RunDebugPrompt(LocalizedPromptTexts* texts, const reg_path::AgentKeys& keys, const std::string& agentFolder,
                    const std::string& locale, int promptType) {
  texts->SetLocale(locale);
  const long processId = static_cast<long>(GetCurrentProcessId());
  UserWindowPromptForOffice365 prompt(*texts, keys, agentFolder);
  switch (promptType) {
    case 1:
      prompt.ShowPatchIsRunningPrompt(processId);
      break;
    case 2:
      prompt.ShowPatchIsRunningPromptWithPostpone(2, processId);
      break;
    case 3:
      prompt.ShowPatchCompletedPrompt(processId);
      break;
    default:
      prompt.ShowForceClosePrompt(processId);
      break;
  }
}
