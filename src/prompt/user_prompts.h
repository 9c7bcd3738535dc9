// The prompts shown to the person at the machine through the agent's prompt
// program, rzpatchprompt.exe. We run as the system account without a
// desktop, so the prompt program runs in the user's session (exec/
// session_runner.h) and the dialogue goes through the registry: we write the
// text it shows ("UserPromptTempText" in the patch key), it writes the
// answer ("ExitCode" in the Office patch key, 1 yes, 2 refused or postponed,
// 3 failed, anything else no answer) and, when the user postponed,
// "UserPromptPostPoneValue" in the patch key. Reading the answer is the
// caller's business.
#pragma once

#include <windows.h>

#include <string>

#include "prompt/localized_texts.h"
#include "util/registry_paths.h"

class UserWindowPromptForOffice365 {
 public:
  // The prompts show their texts from `texts`, in its current locale; the
  // table must outlive the prompt. The text and the time-out are kept under
  // the agent's patch keys; the prompt program runs from `agentFolder`.
  UserWindowPromptForOffice365(const LocalizedPromptTexts& texts, const reg_path::AgentKeys& keys,
                               const std::string& agentFolder)
      : texts_(texts), keys_(keys), agentFolder_(agentFolder) {}

  // Writes the text the next prompt shows, without its line feeds, as
  // "UserPromptTempText": REG_SZ data of the UTF-16 units without a
  // terminating zero. The patch key is not created. false when the key
  // cannot be opened or written; the prompt then shows whatever the value
  // held before.
  bool PassingI18nData(const std::wstring& text);

  // The plain running-applications prompt, which waits the agent's
  // "RunningPromptTimeOut" minutes (5 to 30) for an answer. Returns the
  // run's result, -1 when no user session qualifies.
  int ShowPatchIsRunningPrompt(long processId);
  // The prompt that lets the user postpone, up to dayLimit days (0: the
  // prompt program's own choice). Result as above.
  int ShowPatchIsRunningPromptWithPostpone(long dayLimit, long processId);
  // The notice that the update is installed.
  void ShowPatchCompletedPrompt(long processId);
  // The notice that running applications will be closed now. Always in
  // English: its text is not among the translated ones.
  void ShowForceClosePrompt(long processId);

 private:
  int Show(const char* who, const std::wstring& text, const std::string& commandLine);

  const LocalizedPromptTexts& texts_;
  const reg_path::AgentKeys keys_;
  const std::string agentFolder_;
};

// The prompt program runs under our account and renders its text as HTML
// in the browser engine: while a prompt is up, that account may not open,
// create or print files from it. Set saves the account's three restriction
// values and switches them on; Restore writes the saved values back (a
// value that was missing comes back as 0). Registry failures are not
// reported: the prompt is shown either way.
void SetPromptBrowserRestrictions();
void RestorePromptBrowserRestrictions();

// The debug run: switches `texts` to the given locale (its name as the text
// table spells it, not converted), shows one prompt and ignores the answer.
// Types: 1 the running prompt, 2 the postpone prompt with 2 days, 3 the
// completion notice, anything else the forced-close notice.
void RunDebugPrompt(LocalizedPromptTexts* texts, const reg_path::AgentKeys& keys, const std::string& agentFolder,
                    const std::string& locale, int promptType);

// --- pure pieces, exposed for tests ---
// The agent's "RunningPromptTimeOut" as the prompt gets it: 5 to 30 minutes,
// compared unsigned, so a value written as a negative number counts as huge.
DWORD ClampRunningPromptTimeout(DWORD minutes);
