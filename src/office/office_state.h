// What the deployment knows about Office: what the run asks for, the
// server's settings document, the installed Office and the saved update
// channels. The driver owns the run's one value and hands it to the Office
// code.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "options/run_options.h"
#include "util/raw_registry.h"
#include "util/registry_paths.h"

// The parts of the command line and of the agent's settings the Office code
// uses, as the driver hands them over.
struct OfficeRunValues {
  int patchId = 0;
  std::string installerPath;
  std::string channel;
  std::string clientEdition;
  std::string version;
  std::string productReleaseId;
  // The agent's installation folder, ending with a separator.
  std::string agentFolder;
  // "<agent folder>\patches\office\<patch id>": setup and configure.xml.
  std::string packageFolder;
  // The agent's keys: whether setup fetches from Microsoft's network.
  reg_path::AgentKeys keys;
};

// The run values from the parsed options and the agent's folder.
OfficeRunValues OfficeRunValuesFor(const RunOptions& options, const std::string& agentFolder);

struct OfficeState {
  OfficeRunValues run;
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
