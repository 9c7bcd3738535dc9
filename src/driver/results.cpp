#include "driver/results.h"

#include <windows.h>

#include <cstdio>

#include "agent/agent_parameters.h"
#include "agent/registry.h"
#include "log/agent_log.h"
#include "log/seconds_clock.h"
#include "office/installed_office.h"
#include "office/office_state.h"
#include "options/run_options.h"
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

std::string TrackingKeyPath(bool wow64) { return wow64 ? reg_path::kTrackingWow64 : reg_path::kTracking; }

void RecordTrackingValues(int flow) {
  std::string key = TrackingKeyPath(AgentParams().isWow64);
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

OfficeVerificationResult RecordInstalledOffice() {
  const InstalledOffice installed = ReadInstalledOffice();
  const OfficeState& office = OfficeCtx();
  const RunOptions& options = RunOpts();
  const RequestedOffice requested{options.version, options.clientEdition, office.configuredProductId,
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
            options.version.c_str());
  }

  const std::string key = TrackingKeyPath(AgentParams().isWow64);
  writeValue(HKEY_LOCAL_MACHINE, key.c_str(), "InstalledOfficeVersion", installed.version.c_str(), REG_SZ);
  const std::string verdict = std::to_string(static_cast<int>(result.verdict));
  writeValue(HKEY_LOCAL_MACHINE, key.c_str(), "InstalledOfficeVerified", verdict.c_str(), REG_DWORD);
  return result;
}

const char kOtherExitCodeMeaning[] =
    "the code of the last installation step (setup, the extraction of the package, a download of the "
    "package-file list flow, the list decryptor)";

const std::vector<ExitCodeMeaning>& ExitCodeMeanings() {
  static const std::vector<ExitCodeMeaning> table = {
      {0, "success"},
      {2, "the installer package is missing"},
      {5, "the prompt program failed"},
      {13, "general failure (agent settings, a debug run, invalid arguments: a patch id outside 1 to 2147483647 "
           "or an installer name that would leave patches)"},
      {258, "time-out (also: the store installation took two hours or more, so the package-file list was not "
            "tried; or another run of the same patch id did not end within two hours)"},
      {404, "the server's store has no package-file list, or not one of its files"},
      {1168, "no usable server address"},
      {3010, "success, a restart completes the installation"},
      {15050, "an installed language is not selected"},
      {20001, "postponed or blocked by running applications (and setup's 17006)"},
      {60000, "a package file failed its checksum"},
  };
  return table;
}

const char* MeaningOfExitCode(int code) {
  for (const ExitCodeMeaning& row : ExitCodeMeanings()) {
    if (row.code == code) return row.meaning;
  }
  return kOtherExitCodeMeaning;
}

std::string RunSummaryText(int exitCode, InstallSource source, const std::string& remark,
                           const std::optional<OfficeVerificationResult>& verification) {
  // One line however the remark was written: its own line breaks become blanks.
  std::string oneLineRemark;
  for (char c : remark) oneLineRemark += (c == '\r' || c == '\n') ? ' ' : c;
  while (!oneLineRemark.empty() && oneLineRemark.back() == ' ') oneLineRemark.pop_back();
  return "Run summary : exit code " + std::to_string(exitCode) + " (" + MeaningOfExitCode(exitCode) +
         "); installed from : " + SourceText(source) +
         "; remark : " + (oneLineRemark.empty() ? std::string("none") : oneLineRemark) +
         "; installed Office : " + VerificationText(verification);
}

void LogRunSummary(int exitCode, const FlowState& state, const std::string& remark) {
  LogInfo("%s\n", RunSummaryText(exitCode, state.installedBy, remark, state.verification).c_str());
}
