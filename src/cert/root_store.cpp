#include "cert/root_store.h"

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "util/handles.h"
#include "util/text.h"

namespace {

// A root certificate is a few kilobytes; anything far larger is not one, and
// is never read whole into memory.
const LONGLONG kMaxCertificateFileBytes = 1 << 20;

// The last error of a failed call, never 0: a failure must not read as success.
int LastErrorOr13() {
  DWORD error = GetLastError();
  return error != 0 ? static_cast<int>(error) : 13;
}

// The certificate when the bytes are exactly one DER certificate.
UniqueCertContext ParseDer(const BYTE* bytes, size_t size) {
  if (size == 0 || size > static_cast<size_t>(kMaxCertificateFileBytes)) return UniqueCertContext();
  return UniqueCertContext(
      CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, bytes, static_cast<DWORD>(size)));
}

// The whole file, or the system error of opening or reading it.
int ReadCertificateFileBytes(const char* path, std::string* content) {
  if (!path || !*path) return ERROR_FILE_NOT_FOUND;
  UniqueFile file(CreateFileW(ChangeUtf8ToWideStr(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return LastErrorOr13();
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size)) return LastErrorOr13();
  if (size.QuadPart <= 0 || size.QuadPart > kMaxCertificateFileBytes) return kCertificateFileUnreadable;
  content->assign(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!ReadFile(file.get(), &(*content)[0], static_cast<DWORD>(content->size()), &read, nullptr)) {
    return LastErrorOr13();
  }
  content->resize(read);
  return 0;
}

// The DER bytes of the certificate in a file's content: the content itself
// when it is a DER certificate, else the first Base64 block (with or without
// PEM header). Empty when neither decodes to a certificate.
std::vector<unsigned char> CertificateDerFromFileBytes(const std::string& content) {
  const BYTE* bytes = reinterpret_cast<const BYTE*>(content.data());
  UniqueCertContext certificate = ParseDer(bytes, content.size());
  if (!certificate && !content.empty() && content.size() <= static_cast<size_t>(kMaxCertificateFileBytes)) {
    DWORD size = 0;
    const DWORD length = static_cast<DWORD>(content.size());
    if (CryptStringToBinaryA(content.data(), length, CRYPT_STRING_BASE64_ANY, nullptr, &size, nullptr, nullptr) &&
        size > 0) {
      std::vector<BYTE> decoded(size);
      if (CryptStringToBinaryA(content.data(), length, CRYPT_STRING_BASE64_ANY, decoded.data(), &size, nullptr,
                               nullptr)) {
        certificate = ParseDer(decoded.data(), size);
      }
    }
  }
  if (!certificate) return {};
  // The parsed certificate's own encoding: bytes after it in the file are dropped.
  const BYTE* der = certificate.get()->pbCertEncoded;
  return std::vector<unsigned char>(der, der + certificate.get()->cbCertEncoded);
}

int LoadCertificateFile(const char* path, std::vector<unsigned char>* der) {
  std::string content;
  int rc = ReadCertificateFileBytes(path, &content);
  if (rc != 0) return rc;
  *der = CertificateDerFromFileBytes(content);
  return der->empty() ? kCertificateFileUnreadable : 0;
}

int OpenLocalMachineRoot(UniqueCertStore* store) {
  store->reset(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT"));
  return *store ? 0 : LastErrorOr13();
}

// Writes the store's changes through. Windows writes a system store's changes
// at once; Wine keeps them until the last reference to the store goes, which
// after a deletion may be never, so they are committed explicitly. A store
// that has nothing to commit says so, which is no failure.
int CommitStore(HCERTSTORE store) {
  if (CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr)) return 0;
  DWORD error = GetLastError();
  if (error == ERROR_CALL_NOT_IMPLEMENTED || error == ERROR_NOT_SUPPORTED) return 0;
  return error != 0 ? static_cast<int>(error) : 13;
}

std::wstring CommonName(PCCERT_CONTEXT certificate) {
  wchar_t name[256] = {};
  CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), name, 256);
  return name;
}

}  // namespace

int CheckCertificateFile(const char* path) {
  std::vector<unsigned char> der;
  return LoadCertificateFile(path, &der);
}

int AddCertificateFileToRootStore(const char* path) {
  std::vector<unsigned char> der;
  int rc = LoadCertificateFile(path, &der);
  if (rc != 0) return rc;
  UniqueCertStore store;
  rc = OpenLocalMachineRoot(&store);
  if (rc != 0) return rc;
  if (!CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
    return LastErrorOr13();
  }
  return CommitStore(store.get());
}

int DeleteCertificateFromRootStore(const char* name) {
  UniqueCertStore store;
  int rc = OpenLocalMachineRoot(&store);
  if (rc != 0) return rc;
  const std::wstring wanted = ChangeUtf8ToWideStr(name ? name : "");
  // Collected first and deleted after the walk, so deleting never disturbs
  // the enumeration.
  std::vector<UniqueCertContext> matches;
  PCCERT_CONTEXT current = nullptr;
  while ((current = CertEnumCertificatesInStore(store.get(), current)) != nullptr) {
    if (!wanted.empty() && lstrcmpiW(CommonName(current).c_str(), wanted.c_str()) == 0) {
      matches.emplace_back(CertDuplicateCertificateContext(current));
    }
  }
  if (matches.empty()) return ERROR_NOT_FOUND;
  for (UniqueCertContext& match : matches) {
    // The delete frees the context it is given, whatever it returns.
    if (!CertDeleteCertificateFromStore(match.release()) && rc == 0) rc = LastErrorOr13();
  }
  int committed = CommitStore(store.get());
  return rc != 0 ? rc : committed;
}
