// What the deployment knows about Office: the server's settings document, the
// installed Office, and the saved update channels. One process-wide record.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "util/raw_registry.h"

struct OfficeState {
  // From the settings document.
  std::vector<int> optedLanguageIds;
  std::map<int, std::string> languageTable;
  std::vector<int> optedProofingIds;
  std::map<int, std::string> proofingTable;
  std::vector<std::string> selectedLanguageCodes;  // lower-case, in opted order
  int HowToInstall = 3;
  // From the installed Office.
  std::vector<std::string> installedLanguages;
  // Update channels saved at start and restored at the end, one per view.
  // Each is the value's type and bytes as found, or nothing when it was missing.
  std::optional<RawRegistryValue> savedUpdateChannel;     // 64-bit view
  std::optional<RawRegistryValue> savedUpdateChannelX86;  // 32-bit view
  // What the last configure.xml written asked setup to install.
  std::string configuredProductId;
  std::vector<std::string> configuredLanguages;
  // Set by the deployment when the user agreed to close running applications.
  bool closeApplications = false;
};

OfficeState& OfficeCtx();
// Puts the record back to its initial state (a fresh start-up in tests).
void ResetOfficeState();
