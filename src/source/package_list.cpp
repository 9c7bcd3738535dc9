#include "source/package_list.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

#include "agent/registry.h"
#include "log/agent_log.h"
#include "util/handles.h"
#include "util/registry_paths.h"
#include "util/text.h"

namespace {

const char kHashOp[] = "GetSHA256HashFromFile";
// Large reads: the hash runs at the speed of the disk, not of the calls.
const DWORD kHashBlockBytes = 1024 * 1024;

int Failed(const char* format, DWORD error) {
  if (error == 0) error = ERROR_GEN_FAILURE;
  LogError(format, kHashOp, static_cast<int>(error));
  return static_cast<int>(error);
}

std::string TrimBlanks(const std::string& text) {
  const char* blanks = " \t\r\n\f\v";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace

bool IsPackageFileName(const std::string& name) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string extension = ToLowerAscii(name.substr(dot));
  return extension == ".cab" || extension == ".dat" || extension == ".cat";
}

bool IsChecksumText(const std::string& checksum) { return checksum.size() == 64; }

bool LooksLikeJson(const std::string& text) {
  // "[]" and "{}" pass: an empty list is refused later, as an empty value.
  const std::string trimmed = TrimBlanks(text);
  if (trimmed.size() < 2) return false;
  return (trimmed.front() == '{' && trimmed.back() == '}') || (trimmed.front() == '[' && trimmed.back() == ']');
}

int GetSHA256HashFromFile(const std::string& path, std::string* hex) {
  if (hex) hex->clear();
  UniqueFile file(CreateFileW(ChangeUtf8ToWideStr(path.c_str()).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) {
    DWORD error = GetLastError();
    LogError("%s : Error while opening file %s\nError : %d\n", kHashOp, path.c_str(), static_cast<int>(error));
    return static_cast<int>(error ? error : ERROR_OPEN_FAILED);
  }
  UniqueCryptProv provider;
  if (!CryptAcquireContextW(provider.put(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
    return Failed("%s : CryptAcquireContext failed : %d\n", GetLastError());
  }
  UniqueCryptHash hash;
  if (!CryptCreateHash(provider.get(), CALG_SHA_256, 0, 0, hash.put())) {
    return Failed("%s : CryptCreateHash failed : %d\n", GetLastError());
  }
  std::vector<BYTE> block(kHashBlockBytes);
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), block.data(), kHashBlockBytes, &read, nullptr)) {
      return Failed("%s : ReadFile failed : %d\n", GetLastError());
    }
    if (read == 0) break;
    if (!CryptHashData(hash.get(), block.data(), read, 0)) return Failed("%s : CryptHashData failed : %d\n", GetLastError());
  }
  BYTE value[32];
  DWORD size = sizeof(value);
  if (!CryptGetHashParam(hash.get(), HP_HASHVAL, value, &size, 0) || size != sizeof(value)) {
    return Failed("%s : CryptGetHashParam failed : %d\n", GetLastError());
  }
  std::string text;
  char pair[3];
  for (BYTE b : value) {
    snprintf(pair, sizeof(pair), "%02x", b);
    text += pair;
  }
  LogDebug("%s : SHA-256 hash of File %s is : %s\n", kHashOp, path.c_str(), text.c_str());
  if (hex) *hex = text;
  return 0;
}

int IsJsonFileValid(const std::string& path) {
  const std::wstring widePath = ChangeUtf8ToWideStr(path.c_str());
  if (GetFileAttributesW(widePath.c_str()) == INVALID_FILE_ATTRIBUTES) {
    LogError("%s not found.\n", path.c_str());
    return 0;
  }
  DWORD disabled = 0;
  if (ReadViewDword(reg_path::kPatch, "DisableJsonValidation", &disabled, 0) == ERROR_SUCCESS && disabled == 1) {
    LogInfo("Disabling Json Validation\n");
    return 1;
  }
  UniqueStdioFile file(_wfopen(widePath.c_str(), L"r"));
  if (!file) return 0;
  // Lines are joined without their breaks; only the ends matter.
  std::string text;
  char chunk[4096];
  while (fgets(chunk, sizeof(chunk), file.get())) {
    for (char* c = chunk; *c; ++c) {
      if (*c != '\n' && *c != '\r') text += *c;
    }
  }
  return LooksLikeJson(text) ? 1 : 0;
}
