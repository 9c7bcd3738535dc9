#include "office/office_setup.h"

#include <windows.h>

#include <cstdio>

#include "agent/registry.h"
#include "exec/process_runner.h"
#include "log/agent_log.h"
#include "office/installed_office.h"
#include "util/files.h"
#include "util/registry_paths.h"
#include "util/text.h"

namespace {

const int kGeneralFailure = 13;
const int kExtractTimeoutMinutes = 10;
const int kConfigureTimeoutMinutes = 230;

// A DWORD flag; a missing value, or one of another type, is off.
bool ReadFlag(const char* subkey, const char* valueName) {
  DWORD value = 0;
  return ReadViewDword(subkey, valueName, &value, 0) == ERROR_SUCCESS && value != 0;
}

bool PathExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

std::string EscapeXmlAttribute(const std::string& text) {
  // Letters outside ASCII go in as character references, so the file stays
  // plain ASCII and well formed whatever encoding setup assumes for it.
  const std::wstring wide = ChangeUtf8ToWideStr(text.c_str());
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    unsigned long c = wide[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
    }
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default:
        if (c < 0x80) {
          out += static_cast<char>(c);
        } else {
          char reference[16];
          snprintf(reference, sizeof(reference), "&#x%lX;", c);
          out += reference;
        }
        break;
    }
  }
  return out;
}

std::string BuildOfficeConfigurationText(const OfficeConfigurationInput& input) {
  const std::string channel = EscapeXmlAttribute(input.channel);
  const std::string edition = EscapeXmlAttribute(input.clientEdition);
  const std::string source = EscapeXmlAttribute(input.source);
  const std::string version = EscapeXmlAttribute(input.version);

  std::string text = "<Configuration>\n";
  if (input.directDownload) {
    // Setup fetches from Microsoft's content network; no source is named.
    text += "<Add Channel=\"" + channel + "\" OfficeClientEdition=\"" + edition + "\" Version=\"" + version + "\">\n";
  } else {
    text += "<Add Channel=\"" + channel + "\" OfficeClientEdition=\"" + edition + "\" SourcePath=\"" + source +
            "\" Version=\"" + version + "\">\n";
  }
  text += "<Product ID=\"" + EscapeXmlAttribute(input.productId) + "\">\n";
  for (const std::string& language : input.languages) {
    text += "<Language ID=\"" + EscapeXmlAttribute(language) + "\"/>\n";
  }
  for (const std::string& app : input.excludedApps) {
    text += "<ExcludeApp ID=\"" + EscapeXmlAttribute(app) + "\"/>\n";
  }
  text += "</Product>\n</Add>\n";
  if (input.directDownload) {
    text += "<Updates Enabled=\"FALSE\" Version=\"" + version + "\"/>\n";
  } else {
    text += "<Updates Enabled=\"FALSE\" UpdatePath=\"" + source + "\" Version=\"" + version + "\"/>\n";
  }
  text += "<Display AcceptEULA=\"TRUE\" Level=\"None\"/>\n";
  // "%temp%" is for setup to expand.
  text += "<Logging Name=\"OfficeSetup.txt\" Path=\"%temp%\"/>\n";
  text += std::string("<Property Name=\"FORCEAPPSHUTDOWN\" Value=\"") + (input.forceAppShutdown ? "TRUE" : "FALSE") +
          "\"/>\n";
  text += "</Configuration>";
  return text;
}

std::string OfficeConfigurationPath(const OfficeRunValues& run) { return run.packageFolder + "\\configure.xml"; }

int WriteOfficeConfiguration(OfficeState* office, const std::string& source, int usePackageFolder) {
  OfficeState& state = *office;
  const OfficeRunValues& run = state.run;
  const std::string path = OfficeConfigurationPath(run);
  const std::wstring widePath = ChangeUtf8ToWideStr(path.c_str());
  // Every attempt starts from a fresh file, even one that is refused below,
  // so no earlier attempt's configuration is ever left for setup to read.
  if (PathExists(widePath)) DeleteFileW(widePath.c_str());

  const std::string chosenSource = usePackageFolder ? run.packageFolder : source;
  if (chosenSource.empty()) {
    LogError("Failed to get source path.\n");
    return kGeneralFailure;
  }
  if (state.installedLanguages.empty()) {
    LogError("Failed to get office languages.\n");
    return kGeneralFailure;
  }
  OfficeConfigurationInput input;
  input.directDownload = IsOfficeDirectDownloadEnabled(run.keys) != 0;
  LogInfo("DirectDownloadEnabled : %s\n", input.directDownload ? "TRUE" : "FALSE");
  input.excludedApps = GetExcludedApps();

  input.channel = run.channel;
  input.clientEdition = run.clientEdition;
  input.source = chosenSource;
  input.version = run.version;
  input.productId = GetProductReleaseId();
  if (input.productId.empty()) input.productId = run.productReleaseId;
  input.languages = state.installedLanguages;
  input.forceAppShutdown = state.HowToInstall == 1 || state.closeApplications;
  const std::string text = BuildOfficeConfigurationText(input);

  if (PathExists(widePath)) DeleteFileW(widePath.c_str());
  bool opened = false;
  DWORD error = WriteTextFile(widePath, text, &opened);
  if (!opened) {
    LogError("Failed to open : %s with error code : %d\n", path.c_str(), static_cast<int>(error));
    return static_cast<int>(error);
  }
  if (error != 0) {
    // A short write (a full disk) is no configuration: setup must not get
    // half of one.
    DeleteFileW(widePath.c_str());
    LogError("Failed to write : %s with error code : %d\n", path.c_str(), static_cast<int>(error));
    return static_cast<int>(error);
  }
  LogInfo("\n\n%s\n\n", text.c_str());
  state.configuredProductId = input.productId;
  state.configuredLanguages = input.languages;
  return 0;
}

int IsOfficeDirectDownloadEnabled(const reg_path::AgentKeys& keys) {
  if (ReadFlag(keys.agent.c_str(), "LastDirectDownloadState")) return 1;
  bool enabled = ReadFlag(keys.officePatchData.c_str(), "OfficeDirectDownload");
  LogInfo("Office Direct Download Enabled :  %s\n", enabled ? "TRUE" : "FALSE");
  return enabled ? 1 : 0;
}

std::string GetStoreSourceUrl(const OfficeRunValues& run, const std::string& server, const std::string& port) {
  return "https://" + server + ":" + port + "/store/office/" + std::to_string(run.patchId);
}

std::string GetSharePath(const OfficeRunValues& run, const std::string& flatName) {
  return "\\\\" + flatName + "\\office\\" + std::to_string(run.patchId);
}

std::string ExtractCommandLine(const std::string& installerPath, const std::string& packageFolder) {
  return "\"" + installerPath + "\" /extract:\"" + packageFolder + "\" /quiet /norestart";
}

std::string ConfigureCommandLine(const std::string& packageFolder, const std::string& configurationPath) {
  return "\"" + packageFolder + "\\setup.exe\" /configure \"" + configurationPath + "\"";
}

int ExtractOfficeSetup(const OfficeRunValues& run) {
  const std::string commandLine = ExtractCommandLine(run.installerPath, run.packageFolder);
  std::string remarks;
  return executeFileNormalized(nullptr, commandLine.c_str(), &remarks, kExtractTimeoutMinutes, 0);
}

int RunOfficeSetupConfigure(const OfficeRunValues& run) {
  const std::string& folder = run.packageFolder;
  const std::string commandLine = ConfigureCommandLine(folder, folder + "\\configure.xml");
  std::string remarks;
  return executeFileNormalized(nullptr, commandLine.c_str(), &remarks, kConfigureTimeoutMinutes, 0);
}

int CheckLanguagePackFor(const std::vector<std::string>& installed, const std::vector<std::string>& selectedCodes,
                         std::string* remark) {
  std::string text = "Configure Language Pack: ";
  if (installed.empty()) {
    if (remark) remark->clear();
    return 1;
  }
  bool failed = false;
  for (const std::string& culture : installed) {
    const std::string lower = ToLowerText(culture);
    bool selected = false;
    for (const std::string& code : selectedCodes) {
      if (code == lower) {
        selected = true;
        break;
      }
    }
    if (!selected) {
      text += culture + ", ";
      failed = true;
    }
  }
  if (!failed) {
    if (remark) remark->clear();
    return 1;
  }
  size_t end = text.find_last_not_of(", ");
  text.erase(end == std::string::npos ? 0 : end + 1);
  if (remark) *remark = text;
  return 0;
}

int CheckLanguagePack(const OfficeState& office, std::string* remark) {
  return CheckLanguagePackFor(office.installedLanguages, office.selectedLanguageCodes, remark);
}
