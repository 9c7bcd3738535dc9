// The server's Office settings document, "client-data\office-ctr-settings.xml"
// under the agent folder.
#pragma once

#include <string>

// Full path of the settings document.
std::string CtrSettingsPath();
// Copies the document's text into the agent log.
void LogCtrSettingsDocument();
// Fills the language and proofing lists and selectedLanguageCodes. A missing
// or malformed document leaves everything empty; a malformed one is logged
// with the parser's description and offset.
void ReadCtrSettingsLanguages();
// Sets HowToInstall: 3 when the document is missing or the value is absent,
// empty or 0; 2 when the O365CTRSettings element is missing.
void ReadHowToInstall();
