// The server's Office settings document, "client-data\office-ctr-settings.xml"
// under the agent folder.
#pragma once

#include <string>

#include "office/office_state.h"

// Full path of the settings document under the agent folder.
std::string CtrSettingsPath(const std::string& agentFolder);
// Copies the document's text into the agent log.
void LogCtrSettingsDocument(const std::string& agentFolder);
// Fills the language and proofing lists and selectedLanguageCodes from the
// document under state->run.agentFolder. A missing or malformed document
// leaves everything empty; a malformed one is logged with the parser's
// description and offset.
void ReadCtrSettingsLanguages(OfficeState* state);
// Sets HowToInstall: 3 when the document is missing or the value is absent,
// empty or 0; 2 when the O365CTRSettings element is missing.
void ReadHowToInstall(OfficeState* state);
