// The agent's two root certificates, for its management server and its
// distribution server (DS): kept in the machine's trusted root store and as
// files in the agent folder, with their state in the certificates key.
//
// The request engine calls CertificateValidation when a secure connection
// fails its certificate check, and RemoveCertificate/InstallRootCertificate
// when it fetches the DS root certificate again.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "util/registry_paths.h"

enum RootCertificate : int {
  kServerRootCertificate = 0,
  kDsRootCertificate = 1,
};

// --- what the certificate functions work with ---
// The in-memory installed flags of the two certificates, kept in step with
// the installed-flag values of the certificates key.
struct RootCertificateState {
  DWORD serverRootInstalled = 0;
  DWORD dsRootInstalled = 0;
};
// Downloads `urlPath` from the agent's current server to `localPath`, sending
// the time stored under `ifModifiedValueName` as If-Modified-Since; `strict`
// asks for full certificate validation. Returns 0, 90001 when the file is
// unchanged, or an error code. The transport sits above this layer and
// supplies it.
using RootCertificateDownloader =
    std::function<int(const char* urlPath, const char* localPath, const char* ifModifiedValueName, int strict)>;
// What DownloadRootCertificate returns while no downloader is given.
const int kNoCertificateDownloader = ERROR_CALL_NOT_IMPLEMENTED;
// The download's answer for a file the server has not changed.
const int kCertificateNotModified = 90001;

// The agent's settings the certificates need, handed down by the caller.
struct RootCertificateContext {
  std::string customerId;
  // The agent folder; ends with a separator.
  std::string agentFolder;
  // Strict certificate mode as it stands in this run.
  bool strict = false;
  // The installed flags this run keeps; never null.
  RootCertificateState* installed = nullptr;
  // Empty: no download can be made.
  RootCertificateDownloader download;
  // The agent's certificates key: the files' paths and the installed flags.
  std::string certificatesKey = reg_path::AgentKeys().certificates;
};

// Strict mode: installs both certificates again from the agent's files.
// Otherwise: removes both certificates and their installed flags, then (unless
// removeOnly is 1) downloads both afresh and installs them.
// 0 when both were handled without error, else 1.
int CertificateValidation(const RootCertificateContext& context, int removeOnly);

// Installs the certificate from the file its path value names, downloading it
// first when there is no such file or `forceDownload` is non-zero. A file
// outside the agent folder is copied into it. 0 on success; the download's
// error; the store's error; 2 when after the download no file path is stored.
int InstallRootCertificate(const RootCertificateContext& context, RootCertificate which, int forceDownload);

// Replaces the installed certificate with the one in the file its path value
// names. Never downloads. 0 on success; 1 when no path is stored or the file
// is missing; the store's error otherwise. A file that holds no certificate
// leaves the installed one and its flag in place.
int InstallRootCertificateFromLocalFile(const RootCertificateContext& context, RootCertificate which);

// Deletes the certificate of that name from the root store and the installed
// flag value from the certificates key; each step runs whatever the other gave.
void RemoveCertificate(const RootCertificateContext& context, const char* storeName, const char* flagValueName);

// The file path value of the certificate: 0 and the path, or the registry's
// error with `path` untouched. Only a text value (REG_SZ, REG_EXPAND_SZ) is a
// path; any other type gives 13.
LONG GetCertificateFilePath(const RootCertificateContext& context, RootCertificate which, std::string* path);

// Downloads the certificate through the context's downloader and stores the
// local path (with backslashes) under `filePathValueName`. 0 also
// when the server reports the file unchanged; otherwise the download's
// error, kNoCertificateDownloader, or the registry's error when the path
// could not be stored.
int DownloadRootCertificate(const RootCertificateContext& context, const char* downloadPath, const char* localPath,
                            const char* filePathValueName, const char* ifModifiedValueName);

// Copies an installed certificate file to `localPath` inside the agent folder
// and, once the copy is there, names it under `filePathValueName`.
void MoveCertFilesToAgentDir(const RootCertificateContext& context, const char* existingFile, const char* localPath,
                             const char* filePathValueName);

// --- pure, exposed for tests ---
struct RootCertificateRow {
  const char* storeName;
  const char* flagValueName;
  const char* filePathValueName;
  const char* ifModifiedValueName;
  std::string downloadPath;  // URL path, with "/"
  std::string localPath;     // install folder + download path, "/" kept
};
// `installDir` ends with a separator.
RootCertificateRow DescribeRootCertificate(RootCertificate which, const std::string& customerId,
                                           const std::string& installDir);
// The path with every "/" turned into "\".
std::string WithBackslashes(std::string path);
// The folder part of a path (backslashes only), without its last separator.
std::string FolderOfPath(const std::string& path);
