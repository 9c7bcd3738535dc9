#include "driver/results.h"

#include <windows.h>

#include <cstdio>

#include "agent/agent_parameters.h"
#include "agent/registry.h"
#include "log/agent_log.h"
#include "log/seconds_clock.h"
#include "office/installed_office.h"
#include "office/office_state.h"
#include "util/registry_paths.h"

namespace {

InstallationStart g_installationStart;

const char* SourceText(InstallSource source) {
  switch (source) {
    case InstallSource::Store:
      return "the server's file store";
    case InstallSource::ContentNetwork:
      return "Microsoft's content network";
    case InstallSource::PackageList:
      return "the package-file list";
    case InstallSource::Share:
      return "the network share";
    case InstallSource::None:
      break;
  }
  return "none";
}

std::string VerificationText(const std::optional<OfficeVerificationResult>& verification) {
  if (!verification) return "not checked";
  switch (verification->verdict) {
    case OfficeVerification::Verified:
      return verification->newer ? "verified, newer than asked" : "verified";
    case OfficeVerification::Unreadable:
      return "could not be read";
    case OfficeVerification::Mismatch:
      break;
  }
  std::vector<std::string> what;
  for (const auto& mismatch : verification->mismatches) what.push_back(mismatch.what);
  return "not as asked (" + JoinPieces(what) + ")";
}

}  // namespace

std::string TrackingKeyPath(const reg_path::AgentKeys& keys, bool wow64) {
  return wow64 ? keys.trackingWow64 : keys.tracking;
}

void RecordTrackingValues(const std::string& key, int flow) {
  // Write failures are logged by the registry layer; the deployment goes on.
  char text[16];
  snprintf(text, sizeof(text), "%d", flow);
  writeValue(HKEY_LOCAL_MACHINE, key.c_str(), "OfficeInstallFlow", text, REG_DWORD);
  snprintf(text, sizeof(text), "%d", GetTimeInSeconds());
  writeValue(HKEY_LOCAL_MACHINE, key.c_str(), "LastKQDataModifiedTime", text, REG_DWORD);
}

std::string InstallationDateText(const SYSTEMTIME& local) {
  char text[16];
  snprintf(text, sizeof(text), "%04d%02d%02d", local.wYear, local.wMonth, local.wDay);
  return text;
}

void RecordInstallationStart() {
  SYSTEMTIME local;
  GetLocalTime(&local);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  g_installationStart.date = InstallationDateText(local);
  g_installationStart.fileTime = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  LogInfo("Installation Start time: %d is set \n", GetTimeInSeconds());
}

const InstallationStart& GetInstallationStart() { return g_installationStart; }

OfficeVerificationResult RecordInstalledOffice(const std::string& key, const OfficeState& office) {
  const InstalledOffice installed = ReadInstalledOffice();
  const RequestedOffice requested{office.run.version, office.run.clientEdition, office.configuredProductId,
                                  office.configuredLanguages};
  const OfficeVerificationResult result = CompareInstalledOffice(installed, requested);

  LogInfo("Installed Office : version %s, platform %s, products %s, languages %s\n", installed.version.c_str(),
          installed.platform.c_str(), JoinPieces(installed.products).c_str(),
          JoinPieces(installed.languages).c_str());
  if (result.verdict == OfficeVerification::Unreadable) {
    LogError("Installed Office cannot be verified : VersionToReport cannot be read.\n");
  }
  for (const auto& mismatch : result.mismatches) {
    LogError("Installed Office does not match the deployment : %s asked %s, found %s\n", mismatch.what.c_str(),
             mismatch.asked.c_str(), mismatch.found.c_str());
  }
  if (result.newer) {
    LogInfo("Installed Office version %s is newer than the version asked for, %s\n", installed.version.c_str(),
            office.run.version.c_str());
  }

  writeValue(HKEY_LOCAL_MACHINE, key.c_str(), "InstalledOfficeVersion", installed.version.c_str(), REG_SZ);
  const std::string verdict = std::to_string(static_cast<int>(result.verdict));
  writeValue(HKEY_LOCAL_MACHINE, key.c_str(), "InstalledOfficeVerified", verdict.c_str(), REG_DWORD);
  return result;
}

const char* StepName(RunStep step) {
  switch (step) {
    case RunStep::AgentSettings: return "start-up";
    case RunStep::Unexpected: return "any step";
    case RunStep::DebugRun: return "debug run";
    case RunStep::Lock: return "deployment lock";
    case RunStep::Languages: return "language check";
    case RunStep::Arguments: return "command line";
    case RunStep::Installer: return "installer package";
    case RunStep::Extraction: return "extraction";
    case RunStep::RunningApps: return "running applications";
    case RunStep::Store: return "server's store";
    case RunStep::TimeLimit: return "time limit";
    case RunStep::ListDownload: return "package-file list";
    case RunStep::ListDecryptor: return "list decryptor";
    case RunStep::ListFiles: return "package files";
    case RunStep::ListSetup: return "package folder";
    case RunStep::Share: return "network share";
  }
  return "unknown step";
}

const std::vector<ExitCodeMeaning>& ExitCodeMeanings() {
  using S = RunStep;
  const bool other = true;
  static const std::vector<ExitCodeMeaning> table = {
      {S::AgentSettings, false, 13, "general failure: the agent settings cannot be loaded"},
      {S::Unexpected, false, 13, "general failure: the run ended on an unexpected failure"},
      {S::DebugRun, false, 13, "general failure: a debug run finished"},
      {S::Lock, false, 258, "time-out: another run of the same patch id did not end within two hours"},
      {S::Languages, false, 15050, "an installed language is not selected"},
      {S::Arguments, false, 13,
       "general failure: invalid arguments (an option missing, a patch id outside 1 to 2147483647 or an installer "
       "name that would leave patches)"},
      {S::Installer, false, 2, "the installer package is missing"},
      {S::Extraction, other, 0, "the code of the installer package's extraction"},
      {S::RunningApps, false, 5, "the prompt program failed"},
      {S::RunningApps, false, 20001, "postponed or blocked by running applications"},
      {S::Store, false, 0, "success"},
      {S::Store, false, 3010, "success, a restart completes the installation"},
      {S::Store, false, 258, "time-out: setup from the server's store was stopped"},
      {S::Store, false, 1168, "no usable server address"},
      {S::Store, false, 20001, "setup from the server's store found applications in use (17006)"},
      {S::Store, other, 0, "the code of setup from the server's store or Microsoft's content network"},
      {S::TimeLimit, false, 258,
       "time-out: the store installation took two hours or more, so the package-file list was not tried"},
      {S::ListDownload, false, 404, "the server's store has no package-file list"},
      {S::ListDownload, false, 1168, "no usable server address for the package-file list"},
      {S::ListDownload, other, 0, "the code of the package-file list's download"},
      {S::ListDecryptor, false, 2, "the package-file list's decryptor, or the list it decrypts, is missing"},
      {S::ListDecryptor, false, 258, "time-out: the package-file list's decryptor was stopped"},
      {S::ListDecryptor, other, 0, "the code of the package-file list's decryptor"},
      {S::ListFiles, false, 1, "the package-file list was refused: a name or checksum in it breaks the list's rules"},
      {S::ListFiles, false, 2, "the package-file list is unusable: missing, no JSON object, or over 16 MiB"},
      {S::ListFiles, false, 404, "the server's store has not one of the package files"},
      {S::ListFiles, false, 60000, "a package file failed its checksum"},
      {S::ListFiles, other, 0, "the code of a package file's download"},
      {S::ListSetup, false, 0, "success"},
      {S::ListSetup, false, 3010, "success, a restart completes the installation"},
      {S::ListSetup, false, 258, "time-out: setup from the package folder was stopped"},
      {S::ListSetup, false, 20001, "setup from the package folder found applications in use (17006)"},
      {S::ListSetup, other, 0, "the code of setup from the package folder, or of writing its configuration"},
      {S::Share, false, 0, "success"},
      {S::Share, false, 3010, "success, a restart completes the installation"},
      {S::Share, false, 258, "time-out: setup from the network share was stopped"},
      {S::Share, false, 20001, "setup from the network share found applications in use (17006)"},
      {S::Share, other, 0, "the code of setup from the network share, or of writing its configuration"},
  };
  return table;
}

std::string MeaningOfExitCode(RunStep step, int code) {
  const ExitCodeMeaning* fallback = nullptr;
  for (const ExitCodeMeaning& row : ExitCodeMeanings()) {
    if (row.step != step) continue;
    if (!row.other && row.code == code) return row.meaning;
    if (row.other) fallback = &row;
  }
  if (fallback) return fallback->meaning;
  return std::string("the code of the step: ") + StepName(step);
}

std::string RunSummaryText(int exitCode, RunStep step, InstallSource source, const std::string& remark,
                           const std::optional<OfficeVerificationResult>& verification) {
  // One line however the remark was written: its own line breaks become blanks.
  std::string oneLineRemark;
  for (char c : remark) oneLineRemark += (c == '\r' || c == '\n') ? ' ' : c;
  while (!oneLineRemark.empty() && oneLineRemark.back() == ' ') oneLineRemark.pop_back();
  return "Run summary : exit code " + std::to_string(exitCode) + " (" + MeaningOfExitCode(step, exitCode) +
         "); installed from : " + SourceText(source) +
         "; remark : " + (oneLineRemark.empty() ? std::string("none") : oneLineRemark) +
         "; installed Office : " + VerificationText(verification);
}

void LogRunSummary(int exitCode, const FlowState& state, const std::string& remark) {
  LogInfo("%s\n", RunSummaryText(exitCode, state.step, state.installedBy, remark, state.verification).c_str());
}
