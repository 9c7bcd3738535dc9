// The package list's pieces: member rules, the shape check and SHA-256 of
// files (known vectors, and a file longer than one read block).
#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <string>

#include "agent/registry.h"
#include "source/package_list.h"
#include "source/streaming_hash.h"
#include "support/test_support.h"
#include "util/handles.h"
#include "util/registry_paths.h"

using namespace testing_support;

TEST(PackageListRules, MembersChecksumsAndShape) {
  for (const char* name : {"a.cab", "sub\\b.CAB", "c.Dat", "d.cat"}) EXPECT_TRUE(IsPackageFileName(name)) << name;
  for (const char* name : {"setup.xml", "cab", "a.cab.txt", "v.cabx"}) EXPECT_FALSE(IsPackageFileName(name)) << name;
  EXPECT_TRUE(IsChecksumText(std::string(64, 'A')));
  EXPECT_FALSE(IsChecksumText(std::string(63, 'a')));
  EXPECT_FALSE(IsChecksumText(std::string(65, 'a')));
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
