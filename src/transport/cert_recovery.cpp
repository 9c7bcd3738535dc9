// Recovery of a secure connection whose certificate check failed: the root
// certificates are validated (or, for the distribution server, fetched again)
// and the answer is received once more; without strict certificate mode the
// certificate problems are finally ignored and the failure is recorded.
#include <functional>
#include <string>

#include "agent/registry.h"
#include "cert/root_certificates.h"
#include "log/agent_log.h"
#include "log/seconds_clock.h"
#include "transport/agent_requests.h"
#include "transport/transfer.h"
#include "util/registry_paths.h"
#include "util/text.h"

namespace {

const int kDsCertificateRetryLimitSeconds = 86400;

void MarkSecureCommFailure(const reg_path::AgentKeys& keys, bool failed) {
  writeValue(HKEY_LOCAL_MACHINE, keys.certificates.c_str(), "SecureCommFailure", failed ? "1" : "0", REG_DWORD);
}

// Sends the request once more with the flags; a failure is logged.
TransferResult ReceiveAgain(const std::function<TransferResult(DWORD)>& resend, DWORD flags) {
  TransferResult result = resend(flags);
  if (!result.ok()) {
    LogError("CertRecoveryMechanismForReceive :  Error in WinHttpReceiveResponse --> %d \n", result.Flatten());
  }
  return result;
}

// The certificate functions as this run hands them down: they download
// through this engine, with the run's settings and state.
RootCertificateContext CertificatesOfTheRun(const TransferSettings& settings, TransferRunState* run) {
  RootCertificateContext certificates;
  certificates.customerId = settings.customerId;
  certificates.agentFolder = settings.agentFolder;
  certificates.strict = StrictCertificatesNow(settings, *run);
  certificates.installed = &run->roots;
  certificates.certificatesKey = settings.keys.certificates;
  certificates.download = [&settings, run](const char* urlPath, const char* localPath, const char* valueName,
                                           int strict) {
    return InternetDownloadFileIfmodifiedSince(settings, run, urlPath ? urlPath : "", localPath ? localPath : "",
                                               valueName ? valueName : "", strict);
  };
  return certificates;
}

// Fetches the distribution server's root certificate again, at most once a
// day. 0, or 13 inside the limit or after a failed installation.
int RetriveDSCertFromServer(const reg_path::AgentKeys& keys, const RootCertificateContext& certificates) {
  DWORD last = 0;  // never, unless a time is stored
  ReadDwordRegistryData(HKEY_LOCAL_MACHINE, keys.metadataVersions.c_str(), "DSCertLastRetriveTime", &last);
  const int now = GetTimeInSeconds();
  if (last != 0 && now - static_cast<int>(last) < kDsCertificateRetryLimitSeconds) {
    LogInfo("RetriveDSCertFromServer: Skip download from Server as time limit not yet reached!\n");
    return 13;
  }
  writeValue(HKEY_LOCAL_MACHINE, keys.metadataVersions.c_str(), "DSCertLastRetriveTime", std::to_string(now).c_str(),
             REG_DWORD);
  RemoveCertificate(certificates, "KestrixCA-DS-CA", "DSRootCertificateInstalled");
  certificates.installed->dsRootInstalled = 0;
  if (InstallRootCertificate(certificates, kDsRootCertificate, 1) != 0) {
    // A failed download leaves the file that was installed before: the
    // machine keeps the root it had.
    InstallRootCertificateFromLocalFile(certificates, kDsRootCertificate);
    return 13;
  }
  LogInfo("RetriveDSCertFromServer: DS Root Certificate Successfully installed.\n");
  return 0;
}

// Records, once, that the agent talks to its server with the certificate
// problems ignored.
void UpdateCertFailedKQTracking(const reg_path::AgentKeys& keys) {
  DWORD added = 0;
  ReadDwordRegistryData(HKEY_LOCAL_MACHINE, keys.agent.c_str(), "CertKQTrackingAdded", &added);
  if (added == 1) return;
  LONG rc = writeValue(HKEY_LOCAL_MACHINE, keys.serverInfo.c_str(), "SecureCommFailCount", "1", REG_DWORD);
  if (rc != ERROR_SUCCESS) {
    LogError("UpdateCertFailedKQTracking: SECURE_COMM_FAILURE_COUNT registry value cannot be created with error %d\n",
             static_cast<int>(rc));
  }
  writeValue(HKEY_LOCAL_MACHINE, keys.agent.c_str(), "CertKQTrackingAdded", "1", REG_DWORD);
  const std::string now = std::to_string(GetTimeInSeconds());
  writeValue(HKEY_LOCAL_MACHINE, keys.tracking.c_str(), "LastKQDataModifiedTime", now.c_str(), REG_DWORD);
  LogInfo("KQData modified time Updated value is %s \n", now.c_str());
}

}  // namespace

namespace engine {

TransferResult CertRecoveryMechanismForReceive(const TransferSettings& settings, TransferRunState* run, DWORD flags,
                                               const std::function<TransferResult(DWORD flags)>& resend) {
  const RootCertificateContext certificates = CertificatesOfTheRun(settings, run);
  TransferResult result = TransferResult::Own(kResultGeneralFailure);
  if (CertificateValidation(certificates, 0) == 0) {
    result = ReceiveAgain(resend, flags);
    if (result.ok()) {
      MarkSecureCommFailure(settings.keys, false);
      return result;
    }
  }
  if (certificates.strict) {
    if (settings.servers.distribution && RetriveDSCertFromServer(settings.keys, certificates) == 0) {
      result = ReceiveAgain(resend, flags);
    }
    MarkSecureCommFailure(settings.keys, !result.ok());
    LogInfo("CertRecoveryMechanismForReceive: strict mode is enabled.. skipping the validation with certificate flag "
            "enabled \n");
    return result;
  }
  LogInfo("CertRecoveryMechanismForReceive: Invoking CertRecoveryMechanism with need to enable flag true");
  MarkSecureCommFailure(settings.keys, true);
  LogInfo("CertRecoveryMechanismForReceive: Ignoring Certificate check flags added for communication \n");
  result = ReceiveAgain(resend, flags | kIgnoreCertificateFlags);
  if (result.ok()) {
    LogInfo("CertRecoveryMechanismForReceive: Communication enabled with ignoring security flags \n");
    UpdateCertFailedKQTracking(settings.keys);
  }
  return result;
}

}  // namespace engine
