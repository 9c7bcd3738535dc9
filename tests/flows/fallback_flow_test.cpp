// The fallback stage of whole deployments: after a failed store installation
// the package-file list is fetched from nginx, decrypted by the decryptor
// stand-in, its files downloaded and checked into the package folder and
// installed from there; then the network share.
#include <gtest/gtest.h>

#include "flows/deployment_fixture.h"
#include "source/package_list.h"

using namespace testing_support;

namespace {

class ListFlow : public DeploymentFlow {
 protected:
  void SetUp() override {
    DeploymentFlow::SetUp();
    // The store installation fails, the installation from the package folder succeeds.
    PlaceInstaller("configure_exits=17002,0");
    PlaceDecryptor("");
    // nginx's log outlives a test run: only what this test caused counts.
    accessLogStart_ = ReadFileBytes(Servers().accessLog).size();
  }
  void PlaceDecryptor(const std::string& script) {
    ASSERT_TRUE(CopyFileUtf8(BinPath("officemeta_standin.exe"), agent_ / "patches\\officemeta.exe"));
    WriteFileBytes(agent_ / "patches\\officemeta.txt", script);
  }
  // Stores the patch's list encoded as the decryptor stand-in expects.
  static void PutList(int patchId, const std::string& json) {
    std::string encoded = json;
    for (char& c : encoded) c = static_cast<char>(c ^ 0x5A);
    const std::string id = std::to_string(patchId);
    PutStoreFile("office/" + id + "/" + id + ".json", encoded);
  }
  // Stores a package file and returns its SHA-256 text.
  static std::string PutPackageFile(int patchId, std::string name, const std::string& bytes) {
    for (char& c : name) c = c == '\\' ? '/' : c;
    PutStoreFile("office/" + std::to_string(patchId) + "/" + name, bytes);
    std::string hex;
    std::string storePath = Servers().storeDirZ + "\\office\\" + std::to_string(patchId) + "\\" + name;
    EXPECT_EQ(GetSHA256HashFromFile(storePath, &hex), 0);
    return hex;
  }
  DWORD RunPatch(int patchId) {
    return Run("-pid " + std::to_string(patchId) +
               " -ch Current -oce 64 -in office-12.exe -prid O365ProPlusRetail -v 16.0.17928.20114");
  }
  // How often nginx was asked for a file of the patch during this test.
  size_t StoreGets(int patchId, const std::string& name) const {
    return Count(ReadFileBytes(Servers().accessLog).substr(accessLogStart_),
                 "\"GET /store/office/" + std::to_string(patchId) + "/" + name + " HTTP");
  }
  std::string Remark() const { return ReadFileBytes(agent_ / "data\\custom-patch-remarks.json"); }
  std::string FileUrl(int patchId, const std::string& name) const { return StoreUrl("127.0.0.1", patchId) + "/" + name; }

  size_t accessLogStart_ = 0;
};

}  // namespace

TEST_F(ListFlow, StoreFailureThenTheListInstallsFromThePackageFolder) {
  const int id = 41;
  const std::string a = PutPackageFile(id, "a.cab", "first cabinet");
  const std::string b = PutPackageFile(id, "Data\\b.DAT", "second file, in a subfolder");
  const std::string c = PutPackageFile(id, "c.cat", "catalog");
  // The store is asked for exactly this file, not for a query, a fragment or
  // a decoded "..".
  const std::string d = PutPackageFile(id, "%2e%2e\\a b#1.cab", "URL-special name");
  std::string upperC = c;
  for (char& ch : upperC) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
  // An .xml member is skipped, even with a malformed checksum. The list has
  // the largest size accepted.
  std::string list = "{\"c.cat\": \"" + upperC + "\", \"Data\\\\b.DAT\": \"" + b + "\", \"a.cab\": \"" + a +
                     "\", \"%2e%2e\\\\a b#1.cab\": \"" + d + "\", \"notes.xml\": \"x\"";
  // Many more members that are no installation files: the log names only
  // the first of them.
  for (int i = 0; i < 1000; ++i) list += ", \"z" + std::to_string(1000 + i) + ".txt\": \"\"";
  list += "}";
  list.resize(16 * 1024 * 1024, ' ');
  PutList(id, list);
  // The agent's decryptor may answer that the list is already decrypted.
  PlaceDecryptor("exit_code=183");

  EXPECT_EQ(RunPatch(id), 0u);
  EXPECT_EQ(ReadTextFile(agent_ / "patches\\officemeta.calls.txt"),
            "\"" + agent_.path() + "\\\\patches\\officemeta.exe\" -pid 41 -path \"" + PackageFolder(id) + "\" -op d\n");
  EXPECT_EQ(Count(Calls(), "/configure"), 2u);
  EXPECT_NE(Received(1).find("SourcePath=\"" + StoreUrl("127.0.0.1", id) + "\""), std::string::npos);
  EXPECT_NE(Received(2).find("SourcePath=\"" + PackageFolder(id) + "\""), std::string::npos) << Received(2);
  for (const char* name : {"a.cab", "Data/b.DAT", "c.cat", "%252e%252e/a%20b%231.cab"}) {
    EXPECT_EQ(StoreGets(id, name), 1u) << name;
  }
  EXPECT_EQ(StoreGets(id, "notes.xml"), 0u);

  DWORD flow = 0;
  EXPECT_TRUE(TrackingFlow(&flow));
  EXPECT_EQ(flow, 2u);
  EXPECT_FALSE(DeploymentKeyExists());
  EXPECT_FALSE(FileExists(PackageFolder(id)));
  EXPECT_FALSE(FileExists(agent_ / "data\\custom-patch-remarks.json"));
  const std::string log = Log();
  EXPECT_NE(log.find("Considering error code 183 as success.\n"), std::string::npos);
  EXPECT_NE(log.find("Skipping notes.xml\n"), std::string::npos);
  EXPECT_EQ(Count(log, "Skipping z"), 19u);
  EXPECT_NE(log.find("Skipping 981 more members that name no installation file.\n"), std::string::npos);
  EXPECT_NE(log.find("KQTracking is Processed and added value for Old Flow Success: 2 \n"), std::string::npos);
  EXPECT_NE(log.find("As installed succeeded, we are cleaning up the setup files.\n"), std::string::npos);
}

TEST_F(ListFlow, ANameBeyondAsciiIsLoggedAsItIs) {
  const int id = 61;
  const std::string name = "Gr\xC3\xBC\xC3\x9F" "e\xE9\x80\x9A\xE9\x81\x93.cab";
  PutList(id, "{\"" + name + "\": \"" + PutPackageFile(id, name, "cabinet") + "\"}");
  EXPECT_EQ(RunPatch(id), 0u);
  // Every line of its download names the file as the list does, the
  // transport's wide texts included.
  const std::string log = Log();
  const std::string path = "/store/office/61/" + name;
  const std::string destination = PackageFolder(id) + "\\" + name;
  for (const std::string& line :
       {"URL : " + FileUrl(id, name) + "\n", "Dest Path : " + destination + "\n", "Path is " + path + "\n",
        "InternetGetRequestEx : URL to Get -> " + path + " \n",
        "InternetGetRequestEx : Successfully downloaded the file " + path + " from the server 127.0.0.1 to the "
        "destination file " + destination + " \n"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line;
  }
}

TEST_F(ListFlow, PresentFilesAreCheckedAndAWrongDownloadIsRefused) {
  const int id = 42;
  const std::string a = PutPackageFile(id, "a.cab", "kept as it is");
  const std::string b = PutPackageFile(id, "b.cab", "fetched again");
  PutPackageFile(id, "c.cab", "not what the list says");
  const std::string d = PutPackageFile(id, "d.cab", "never asked for");
  PutList(id, "{\"a.cab\": \"" + a + "\", \"b.cab\": \"" + b + "\", \"c.cab\": \"" + std::string(64, '0') +
                  "\", \"d.cab\": \"" + d + "\"}");
  // An earlier run left a correct a.cab and a damaged b.cab.
  MakeDirs(PackageFolder(id));
  WriteFileBytes(PackageFolder(id) + "\\a.cab", "kept as it is");
  WriteFileBytes(PackageFolder(id) + "\\b.cab", "damaged");

  EXPECT_EQ(RunPatch(id), 60000u);
  EXPECT_EQ(StoreGets(id, "a.cab"), 0u);
  EXPECT_EQ(StoreGets(id, "b.cab"), 1u);
  EXPECT_EQ(ReadFileBytes(PackageFolder(id) + "\\b.cab"), "fetched again");
  EXPECT_FALSE(FileExists(PackageFolder(id) + "\\c.cab"));
  // The verdict on c.cab came before anything later was asked for.
  EXPECT_EQ(StoreGets(id, "d.cab"), 0u);
  EXPECT_EQ(Count(Calls(), "/configure"), 1u);  // only the store installation
  EXPECT_NE(Remark().find("\"Failed to download " + FileUrl(id, "c.cab") + " with error checksum mismatch.\""),
            std::string::npos)
      << Remark();
  EXPECT_NE(Log().find("File already exists but checksum mismatch. Need to redownload.\n"), std::string::npos);
}

TEST_F(ListFlow, ListFromTheSecondAddressServesEveryFile) {
  const int id = 43;
  const std::string a = PutPackageFile(id, "a.cab", "cabinet");
  PutList(id, "{\"a.cab\": \"" + a + "\"}");
  // nginx answers 404 to everything on 127.0.0.2.
  SeedAgentValue("ServerInfo", "RZLastAccessName", "127.0.0.2");

  EXPECT_EQ(RunPatch(id), 0u);
  const std::string log = Log();
  EXPECT_NE(log.find("URL : https://127.0.0.2:" + std::to_string(Servers().nginxHttps) + "/store/office/43/43.json\n"),
            std::string::npos);
  EXPECT_NE(log.find("PatchMetaJson download failed withe error code : 404\n"), std::string::npos);
  EXPECT_NE(log.find("URL : " + FileUrl(id, "a.cab") + "\n"), std::string::npos) << log;
}

TEST_F(ListFlow, FailuresEndWithTheirCodeAndRemark) {
  const char kGeneric1[] = "Failed to download office installation files with error code : 1";
  const std::string tooLarge = "{\"a.cab\": \"%s\"}" + std::string(16 * 1024 * 1024 - 13, ' ');
  const struct {
    int id;
    const char* list;       // null: nothing in the store; "%s": the checksum of a stored a.cab
    const char* decryptor;  // its script
    DWORD exitCode;
    const char* remark;     // "%s": the patch's store URL
  } cases[] = {
      {44, nullptr, "", 404, "Failed to download office patch meta json with error code : 404"},
      {45, "{}", "exit_code=5", 5, "Failed to decrypt office meta - 45.json"},
      {46, "{}", "remove_list=1", 2, "Failed to decrypt office meta - 46.json"},
      {47, "[]", "", 2, "Failed to download office installation files with error code : 2"},
      {48, "{\"b.dat\": \"0123\"}", "", 1, kGeneric1},
      // Names that would leave the package folder, or reach a device, or
      // name one file twice, are refused before anything is fetched.
      {49, "{\"a.cab\": \"%s\", \"..\\\\..\\\\evil.cab\": \"%s\"}", "", 1, kGeneric1},
      {50, "{\"\\\\evil.cab\": \"%s\"}", "", 1, kGeneric1},
      {51, "{\"C:evil.cab\": \"%s\"}", "", 1, kGeneric1},
      {53, "{\"NUL.cab\": \"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\"}", "", 1, kGeneric1},
      {54, "{\"a.cab\": \"%s\", \"sub\\\\LPT1.dat\": \"%s\"}", "", 1, kGeneric1},
      {55, "{\"A.cab\": \"%s\", \"a.cab\": \"%s\"}", "", 1, kGeneric1},
      // The name the file system would see is "NUL".
      {60, "{\"NUL\\u0000.cab\": \"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\"}", "", 1,
       kGeneric1},
      {56, tooLarge.c_str(), "", 2, "Failed to download office installation files with error code : 2"},
      {57, "{\"a.cab\": \"%s\", \"gone.cab\": \"%s\"}", "", 404,
       "Failed to download %s/gone.cab with error code : 404\\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    // A remark an earlier run left says nothing about this one, nor does a
    // decrypted list an earlier run left in the package folder.
    WriteFileBytes(agent_ / "data\\custom-patch-remarks.json", "{\"custom_remarks\" : \"stale\"}");
    const std::string listFile = PackageFolder(c.id) + "\\" + std::to_string(c.id) + ".json";
    MakeDirs(PackageFolder(c.id));
    WriteFileBytes(listFile, "{\"stale.cab\": \"" + std::string(64, '0') + "\"}");
    PlaceDecryptor(c.decryptor);
    if (c.list) {
      std::string list = c.list;
      const std::string hash = PutPackageFile(c.id, "a.cab", "x");
      for (size_t hole = list.find("%s"); hole != std::string::npos; hole = list.find("%s", hole)) {
        list.replace(hole, 2, hash);
      }
      PutList(c.id, list);
    }
    EXPECT_EQ(RunPatch(c.id), c.exitCode);
    std::string remark = c.remark;
    if (remark.find("%s") != std::string::npos) remark.replace(remark.find("%s"), 2, StoreUrl("127.0.0.1", c.id));
    EXPECT_NE(Remark().find("\"" + remark + "\""), std::string::npos) << Remark();
    EXPECT_EQ(ReadFileBytes(listFile).find("stale"), std::string::npos);
    EXPECT_EQ(StoreGets(c.id, "a.cab"), c.id == 57 ? 1u : 0u);
  }
  EXPECT_FALSE(FileExists(agent_ / "patches\\evil.cab"));
  EXPECT_FALSE(FileExists(agent_ / "patches\\office\\evil.cab"));
  EXPECT_EQ(Count(Calls(), "/configure"), 14u);  // the store installations only
}

TEST_F(ListFlow, NetworkShareAfterBothFlowsFailed) {
  writeValue(HKEY_LOCAL_MACHINE, kProgramKeys.officePatchData.c_str(), "EnableNetworkShare", "1", REG_DWORD);
  // \\sharesrv\office\<id> is a folder of the Wine prefix's UNC tree.
  SeedAgentValue("ServerInfo", "RZServerFlatName", "sharesrv");
  const struct {
    int id;
    const char* decryptor;
    const char* setup;  // the store's, then the package folder's or the share's
    DWORD exitCode;
    size_t extractions;
  } cases[] = {
      {52, "exit_code=7", "17002,1603", 1603, 2},
      // Setup's "applications in use" from the share, and from the package
      // folder (the share is then not tried).
      {58, "exit_code=7", "17002,17006", 20001, 2},
      {59, "", "17002,17006", 20001, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    const std::string a = PutPackageFile(c.id, "a.cab", "cabinet");
    PutList(c.id, "{\"a.cab\": \"" + a + "\"}");
    PlaceDecryptor(c.decryptor);
    PlaceInstaller(std::string("configure_exits=") + c.setup);
    MakeDirs(WinePrefixPath("dosdevices\\unc\\sharesrv\\office\\" + std::to_string(c.id)));
    for (const std::string& file : {record_ / "setup_standin.calls.txt", record_ / "configure.received.2.xml",
                                    agent_ / "logs\\rzprereqhandler.log"}) {
      DeleteFileW(ChangeUtf8ToWideStr(file.c_str()).c_str());
    }

    EXPECT_EQ(RunPatch(c.id), c.exitCode);
    EXPECT_EQ(Count(Calls(), "/extract:"), c.extractions);
    if (c.extractions == 2) {
      EXPECT_NE(Received(2).find("SourcePath=\"\\\\sharesrv\\office\\" + std::to_string(c.id) + "\""),
                std::string::npos)
          << Received(2);
      EXPECT_EQ(Log().find("SharePath installation is skipped"), std::string::npos);
    }
  }
}

namespace {

// One run of the closing-line table: what it does not set is a valid command
// line, a selected en-us, no list in the store, a decryptor that succeeds,
// no share, a setup that succeeds and no installed-Office verdict.
struct Closing {
  Closing(int patchId, DWORD code, const char* line) : id(patchId), exitCode(code), summary(line) {}
  int id;
  DWORD exitCode;
  const char* summary;  // what the closing line says after "exit code "
  std::string setup;
  std::string list;  // "a.cab": one stored file; else the list's text
  std::string decryptor;
  bool share = false;
  const char* culture = "en-us";
  std::string args = "-ch Current -oce 64 -in office-12.exe -prid O365ProPlusRetail -v 16.0.17928.20114";
  DWORD verified = 9;  // 9: InstalledOfficeVerified not written

  Closing& Setup(const std::string& script) { setup = script; return *this; }
  Closing& List(const std::string& text) { list = text; return *this; }
  Closing& Decryptor(const std::string& script) { decryptor = script; return *this; }
  Closing& Share() { share = true; return *this; }
  Closing& Selected(const char* selected) { culture = selected; return *this; }
  Closing& Args(const std::string& text) { args = text; return *this; }
  Closing& Verified(DWORD verdict) { verified = verdict; return *this; }
};

}  // namespace

TEST_F(ListFlow, EveryRunEndsWithExactlyOneClosingLine) {
  const std::string installed = "installed_version=16.0.17928.20114\ninstalled_platform=x64\n";
  const std::string storeFailsFirst = "configure_exits=17002,0\n" + installed;
  const std::string kNothing = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
  const Closing rows[] = {
      Closing(62, 0,
              "0 (success); installed from : the server's file store; remark : none; installed Office : verified")
          .Setup(installed)
          .Verified(1),
      Closing(63, 0, "0 (success); installed from : the package-file list; remark : none; installed Office : verified")
          .Setup(storeFailsFirst)
          .List("a.cab")
          .Verified(1),
      Closing(64, 0,
              "0 (success); installed from : the network share; remark : Failed to decrypt office meta - 64.json; "
              "installed Office : verified")
          .Setup(storeFailsFirst)
          .List("a.cab")
          .Decryptor("exit_code=7")
          .Share()
          .Verified(1),
      // Setup says 0 and leaves no version to read.
      Closing(65, 0,
              "0 (success); installed from : the server's file store; remark : none; installed Office : could not be "
              "read")
          .Verified(2),
      Closing(66, 13, "13 (general failure: invalid arguments (an option missing").Args("-ch Current"),
      Closing(67, 15050, "15050 (an installed language is not selected); installed").Selected("de-de"),
      Closing(68, 258, "258 (time-out: setup from the server's store was stopped); installed from : none")
          .Setup("configure_exit=258"),
      Closing(69, 1,
              "1 (the package-file list was refused: a name or checksum in it breaks the list's rules); installed "
              "from : none; remark : Failed to download office installation files with error code : 1")
          .Setup("configure_exit=17002")
          .List("{\"NUL\\u0000.cab\": \"" + kNothing + "\"}"),
  };
  SeedAgentValue("ServerInfo", "RZServerFlatName", "sharesrv");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.id);
    PlaceInstaller(row.setup);
    PlaceDecryptor(row.decryptor);
    WriteSettings({row.culture});
    if (row.list == "a.cab") {
      PutList(row.id, "{\"a.cab\": \"" + PutPackageFile(row.id, "a.cab", "cabinet") + "\"}");
    } else if (!row.list.empty()) {
      PutList(row.id, row.list);
    }
    writeValue(HKEY_LOCAL_MACHINE, kProgramKeys.officePatchData.c_str(), "EnableNetworkShare", row.share ? "1" : "0",
               REG_DWORD);
    if (row.share) MakeDirs(WinePrefixPath("dosdevices\\unc\\sharesrv\\office\\" + std::to_string(row.id)));
    // What the previous row's setup left installed, and its verdict.
    deleteValueEx(HKEY_LOCAL_MACHINE, reg_path::kClickToRunConfiguration, "VersionToReport", 1);
    deleteValue(HKEY_LOCAL_MACHINE, kProgramKeys.tracking.c_str(), "InstalledOfficeVerified");
    deleteValue(HKEY_LOCAL_MACHINE, kProgramKeys.tracking.c_str(), "InstalledOfficeVersion");
    DeleteFileW(ChangeUtf8ToWideStr((agent_ / "logs\\rzprereqhandler.log").c_str()).c_str());

    EXPECT_EQ(Run("-pid " + std::to_string(row.id) + " " + row.args), row.exitCode);
    const std::string log = Log();
    EXPECT_EQ(Count(log, "Run summary : "), 1u) << log;
    EXPECT_NE(log.find("Run summary : exit code " + std::string(row.summary)), std::string::npos) << log;
    DWORD verified = 9;
    ReadDwordRegistryData(HKEY_LOCAL_MACHINE, kProgramKeys.tracking.c_str(), "InstalledOfficeVerified", &verified);
    EXPECT_EQ(verified, row.verified);
    std::string version;
    EXPECT_EQ(ReadViewString(kProgramKeys.tracking.c_str(), "InstalledOfficeVersion", &version, 0) == 0,
              row.verified != 9);
    EXPECT_EQ(version, row.verified == 1 ? "16.0.17928.20114" : "");
  }
}

TEST_F(ListFlow, ProgressOfARateLimitedDownloadLastsAsLongAsTheRun) {
  const int id = 80;
  // A few megabytes at 1,000 KBps take seconds: long enough for the meter to
  // speak, and for the agent to read the deployment's progress.
  SeedAgentValue("", "DataTransferRate_KBps", "1000");
  const std::string big = PutPackageFile(id, "big.cab", std::string(4000001, 'b'));
  const std::string small = PutPackageFile(id, "small.cab", "small");
  PutList(id, "{\"big.cab\": \"" + big + "\", \"small.cab\": \"" + small + "\"}");
  PlaceInstaller(std::string("configure_exits=17002,0\nread_value=") + kProgramKeys.tracking.c_str() +
                 "|DownloadProgress");

  EXPECT_EQ(RunPatch(id), 0u);
  // What the agent read while setup installed from the package folder:
  // "<file>/<files> <done>/<total>", the total that of the file counted.
  const std::string shown = ReadFileBytes(record_ / "value.2.txt");
  unsigned file = 0, files = 0;
  unsigned long long done = 0, total = 0;
  ASSERT_EQ(sscanf(shown.c_str(), "%u/%u %llu/%llu", &file, &files, &done, &total), 4) << shown;
  EXPECT_EQ(files, 2u);
  EXPECT_EQ(total, file == 1 ? 4000001u : 5u) << shown;
  EXPECT_LE(done, total);
  EXPECT_EQ(ReadFileBytes(record_ / "value.1.txt"), "");  // nothing downloaded yet
  std::string value;
  EXPECT_NE(ReadViewString(kProgramKeys.tracking.c_str(), "DownloadProgress", &value, 0), 0) << value;

  const std::string log = Log();
  const std::string line = "Download progress : /store/office/80/big.cab ";
  ASSERT_NE(log.find(line), std::string::npos) << log;
  for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) {
    const std::string text = log.substr(at, log.find('\n', at) - at);
    EXPECT_NE(text.find(" of 3.8 MiB ("), std::string::npos) << text;
    EXPECT_NE(text.find("B/s, about "), std::string::npos) << text;
    EXPECT_EQ(text.compare(text.size() - 5, 5, " left"), 0) << text;
  }
  const size_t counted = log.find("Files to fetch from the list : 2\n");
  const size_t first = log.find("File 1 of 2 done\n");
  const size_t second = log.find("File 2 of 2 done\n");
  EXPECT_LT(counted, log.find("URL : " + FileUrl(id, "big.cab")));
  EXPECT_LT(log.find("Checksum matches.\n"), first);
  EXPECT_LT(first, log.find("URL : " + FileUrl(id, "small.cab")));
  EXPECT_NE(second, std::string::npos);

  // A failed download ends the run: what it recorded goes with it.
  const int failing = 81;
  PutList(failing, "{\"a.cab\": \"" + PutPackageFile(failing, "a.cab", "x") + "\", \"gone.cab\": \"" +
                       std::string(64, '0') + "\"}");
  DeleteFileW(ChangeUtf8ToWideStr((agent_ / "logs\\rzprereqhandler.log").c_str()).c_str());
  EXPECT_EQ(RunPatch(failing), 404u);
  EXPECT_NE(Log().find("writeValue: Value Name: DownloadProgress \n"), std::string::npos);
  EXPECT_NE(ReadViewString(kProgramKeys.tracking.c_str(), "DownloadProgress", &value, 0), 0) << value;
}
