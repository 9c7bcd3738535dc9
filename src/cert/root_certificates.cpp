#include "cert/root_certificates.h"

#include "agent/registry.h"
#include "cert/root_store.h"
#include "exec/file_helpers.h"
#include "log/agent_log.h"
#include "util/files.h"
#include "util/registry_paths.h"
#include "util/text.h"

namespace {

const char* Text(const char* text) { return text ? text : ""; }

DWORD& InMemoryFlag(const RootCertificateContext& context, RootCertificate which) {
  RootCertificateState& installed = *context.installed;
  return which == kDsRootCertificate ? installed.dsRootInstalled : installed.serverRootInstalled;
}

RootCertificateRow RowFor(const RootCertificateContext& context, RootCertificate which) {
  return DescribeRootCertificate(which, context.customerId, context.agentFolder);
}

// The stored path of a certificate file; only text names a file, so a value
// of another type is never turned into a path.
LONG ReadCertificatePath(const RootCertificateContext& context, const char* valueName, std::string* path) {
  return ReadViewString(context.certificatesKey.c_str(), valueName, path, 0);
}

bool ContainsNoCase(const std::string& text, const std::string& part) {
  return ToLowerText(text).find(ToLowerText(part)) != std::string::npos;
}

void WriteInstalledFlag(const RootCertificateContext& context, const char* flagValueName) {
  LONG rc = writeValue(HKEY_LOCAL_MACHINE, context.certificatesKey.c_str(), flagValueName, "1", REG_DWORD);
  if (rc == ERROR_SUCCESS) {
    LogDebug("InstallRootCertificate: %s value written successfully \n", flagValueName);
  } else {
    LogError("InstallRootCertificate: Error occurred while writing the reg value %s %ld \n", flagValueName,
             static_cast<long>(rc));
  }
}

}  // namespace

std::string WithBackslashes(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string FolderOfPath(const std::string& path) {
  size_t separator = path.rfind('\\');
  return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

RootCertificateRow DescribeRootCertificate(RootCertificate which, const std::string& customerId,
                                           const std::string& installDir) {
  RootCertificateRow row;
  if (which == kDsRootCertificate) {
    row = {"KestrixCA-DS-CA", "DSRootCertificateInstalled", "DsRootCertPath", "DsRootCertificate",
           "client-data/" + customerId + "/server-certificates/DMRootCA.crt", ""};
  } else {
    row = {"KestrixCA", "ServerRootCertificateInstalled", "ServerRootCertPath", "ServerRootCertificate",
           "client-data/server-certificates/DMRootCA.crt", ""};
  }
  row.localPath = installDir + row.downloadPath;
  return row;
}

int CertificateValidation(const RootCertificateContext& context, int removeOnly) {
  int serverResult = 0;
  int dsResult = 0;
  if (context.strict) {
    LogInfo("CertificateValidation: Strict mode enabled.. Install certificate from local file \n");
    serverResult = InstallRootCertificateFromLocalFile(context, kServerRootCertificate);
    dsResult = InstallRootCertificateFromLocalFile(context, kDsRootCertificate);
  } else {
    RemoveCertificate(context, "KestrixCA", "ServerRootCertificateInstalled");
    context.installed->serverRootInstalled = 0;
    RemoveCertificate(context, "KestrixCA-DS-CA", "DSRootCertificateInstalled");
    context.installed->dsRootInstalled = 0;
    if (removeOnly == 1) return 0;
    LogInfo("CertificateValidation: Strict mode not enabled.. Install certificate from redownload \n");
    serverResult = InstallRootCertificate(context, kServerRootCertificate, 1);
    dsResult = InstallRootCertificate(context, kDsRootCertificate, 1);
    // A download that failed left the files installed before in place: the
    // machine gets back the roots it had rather than none.
    if (serverResult != 0) InstallRootCertificateFromLocalFile(context, kServerRootCertificate);
    if (dsResult != 0) InstallRootCertificateFromLocalFile(context, kDsRootCertificate);
  }
  return (serverResult != 0 || dsResult != 0) ? 1 : 0;
}

int InstallRootCertificate(const RootCertificateContext& context, RootCertificate which, int forceDownload) {
  const RootCertificateRow row = RowFor(context, which);
  if (which == kServerRootCertificate) context.installed->serverRootInstalled = 0;
  LogDebug("InstallRootCertificate: Certificate download URL %s \n", row.downloadPath.c_str());
  LogDebug("InstallRootCertificate: Certificate local path %s \n", row.localPath.c_str());

  std::string path;
  GetCertificateFilePath(context, which, &path);
  LogInfo("Certificate File Path : %s \n", path.c_str());

  if (path.empty() || CheckFileExists(path.c_str()) != 0 || forceDownload) {
    int rc = DownloadRootCertificate(context, row.downloadPath.c_str(), row.localPath.c_str(), row.filePathValueName,
                                     row.ifModifiedValueName);
    if (rc != 0) {
      LogError("InstallRootCertificate: Error while downloading the certificate and error code %ld \n",
               static_cast<long>(rc));
      return rc;
    }
    path.clear();
    GetCertificateFilePath(context, which, &path);
  }

  int result = 0;
  if (!path.empty()) {
    int rc = AddCertificateFileToRootStore(path.c_str());
    if (rc != 0) {
      LogError("InstallRootCertificate: Error while installing the Root certificate %ld \n", static_cast<long>(rc));
      return rc;
    }
    LogInfo("InstallRootCertificate: Certificate installed successfully \n");
    if (!ContainsNoCase(path, context.agentFolder)) {
      MoveCertFilesToAgentDir(context, path.c_str(), row.localPath.c_str(), row.filePathValueName);
    }
    WriteInstalledFlag(context, row.flagValueName);
  } else {
    LogError("InstallRootCertificate: Certificate source file directory not available \n");
    // Nothing was installed, so this must not read as success.
    result = ERROR_FILE_NOT_FOUND;
  }

  DWORD installed = 0;
  if (ReadDwordRegistryData(HKEY_LOCAL_MACHINE, context.certificatesKey.c_str(), row.flagValueName, &installed) != 0) {
    installed = 0;
  }
  InMemoryFlag(context, which) = installed;
  return result;
}

int InstallRootCertificateFromLocalFile(const RootCertificateContext& context, RootCertificate which) {
  const RootCertificateRow row = RowFor(context, which);
  std::string path;
  if (ReadCertificatePath(context, row.filePathValueName, &path) != ERROR_SUCCESS) {
    LogError("InstallRootCertificateFromLocalFile: Cannot fetch Certificate file path from registry %s !%s \n",
             context.certificatesKey.c_str(), row.filePathValueName);
    return 1;
  }
  if (CheckFileExists(path.c_str()) != 0) {
    LogError("InstallRootCertificateFromLocalFile: Certificate file is not available in the location %s\n",
             path.c_str());
    return 1;
  }
  // A file that holds no certificate must not cost the machine the root it
  // still trusts: check it before the installed one goes.
  int rc = CheckCertificateFile(path.c_str());
  if (rc == 0) {
    RemoveCertificate(context, row.storeName, row.flagValueName);
    InMemoryFlag(context, which) = 0;
    rc = AddCertificateFileToRootStore(path.c_str());
  }
  if (rc != 0) {
    LogError("InstallRootCertificateFromLocalFile: Error while installing the Root certificate %ld \n",
             static_cast<long>(rc));
    return rc;
  }
  LogInfo("InstallRootCertificateFromLocalFile: Certificate %s installed successfully \n", path.c_str());
  WriteInstalledFlag(context, row.flagValueName);
  InMemoryFlag(context, which) = 1;
  return 0;
}

void RemoveCertificate(const RootCertificateContext& context, const char* storeName, const char* flagValueName) {
  int rc = DeleteCertificateFromRootStore(Text(storeName));
  if (rc != 0) {
    LogError("RemoveCertificate: Error occurred while deleting the server certificate %ld \n", static_cast<long>(rc));
  } else {
    LogInfo("RemoveCertificate: Certificate deleted successfully \n");
  }
  LONG removed = deleteValue(HKEY_LOCAL_MACHINE, context.certificatesKey.c_str(), Text(flagValueName));
  if (removed != ERROR_SUCCESS) {
    LogError("RemoveCertificate: Error occurred while removing the reg value %s %ld \n", Text(flagValueName),
             static_cast<long>(removed));
  } else {
    LogInfo("RemoveCertificate: %s deleted successfully \n", Text(flagValueName));
  }
}

LONG GetCertificateFilePath(const RootCertificateContext& context, RootCertificate which, std::string* path) {
  const char* valueName = which == kDsRootCertificate ? "DsRootCertPath" : "ServerRootCertPath";
  std::string text;
  LONG rc = ReadCertificatePath(context, valueName, &text);
  if (rc != ERROR_SUCCESS) {
    LogError("GetCertificateFilePath: Error while getting registry value \"%s\" from key \"%s\" and error code %ld \n",
             valueName, context.certificatesKey.c_str(), static_cast<long>(rc));
    return rc;
  }
  LogInfo("GetCertificateFilePath: Certificate file path : %s \n", text.c_str());
  if (path) *path = text;
  return rc;
}

int DownloadRootCertificate(const RootCertificateContext& context, const char* downloadPath, const char* localPath,
                            const char* filePathValueName, const char* ifModifiedValueName) {
  if (!context.download) {
    LogError("DownloadRootCertificate: No downloader is available for %s, error %ld \n", Text(downloadPath),
             static_cast<long>(kNoCertificateDownloader));
    return kNoCertificateDownloader;
  }
  int rc = context.download(Text(downloadPath), Text(localPath), Text(ifModifiedValueName), context.strict ? 1 : 0);
  if (rc != 0 && rc != kCertificateNotModified) {
    LogError("DownloadRootCertificate: Error while downloading Certificate file %ld \n", static_cast<long>(rc));
    return rc;
  }
  LogInfo("DownloadRootCertificate: Certificate file downloaded successfully in the path %s.. \n", Text(localPath));
  // Without the stored path the file cannot be found again, so a failed
  // write is this call's failure.
  const std::string storedPath = WithBackslashes(Text(localPath));
  return writeValue(HKEY_LOCAL_MACHINE, context.certificatesKey.c_str(), Text(filePathValueName), storedPath.c_str(),
                    REG_SZ);
}

void MoveCertFilesToAgentDir(const RootCertificateContext& context, const char* existingFile, const char* localPath,
                             const char* filePathValueName) {
  LogInfo("Inside MoveCertFilesToAgentDir method \n");
  const std::string target = WithBackslashes(Text(localPath));
  const std::string folder = FolderOfPath(target);
  LogInfo("MoveCertFilesToAgentDir: Copying certificate to the directory %s", folder.c_str());
  int rc = CreateFolderTree(ChangeUtf8ToWideStr(folder.c_str()));
  if (rc != 0 && rc != ERROR_ALREADY_EXISTS) {
    LogError("MoveCertFilesToAgentDir: Create Directory %s failed with error %d \n", folder.c_str(), rc);
  } else {
    LogInfo("InstallRootCertificate: Copy certificate file from \"%s\" to \"%s\" \n", Text(existingFile),
            target.c_str());
    const std::wstring from = ChangeUtf8ToWideStr(Text(existingFile));
    const std::wstring to = ChangeUtf8ToWideStr(target.c_str());
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) {
      LogError("MoveCertFilesToAgentDir: Certificate copy failed with error %ld \n",
               static_cast<long>(GetLastError()));
    } else {
      // Only a copy that is there may replace the stored path: the old path
      // still names a good file.
      writeValue(HKEY_LOCAL_MACHINE, context.certificatesKey.c_str(), Text(filePathValueName), target.c_str(), REG_SZ);
    }
  }
  LogInfo("Endof MoveCertFilesToAgentDir method \n");
}
