// The package list's pieces: the list's rules, the shape check and SHA-256 of
// files (known vectors, and a file longer than one read block).
#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <string>
#include <vector>

#include "agent/registry.h"
#include "source/package_list.h"
#include "source/streaming_hash.h"
#include "support/test_support.h"
#include "util/handles.h"
#include "util/registry_paths.h"

using namespace testing_support;

TEST(PackageListRules, EveryRuleOverTheWholeList) {
  const std::string h(64, 'a');
  const std::string upper(64, 'A');
  const struct {
    const char* what;
    std::vector<ListMember> members;
    int result;
    // The URL paths of the files to fetch; for a refusal none at all.
    std::vector<std::string> urlPaths;
    size_t skipped;
  } rows[] = {
      {"installation files, any letter case", {{"a.cab", h}, {"sub\\b.CAB", upper}, {"c.Dat", h}, {"d.cat", h}},
       0, {"a.cab", "sub/b.CAB", "c.Dat", "d.cat"}, 0},
      {"other members are skipped whatever they hold",
       {{"setup.xml", "x"}, {"cab", ""}, {"a.cab.txt", ""}, {"v.cabx", h}, {"A.xml", ""}, {"a.xml", ""}}, 0, {}, 6},
      {"63-character checksum", {{"a.cab", h}, {"b.dat", std::string(63, 'a')}}, 1, {}, 0},
      {"65-character checksum", {{"b.dat", std::string(65, 'a')}}, 1, {}, 0},
      {"checksum that is no text", {{"b.dat", ""}}, 1, {}, 0},
      {"climbs out", {{"a.cab", h}, {"..\\..\\evil.cab", h}}, 1, {}, 0},
      {"climbs out through a folder", {{"a/../../evil.cab", h}}, 1, {}, 0},
      {"leading separator", {{"\\evil.cab", h}}, 1, {}, 0},
      {"drive", {{"C:evil.cab", h}}, 1, {}, 0},
      {"device with the checksum of nothing",
       {{"NUL.cab", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"}}, 1, {}, 0},
      {"serial device", {{"COM1.cab", h}}, 1, {}, 0},
      {"printer device in a folder", {{"sub\\LPT1.dat", h}}, 1, {}, 0},
      {"device as a folder", {{"prn\\a.cab", h}}, 1, {}, 0},
      {"device in lower case with two extensions", {{"aux.tar.cab", h}}, 1, {}, 0},
      {"device with trailing blanks and dots", {{"con .\\a.cab", h}}, 1, {}, 0},
      {"device with a blank before the extension", {{"lpt9 .cab", h}}, 1, {}, 0},
      {"names that only resemble devices", {{"COM0.cab", h}, {"LPT10.cab", h}, {"console.cab", h}, {"nulx.cat", h}},
       0, {"COM0.cab", "LPT10.cab", "console.cab", "nulx.cat"}, 0},
      {"same name in another letter case", {{"A.cab", h}, {"a.cab", h}}, 1, {}, 0},
      {"same name with the other separator", {{"SUB\\X.CAB", h}, {"sub/x.cab", h}}, 1, {}, 0},
      {"same folder with a trailing dot", {{"sub.\\x.cab", h}, {"sub\\x.cab", h}}, 1, {}, 0},
      {"same name beyond ASCII", {{"\xC3\x84.cab", h}, {"\xC3\xA4.cab", h}}, 1, {}, 0},
      {"characters a URL reads its own way",
       {{"%2e%2e\\%2e%2e\\f.cab", h}, {"a b#1.cab", h}, {"q?x=1.cab", h}}, 0,
       {"%252e%252e/%252e%252e/f.cab", "a%20b%231.cab", "q%3Fx=1.cab"}, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const PackageListCheck check = CheckPackageList(row.members);
    EXPECT_EQ(check.result, row.result);
    EXPECT_EQ(check.refusal.empty(), row.result == 0) << check.refusal;
    std::vector<std::string> urlPaths;
    for (const PackageFile& file : check.files) {
      urlPaths.push_back(file.urlPath);
      // The file lands where the list says, with Windows separators.
      std::string local = file.name;
      for (char& c : local) c = c == '/' ? '\\' : c;
      EXPECT_EQ(file.localName, local);
    }
    EXPECT_EQ(urlPaths, row.urlPaths);
    EXPECT_EQ(check.skipped.size(), row.skipped);
  }
}

TEST(PackageListRules, ShapeOfTheJoinedText) {
  for (const char* text : {"[]", "{}", " {\"a.cab\":\"x\"} ", "[1]"}) EXPECT_TRUE(LooksLikeJson(text)) << text;
  for (const char* text : {"[", "", "garbage", "{\"a\":1"}) EXPECT_FALSE(LooksLikeJson(text)) << text;
}

TEST(PackageListFiles, Sha256OfFilesAndTheShapeCheck) {
  TempDir dir("package_list");
  const struct {
    std::string bytes;
    const char* hex;
  } vectors[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& v : vectors) {
    WriteFileBytes(dir / "v.bin", v.bytes);
    std::string hex;
    EXPECT_EQ(GetSHA256HashFromFile(dir / "v.bin", &hex), 0);
    EXPECT_EQ(hex, v.hex) << v.bytes.size();
  }
  // Longer than one read block, with a partial last block: the same digest
  // as one pass over the whole buffer.
  std::string big(2600007, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 % 251);
  WriteFileBytes(dir / "big.bin", big);
  UniqueCryptProv provider;
  ASSERT_TRUE(CryptAcquireContextW(provider.put(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT));
  UniqueCryptHash hash;
  ASSERT_TRUE(CryptCreateHash(provider.get(), CALG_SHA_256, 0, 0, hash.put()));
  ASSERT_TRUE(CryptHashData(hash.get(), reinterpret_cast<const BYTE*>(big.data()), static_cast<DWORD>(big.size()), 0));
  BYTE value[32];
  DWORD size = sizeof(value);
  ASSERT_TRUE(CryptGetHashParam(hash.get(), HP_HASHVAL, value, &size, 0));
  std::string expected;
  char pair[3];
  for (BYTE b : value) {
    snprintf(pair, sizeof(pair), "%02x", b);
    expected += pair;
  }
  std::string hex;
  EXPECT_EQ(GetSHA256HashFromFile(dir / "big.bin", &hex), 0);
  EXPECT_EQ(hex, expected);
  EXPECT_EQ(GetSHA256HashFromFile(dir / "missing.bin", &hex), 2);
  EXPECT_EQ(hex, "");

  // The shape check, and the switch that skips it (not the file's presence).
  WriteFileBytes(dir / "list.json", "  [\n]  \n");
  EXPECT_EQ(IsJsonFileValid(dir / "list.json"), 1);
  WriteFileBytes(dir / "bad.json", "encrypted bytes");
  EXPECT_EQ(IsJsonFileValid(dir / "bad.json"), 0);
  EXPECT_EQ(IsJsonFileValid(dir / "none.json"), 0);
  writeValue(HKEY_LOCAL_MACHINE, reg_path::kPatch, "DisableJsonValidation", "1", REG_DWORD);
  EXPECT_EQ(IsJsonFileValid(dir / "bad.json"), 1);
  EXPECT_EQ(IsJsonFileValid(dir / "none.json"), 0);
  deleteValue(HKEY_LOCAL_MACHINE, reg_path::kPatch, "DisableJsonValidation");
}

TEST(PackageListFiles, ChecksumAsTheBytesArrive) {
  // Blocks handed over in pieces give the digest of the whole; a restart
  // forgets what came before; an invalidated hash (nothing restarted it)
  // gives no digest, so the file is read instead.
  StreamingSha256 hash;
  hash.Restart();
  hash.Feed("stale", 5);
  hash.Restart();
  const std::string million(1000000, 'a');
  for (size_t at = 0; at < million.size(); at += 300007) {
    hash.Feed(million.data() + at, std::min<size_t>(300007, million.size() - at));
  }
  EXPECT_EQ(hash.Finish(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  hash.Restart();
  hash.Feed("abc", 3);
  hash.Invalidate();
  EXPECT_EQ(hash.Finish(), "");
  hash.Feed("abc", 3);
  EXPECT_EQ(hash.Finish(), "");
}
