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
  const char kOutside[] = "leads outside the package folder";
  const char kDevice[] = "names a device";
  const char kCharacter[] = "holds a character Windows does not allow";
  const char kElement[] = "has an empty or \".\" element";
  const char kTwin[] = "names the same file as";
  const struct {
    const char* what;
    std::vector<ListMember> members;
    const char* rule;  // null: accepted; else what the refusal's line says
    // The URL paths of the files to fetch; for a refusal none at all.
    std::vector<std::string> urlPaths;
    size_t skipped;
  } rows[] = {
      {"installation files, any letter case", {{"a.cab", h}, {"sub\\b.CAB", upper}, {"c.Dat", h}, {"d.cat", h}},
       nullptr, {"a.cab", "sub/b.CAB", "c.Dat", "d.cat"}, 0},
      {"other members are skipped whatever they hold",
       {{"setup.xml", "x"}, {"cab", ""}, {"a.cab.txt", ""}, {"v.cabx", h}, {"A.xml", ""}, {"a.xml", ""}}, nullptr, {},
       6},
      {"63-character checksum", {{"a.cab", h}, {"b.dat", std::string(63, 'a')}}, "Invalid checksum data", {}, 0},
      {"65-character checksum", {{"b.dat", std::string(65, 'a')}}, "Invalid checksum data", {}, 0},
      {"checksum that is no text", {{"b.dat", ""}}, "Invalid checksum data", {}, 0},
      {"climbs out", {{"a.cab", h}, {"..\\..\\evil.cab", h}}, kOutside, {}, 0},
      {"climbs out through a folder", {{"a/../../evil.cab", h}}, kOutside, {}, 0},
      {"leading separator", {{"\\evil.cab", h}}, kOutside, {}, 0},
      {"drive", {{"C:evil.cab", h}}, kOutside, {}, 0},
      {"device with the checksum of nothing",
       {{"NUL.cab", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"}}, kDevice, {}, 0},
      {"serial device", {{"COM1.cab", h}}, kDevice, {}, 0},
      {"printer device in a folder", {{"sub\\LPT1.dat", h}}, kDevice, {}, 0},
      {"device as a folder", {{"prn\\a.cab", h}}, kDevice, {}, 0},
      {"device in lower case with two extensions", {{"aux.tar.cab", h}}, kDevice, {}, 0},
      {"device with trailing blanks and dots", {{"con .\\a.cab", h}}, kDevice, {}, 0},
      {"device with a blank before the extension", {{"lpt9 .cab", h}}, kDevice, {}, 0},
      {"devices numbered by superscript digits", {{"COM\xC2\xB9.cab", h}}, kDevice, {}, 0},
      {"a superscript printer", {{"sub\\lpt\xC2\xB3.dat", h}}, kDevice, {}, 0},
      {"names that only resemble devices",
       {{"COM0.cab", h}, {"LPT10.cab", h}, {"console.cab", h}, {"nulx.cat", h}, {"COM\xC2\xB4.cab", h}}, nullptr,
       {"COM0.cab", "LPT10.cab", "console.cab", "nulx.cat", "COM\xC2\xB4.cab"}, 0},
      // Every Win32 call stops at a NUL: these would open NUL and COM1.
      {"a NUL before the extension", {{std::string("NUL\0.cab", 8), h}}, kCharacter, {}, 0},
      {"a NUL after a device", {{std::string("COM1\0.cab", 9), h}}, kCharacter, {}, 0},
      {"a control character", {{"b\x01.cab", h}}, kCharacter, {}, 0},
      {"DEL", {{"b\x7F.cab", h}}, kCharacter, {}, 0},
      {"reserved characters", {{"a<b.cab", h}}, kCharacter, {}, 0},
      {"a pipe", {{"a|b.cab", h}}, kCharacter, {}, 0},
      {"a quote", {{"a\"b.cab", h}}, kCharacter, {}, 0},
      {"a wildcard", {{"a*.cab", h}}, kCharacter, {}, 0},
      {"no UTF-8", {{"\xFF.cab", h}}, "no UTF-8 text", {}, 0},
      // Two spellings of one file through "." and empty elements.
      {"a \".\" element", {{"./A.cab", h}, {"a.cab", h}}, kElement, {}, 0},
      {"an empty element", {{"sub//A.cab", h}, {"sub\\a.cab", h}}, kElement, {}, 0},
      {"a blank element", {{"sub\\ \\a.cab", h}}, kElement, {}, 0},
      {"same name in another letter case", {{"A.cab", h}, {"a.cab", h}}, kTwin, {}, 0},
      {"same name with the other separator", {{"SUB\\X.CAB", h}, {"sub/x.cab", h}}, kTwin, {}, 0},
      {"same folder with a trailing dot", {{"sub.\\x.cab", h}, {"sub\\x.cab", h}}, kTwin, {}, 0},
      {"same name beyond ASCII", {{"\xC3\x84.cab", h}, {"\xC3\xA4.cab", h}}, kTwin, {}, 0},
      {"characters a URL reads its own way",
       {{"%2e%2e\\%2e%2e\\f.cab", h}, {"a b#1.cab", h}, {"q=x&1.cab", h}}, nullptr,
       {"%252e%252e/%252e%252e/f.cab", "a%20b%231.cab", "q=x&1.cab"}, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const PackageListCheck check = CheckPackageList(row.members);
    EXPECT_EQ(check.result, row.rule ? 1 : 0);
    if (row.rule) {
      EXPECT_NE(check.refusal.find(row.rule), std::string::npos) << check.refusal;
      // The line shows control bytes, never the bytes themselves.
      for (char c : check.refusal.substr(0, check.refusal.size() - 1)) EXPECT_GE(static_cast<unsigned char>(c), 0x20);
    } else {
      EXPECT_EQ(check.refusal, "");
    }
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
  testing_support::ScopedTestKey key("package_list");
  const reg_path::AgentKeys keys(key.path());
  WriteFileBytes(dir / "list.json", "  [\n]  \n");
  EXPECT_EQ(IsJsonFileValid(keys, dir / "list.json"), 1);
  WriteFileBytes(dir / "bad.json", "encrypted bytes");
  EXPECT_EQ(IsJsonFileValid(keys, dir / "bad.json"), 0);
  EXPECT_EQ(IsJsonFileValid(keys, dir / "none.json"), 0);
  writeValue(HKEY_LOCAL_MACHINE, keys.patch.c_str(), "DisableJsonValidation", "1", REG_DWORD);
  EXPECT_EQ(IsJsonFileValid(keys, dir / "bad.json"), 1);
  EXPECT_EQ(IsJsonFileValid(keys, dir / "none.json"), 0);
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
