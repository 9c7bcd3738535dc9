// The agent's root certificates against Wine's local machine root store, with
// an in-process downloader standing in for the transport.
#include "cert/root_certificates.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/registry.h"
#include "cert/root_store.h"
#include "support/test_support.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/registry_paths.h"
#include "util/text.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::ZPath;

const std::string kServerPem = ZPath(TEST_CERT_DIR "/server_root.pem");
const std::string kDsDer = ZPath(TEST_CERT_DIR "/ds_root.der");

// How many certificates of the local machine's root store carry that name.
int InStore(const wchar_t* name) {
  UniqueCertStore store(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT"));
  int count = 0;
  PCCERT_CONTEXT current = nullptr;
  while ((current = CertEnumCertificatesInStore(store.get(), current)) != nullptr) {
    wchar_t found[256] = {};
    CertGetNameStringW(current, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), found, 256);
    if (wcscmp(found, name) == 0) ++count;
  }
  return count;
}

// The stand-in transport: answers with `answer` and, for 0, writes the body
// of the certificate asked for.
struct FakeDownload {
  int answer = 0;
  std::string serverBody, dsBody;
  std::vector<std::string> urls, localPaths;
  int strict = -1;
};
FakeDownload g_fake;

int FakeDownloader(const char* urlPath, const char* localPath, const char* ifModifiedValueName, int strict) {
  g_fake.urls.push_back(std::string(urlPath) + " " + ifModifiedValueName);
  g_fake.localPaths.push_back(localPath);
  g_fake.strict = strict;
  if (g_fake.answer == 0) {
    std::string target = WithBackslashes(localPath);
    CreateFolderTree(ChangeUtf8ToWideStr(FolderOfPath(target).c_str()));
    const bool ds = std::string(urlPath).find("/c42/") != std::string::npos;
    testing_support::WriteFileBytes(target, ds ? g_fake.dsBody : g_fake.serverBody);
  }
  return g_fake.answer;
}

std::string Stored(const char* name) {
  std::string text;
  return testing_support::ReadAgentText("Certificates", name, &text) ? text : "<missing>";
}

DWORD Flag(const char* name) {
  DWORD value = 0;
  return ReadDwordRegistryData(HKEY_LOCAL_MACHINE, reg_path::AgentKeys().certificates.c_str(), name, &value) == 0
             ? value
             : 99;
}

class RootCertificatesTest : public ::testing::Test {
 protected:
  void SetUp() override { Clean(); }
  void TearDown() override { Clean(); }
  void Clean() {
    testing_support::ClearAgentRegistry();
    installed = RootCertificateState();
    context = RootCertificateContext();
    context.customerId = "c42";
    context.agentFolder = agentDir.path() + "\\";
    context.installed = &installed;
    context.download = FakeDownloader;
    DeleteCertificateFromRootStore("KestrixCA");
    DeleteCertificateFromRootStore("KestrixCA-DS-CA");
    g_fake = FakeDownload();
    g_fake.serverBody = ReadFileBytes(kServerPem);
    g_fake.dsBody = ReadFileBytes(kDsDer);
  }
  // Both certificates installed from the test files, flags set.
  void InstallBoth() {
    testing_support::SeedAgentValue("Certificates", "ServerRootCertPath", kServerPem);
    testing_support::SeedAgentValue("Certificates", "DsRootCertPath", kDsDer);
    ASSERT_EQ(InstallRootCertificateFromLocalFile(context, kServerRootCertificate), 0);
    ASSERT_EQ(InstallRootCertificateFromLocalFile(context, kDsRootCertificate), 0);
  }
  std::string LocalPath(const std::string& tail) { return agentDir.path() + "\\" + tail; }

  TempDir agentDir{"cert-agent"};
  RootCertificateState installed;
  RootCertificateContext context;
};

TEST_F(RootCertificatesTest, LocalFilesInstallAndRemovalTakesOnlyTheNamedOne) {
  InstallBoth();  // PEM and DER
  EXPECT_EQ(InStore(L"KestrixCA"), 1);
  EXPECT_EQ(InStore(L"KestrixCA-DS-CA"), 1);
  EXPECT_EQ(Flag("ServerRootCertificateInstalled"), 1u);
  EXPECT_EQ(installed.dsRootInstalled, 1u);

  // "KestrixCA" is a prefix of the DS name: the DS root must survive.
  RemoveCertificate(context, "KestrixCA", "ServerRootCertificateInstalled");
  EXPECT_EQ(InStore(L"KestrixCA"), 0);
  EXPECT_EQ(InStore(L"KestrixCA-DS-CA"), 1);
  EXPECT_EQ(Flag("ServerRootCertificateInstalled"), 99u);
  EXPECT_EQ(Flag("DSRootCertificateInstalled"), 1u);
}

// A validation of both installed roots, as a row says what differs from a
// plain one: not strict, both paths stored, downloads that answer.
struct Validation {
  explicit Validation(const char* whatText) : what(whatText) {}
  Validation& Strict() { strict = true; return *this; }
  Validation& RemoveOnly() { removeOnly = 1; return *this; }
  Validation& DownloadsAnswer(int code) { downloadAnswer = code; return *this; }
  Validation& WithoutServerPath() { serverPathStored = false; return *this; }
  Validation& Returns(int code) { result = code; return *this; }
  Validation& LeavesInStore(int server, int ds) {
    serverInStore = server;
    dsInStore = ds;
    return *this;
  }
  Validation& Downloads(int count) { downloads = count; return *this; }

  const char* what;
  bool strict = false;
  int removeOnly = 0;
  int downloadAnswer = 0;
  bool serverPathStored = true;
  int result = 0;
  int serverInStore = 1;
  int dsInStore = 1;
  int downloads = 0;
};

TEST_F(RootCertificatesTest, ValidationOutcomes) {
  const Validation rows[] = {
      Validation("strict: reinstalled from the files, never downloaded").Strict(),
      Validation("strict without a server path: that one left as it was").Strict().WithoutServerPath().Returns(1),
      Validation("remove only").RemoveOnly().LeavesInStore(0, 0),
      Validation("fresh downloads of both").WithoutServerPath().Downloads(2),
      Validation("downloads fail: the roots come back from the files they had")
          .DownloadsAnswer(12029)
          .Returns(1)
          .Downloads(2),
  };
  for (const Validation& row : rows) {
    SCOPED_TRACE(row.what);
    Clean();
    InstallBoth();
    if (!row.serverPathStored) testing_support::RemoveAgentValue("Certificates", "ServerRootCertPath");
    context.strict = row.strict;
    g_fake.answer = row.downloadAnswer;

    EXPECT_EQ(CertificateValidation(context, row.removeOnly), row.result);
    EXPECT_EQ(InStore(L"KestrixCA"), row.serverInStore);
    EXPECT_EQ(InStore(L"KestrixCA-DS-CA"), row.dsInStore);
    EXPECT_EQ(static_cast<int>(g_fake.urls.size()), row.downloads);
    EXPECT_EQ(Flag("DSRootCertificateInstalled"), row.dsInStore ? 1u : 99u);
  }
}

TEST_F(RootCertificatesTest, DownloadsStoreTheBackslashPathOrReturnTheirFailure) {
  testing_support::SeedAgentValue("Certificates", "DsRootCertPath", kDsDer);  // present, but forced anyway
  context.strict = true;
  EXPECT_EQ(InstallRootCertificate(context, kDsRootCertificate, 1), 0);
  ASSERT_EQ(g_fake.urls, std::vector<std::string>{"client-data/c42/server-certificates/DMRootCA.crt DsRootCertificate"});
  EXPECT_EQ(g_fake.localPaths[0], agentDir.path() + "\\client-data/c42/server-certificates/DMRootCA.crt");
  EXPECT_EQ(g_fake.strict, 1);
  EXPECT_EQ(Stored("DsRootCertPath"), LocalPath("client-data\\c42\\server-certificates\\DMRootCA.crt"));
  EXPECT_EQ(InStore(L"KestrixCA-DS-CA"), 1);
  EXPECT_EQ(installed.dsRootInstalled, 1u);

  // Unchanged on the server: the file already there is installed again.
  DeleteCertificateFromRootStore("KestrixCA-DS-CA");
  g_fake.answer = kCertificateNotModified;
  EXPECT_EQ(InstallRootCertificate(context, kDsRootCertificate, 1), 0);
  EXPECT_EQ(InStore(L"KestrixCA-DS-CA"), 1);

  // Failures come back as they are, and nothing is installed or stored.
  g_fake.answer = 12029;
  EXPECT_EQ(InstallRootCertificate(context, kServerRootCertificate, 0), 12029);  // no path stored: must download
  context.download = nullptr;
  EXPECT_EQ(InstallRootCertificate(context, kServerRootCertificate, 1), kNoCertificateDownloader);
  EXPECT_EQ(Stored("ServerRootCertPath"), "<missing>");
  EXPECT_EQ(InStore(L"KestrixCA"), 0);
  EXPECT_EQ(Flag("ServerRootCertificateInstalled"), 99u);
}

TEST_F(RootCertificatesTest, FileOutsideTheAgentFolderIsCopiedInUnlessTheCopyFails) {
  const std::string copy = LocalPath("client-data\\server-certificates\\DMRootCA.crt");
  // The copy cannot replace a folder: the stored path keeps naming the good file.
  testing_support::MakeDirs(copy);
  testing_support::SeedAgentValue("Certificates", "ServerRootCertPath", kServerPem);
  EXPECT_EQ(InstallRootCertificate(context, kServerRootCertificate, 0), 0);
  EXPECT_EQ(Stored("ServerRootCertPath"), kServerPem);
  EXPECT_EQ(InStore(L"KestrixCA"), 1);

  RemoveDirectoryW(ChangeUtf8ToWideStr(copy.c_str()).c_str());
  EXPECT_EQ(InstallRootCertificate(context, kServerRootCertificate, 0), 0);
  EXPECT_TRUE(g_fake.urls.empty());
  EXPECT_EQ(Stored("ServerRootCertPath"), copy);
  EXPECT_EQ(ReadFileBytes(copy), ReadFileBytes(kServerPem));
  EXPECT_EQ(installed.serverRootInstalled, 1u);
}

TEST_F(RootCertificatesTest, MissingCorruptOrNonTextFileInstallsNothing) {
  InstallBoth();  // the working roots a bad file must not cost
  const std::string corrupt = LocalPath("corrupt.crt");
  testing_support::WriteFileBytes(corrupt, "-----BEGIN CERTIFICATE-----\nnot base64\n-----END CERTIFICATE-----\n");

  testing_support::SeedAgentValue("Certificates", "ServerRootCertPath", LocalPath("absent.crt"));
  EXPECT_EQ(InstallRootCertificateFromLocalFile(context, kServerRootCertificate), 1);
  // A path held as binary data is no path, though its bytes spell one.
  testing_support::PutRawValue(reg_path::AgentKeys().certificates, L"ServerRootCertPath",
                               {true, REG_BINARY, testing_support::WideBytes(ChangeUtf8ToWideStr(kServerPem.c_str()))},
                               0);
  EXPECT_EQ(InstallRootCertificateFromLocalFile(context, kServerRootCertificate), 1);
  testing_support::SeedAgentValue("Certificates", "ServerRootCertPath", corrupt);
  EXPECT_EQ(InstallRootCertificateFromLocalFile(context, kServerRootCertificate), kCertificateFileUnreadable);
  EXPECT_EQ(InStore(L"KestrixCA"), 1);
  EXPECT_EQ(Flag("ServerRootCertificateInstalled"), 1u);

  // A download that brings no certificate.
  DeleteCertificateFromRootStore("KestrixCA-DS-CA");
  g_fake.dsBody = "<html>proxy login</html>";
  EXPECT_EQ(InstallRootCertificate(context, kDsRootCertificate, 1), kCertificateFileUnreadable);
  EXPECT_EQ(InStore(L"KestrixCA-DS-CA"), 0);
}

}  // namespace
