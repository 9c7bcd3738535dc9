// configure.xml, the setup command lines and the language-pack check.
#pragma once

#include <string>
#include <vector>

#include "office/office_state.h"

// Writes "<package folder>\configure.xml" for the source (the package folder
// itself when usePackageFolder is non-zero), from the run values, the
// installed languages and the install mode in `office`, and records there
// what it asked for. 0 when written; otherwise the failure, and no
// configuration file is left: 13 without a source or without installed
// languages, or the system error of the failed create or write.
int WriteOfficeConfiguration(OfficeState* office, const std::string& source, int usePackageFolder);
// 1 when direct download from Microsoft's content network is on, else 0.
int IsOfficeDirectDownloadEnabled(const reg_path::AgentKeys& keys);
// "https://<server>:<port>/store/office/<patch id>".
std::string GetStoreSourceUrl(const OfficeRunValues& run, const std::string& server, const std::string& port);
// "\\<flat name>\office\<patch id>", with the flat name of the management
// or distribution server.
std::string GetSharePath(const OfficeRunValues& run, const std::string& flatName);
// Unpacks the installer package into the package folder (10 minutes).
// 0 on success (1508, 1641, 3010 count as success), else the run's result.
int ExtractOfficeSetup(const OfficeRunValues& run);
// Runs setup /configure from the package folder (230 minutes), results as above.
int RunOfficeSetupConfigure(const OfficeRunValues& run);
// 1 when every installed language is selected in the settings; otherwise 0
// and `remark` holds "Configure Language Pack: " and the missing languages.
int CheckLanguagePack(const OfficeState& office, std::string* remark);

// "<package folder>\configure.xml".
std::string OfficeConfigurationPath(const OfficeRunValues& run);

// --- pure, exposed for tests ---
// The UTF-8 text with & < > " ' replaced by their XML entities and every
// letter outside ASCII by a character reference, so setup reads back exactly
// the intended attribute value.
std::string EscapeXmlAttribute(const std::string& text);
// CheckLanguagePack over plain lists: `selectedCodes` are already lower case.
int CheckLanguagePackFor(const std::vector<std::string>& installed, const std::vector<std::string>& selectedCodes,
                         std::string* remark);
// "\"<installer>\" /extract:\"<folder>\" /quiet /norestart"
std::string ExtractCommandLine(const std::string& installerPath, const std::string& packageFolder);
// "\"<folder>\setup.exe\" /configure \"<configuration>\""
std::string ConfigureCommandLine(const std::string& packageFolder, const std::string& configurationPath);
struct OfficeConfigurationInput {
  bool directDownload = false;
  std::string channel;
  std::string clientEdition;
  std::string source;
  std::string version;
  std::string productId;
  std::vector<std::string> languages;
  std::vector<std::string> excludedApps;
  bool forceAppShutdown = false;
};
// The configuration text with "\n" line ends (the text-mode write makes them
// CR LF) and no line end after the last line. Values are XML-escaped.
std::string BuildOfficeConfigurationText(const OfficeConfigurationInput& input);
