#include "source/package_list.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "agent/custom_remarks.h"
#include "agent/registry.h"
#include "agent/rz_json.h"
#include "exec/file_helpers.h"
#include "exec/process_runner.h"
#include "log/agent_log.h"
#include "office/office_setup.h"
#include "source/download_handlers.h"
#include "source/streaming_hash.h"
#include "transport/download_progress.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/registry_paths.h"
#include "util/text.h"

namespace {

const char kHashOp[] = "GetSHA256HashFromFile";
const int kDecryptTimeoutMinutes = 5;
const int kDecryptorAlreadyDone = 183;
const unsigned long long kMaxListBytes = 16 * 1024 * 1024;
const size_t kMaxSkippedLines = 20;
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

bool IsPackageFileName(const std::string& name) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string extension = ToLowerAscii(name.substr(dot));
  return extension == ".cab" || extension == ".dat" || extension == ".cat";
}

// The elements of a name, split at "\" and "/".
std::vector<std::string> Elements(const std::string& name) {
  std::vector<std::string> elements;
  size_t start = 0;
  for (;;) {
    size_t end = name.find_first_of("\\/", start);
    elements.push_back(name.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return elements;
    start = end + 1;
  }
}

// Windows drops the trailing dots and blanks of an element.
std::string WithoutTrailingDotsAndBlanks(const std::string& element) {
  size_t keep = element.find_last_not_of(". ");
  return keep == std::string::npos ? std::string() : element.substr(0, keep + 1);
}

// Windows opens a device for these in every folder, whatever follows the
// first "." and whatever trailing dots and blanks come before it. The
// superscript digits (UTF-8 C2 B9, C2 B2, C2 B3) number devices as well.
bool NamesDevice(const std::string& element) {
  const std::string base = ToLowerAscii(WithoutTrailingDotsAndBlanks(element.substr(0, element.find('.'))));
  if (base == "con" || base == "prn" || base == "aux" || base == "nul") return true;
  if (base.compare(0, 3, "com") != 0 && base.compare(0, 3, "lpt") != 0) return false;
  const std::string number = base.substr(3);
  return (number.size() == 1 && number[0] >= '1' && number[0] <= '9') || number == "\xC2\xB9" ||
         number == "\xC2\xB2" || number == "\xC2\xB3";
}

bool IsUtf8(const std::string& name) {
  return name.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), static_cast<int>(name.size()),
                                             nullptr, 0) > 0;
}

// Control characters and those Windows reserves; every Win32 call would stop
// at a NUL, so "NUL\0.cab" would open the device the rules never saw.
bool HoldsForbiddenCharacter(const std::string& name) {
  for (char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || strchr("<>:\"|?*", c)) return true;
  }
  return false;
}

// The log shows a name as its bytes were: control bytes, and every byte
// beyond ASCII of a name that is no UTF-8, as \xNN.
std::string LogSafeName(const std::string& name) {
  const bool utf8 = IsUtf8(name);
  std::string out;
  for (char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && !utf8)) {
      char escaped[5];
      snprintf(escaped, sizeof(escaped), "\\x%02X", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

// The reason a name is refused, or null. A name reaches the file system only
// as the wide text of the very bytes checked here.
const char* NameRefusal(const std::string& name) {
  if (!IsUtf8(name)) return "it is no UTF-8 text";
  if (!IsContainedRelativePath(name)) return "it leads outside the package folder";
  if (HoldsForbiddenCharacter(name)) return "it holds a character Windows does not allow in a file name";
  for (const std::string& element : Elements(name)) {
    // "a\.\b" and "a\\b" are "a\b" to Windows: a second spelling of one file.
    if (WithoutTrailingDotsAndBlanks(element).empty()) return "it has an empty or \".\" element";
  }
  for (const std::string& element : Elements(name)) {
    if (NamesDevice(element)) return "it names a device";
  }
  return nullptr;
}

// The name as the file system compares it: one separator, no trailing dots
// or blanks in an element, letter case folded as Windows folds it.
std::wstring FileSystemKey(const std::string& name) {
  std::string key;
  for (const std::string& element : Elements(name)) key += "\\" + WithoutTrailingDotsAndBlanks(element);
  std::wstring wide = ChangeUtf8ToWideStr(key.c_str());
  if (!wide.empty()) CharUpperBuffW(&wide[0], static_cast<DWORD>(wide.size()));
  return wide;
}

// The characters a URL gives a meaning of its own, and blanks, are
// percent-encoded, so the store is asked for exactly the listed file.
std::string UrlPath(const std::string& name) {
  std::string path;
  for (char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      path += '/';
    } else if (c == '%' || c == '?' || c == '#' || byte <= 0x20 || byte == 0x7F) {
      char encoded[4];
      snprintf(encoded, sizeof(encoded), "%%%02X", byte);
      path += encoded;
    } else {
      path += c;
    }
  }
  return path;
}

PackageListCheck Refuse(PackageListCheck check, const std::string& line) {
  check.result = 1;
  check.refusal = line;
  check.files.clear();
  return check;
}

}  // namespace

PackageListCheck CheckPackageList(const std::vector<ListMember>& members) {
  PackageListCheck check;
  std::map<std::wstring, std::string> seen;
  for (const ListMember& member : members) {
    const std::string& name = member.name;
    if (!IsPackageFileName(name)) {
      check.skipped.push_back(LogSafeName(name));
      continue;
    }
    if (member.checksum.size() != 64) {
      return Refuse(check, "Invalid checksum data : " + LogSafeName(member.checksum) + " for the file : " +
                               LogSafeName(name) + "\n");
    }
    // The program runs as the system account: a listed name must never reach
    // a file outside the package folder, nor a device.
    if (const char* refusal = NameRefusal(name)) {
      return Refuse(check, "Refusing the file name " + LogSafeName(name) + ": " + refusal + ".\n");
    }
    // Two names of one file would each pass their own checksum while the
    // second overwrites the first.
    auto inserted = seen.emplace(FileSystemKey(name), name);
    if (!inserted.second) {
      return Refuse(check,
                    "Refusing the file name " + name + ": it names the same file as " + inserted.first->second + ".\n");
    }
    PackageFile file;
    file.name = name;
    file.localName = name;
    std::replace(file.localName.begin(), file.localName.end(), '/', '\\');
    file.urlPath = UrlPath(file.localName);
    file.checksum = member.checksum;
    check.files.push_back(file);
  }
  return check;
}

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
  const std::string text = Sha256HexDigest(hash.get());
  if (text.empty()) return Failed("%s : CryptGetHashParam failed : %d\n", GetLastError());
  LogDebug("%s : SHA-256 hash of File %s is : %s\n", kHashOp, path.c_str(), text.c_str());
  if (hex) *hex = text;
  return 0;
}

int IsJsonFileValid(const reg_path::AgentKeys& keys, const std::string& path) {
  const std::wstring widePath = ChangeUtf8ToWideStr(path.c_str());
  if (GetFileAttributesW(widePath.c_str()) == INVALID_FILE_ATTRIBUTES) {
    LogError("%s not found.\n", path.c_str());
    return 0;
  }
  DWORD disabled = 0;
  if (ReadViewDword(keys.patch.c_str(), "DisableJsonValidation", &disabled, 0) == ERROR_SUCCESS && disabled == 1) {
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

namespace {

std::string PatchIdText(const ListFlowSettings& flow) { return std::to_string(flow.patchId); }

std::string ListFilePath(const ListFlowSettings& flow) {
  return flow.packageFolder + "\\" + PatchIdText(flow) + ".json";
}

bool Found(const std::string& path) { return CheckFileExists(path.c_str()) == 0; }

// The same bytes in either letter case of the hexadecimal digits. An empty
// checksum (one that could not be computed) never matches.
bool SameChecksum(const std::string& computed, const std::string& listed) {
  return !computed.empty() && computed.size() == listed.size() && EqualsNoCase(computed, listed.c_str());
}

void DeleteFileUtf8(const std::string& path) { DeleteFileW(ChangeUtf8ToWideStr(path.c_str()).c_str()); }

// A file an earlier run left: true when it is intact and stays; a damaged
// one is deleted for the download.
bool PresentAndIntact(const std::string& destination, const std::string& checksum);
// The files of a checked list, one after the other, each counted against
// the list: kept when already there intact, else downloaded and checked
// before the next is asked for.
int FetchPackageFiles(const ListFlowSettings& flow, const std::vector<PackageFile>& files,
                      const std::string& address);

// 0 when the package folder holds no "<patch id>.json" any more, else the
// system's error of the deletion.
int DeleteEarlierList(const ListFlowSettings& flow) {
  const std::string listFile = ListFilePath(flow);
  if (DeleteFileW(ChangeUtf8ToWideStr(listFile.c_str()).c_str())) return 0;
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return 0;
  LogError("Could not delete the earlier list %s : %d\n", listFile.c_str(), static_cast<int>(error));
  return error ? static_cast<int>(error) : ERROR_ACCESS_DENIED;
}

}  // namespace

int DownloadPatchMetaJson(const ListFlowSettings& flow, std::string* address) {
  const StoreServerValues server = flow.readStore();
  const std::string candidates[] = {server.lastAccessName, server.name, server.flatName, server.ipAddress,
                                    server.secIpAddress};
  const std::string patchId = PatchIdText(flow);
  const std::string listFile = ListFilePath(flow);
  // No usable address means no list: that must not pass for a download. An
  // address without a port is as unusable as no address.
  int result = ERROR_NOT_FOUND;
  for (const std::string& candidate : candidates) {
    if (candidate.empty() || server.securePort.empty()) continue;
    const std::string url =
        "https://" + candidate + ":" + server.securePort + "/store/office/" + patchId + "/" + patchId + ".json";
    LogInfo("URL : %s\n", url.c_str());
    LogInfo("Dest Path : %s\n", listFile.c_str());
    CreateFolderTree(ChangeUtf8ToWideStr(flow.packageFolder.c_str()));
    result = CommWithCertEnabled(flow.transfers, flow.run, url, listFile);
    if (result == 0) {
      *address = candidate;
      LogInfo("PatchMetaJson download succeeded.\n");
      return 0;
    }
    LogError("PatchMetaJson download failed withe error code : %d\n", result);
  }
  return result;
}

int DecryptPatchMetaJson(const ListFlowSettings& flow) {
  const std::string decryptor = flow.transfers.agentFolder + "\\patches\\officemeta.exe";
  if (!Found(decryptor)) {
    LogError("%s not found. Cannot proceed.\n", decryptor.c_str());
    return 2;
  }
  const std::string commandLine =
      "\"" + decryptor + "\" -pid " + PatchIdText(flow) + " -path \"" + flow.packageFolder + "\" -op d";
  std::string remarks;
  int result = executeFileName(nullptr, commandLine.c_str(), &remarks, kDecryptTimeoutMinutes, 0);
  LogInfo("Decrypt Error : %d\n", result);
  if (result == kDecryptorAlreadyDone) {
    LogInfo("Considering error code 183 as success.\n");
    result = 0;
  }
  const std::string listFile = ListFilePath(flow);
  if (!Found(listFile)) {
    LogError("Failed to decrypt %s.\n", listFile.c_str());
    return 2;
  }
  return result;
}

int DownloadPackageFiles(const ListFlowSettings& flow, const std::string& address) {
  const std::string listFile = ListFilePath(flow);
  if (!Found(listFile)) return 2;
  // A real list is a few kilobytes. A huge one would cost more memory to
  // parse than a 32-bit process can address, so it is refused unread.
  WIN32_FILE_ATTRIBUTE_DATA attributes;
  if (GetFileAttributesExW(ChangeUtf8ToWideStr(listFile.c_str()).c_str(), GetFileExInfoStandard, &attributes) &&
      ((static_cast<unsigned long long>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow) > kMaxListBytes) {
    LogError("The list %s is larger than %u bytes.\n", listFile.c_str(), static_cast<unsigned>(kMaxListBytes));
    return 2;
  }
  if (IsJsonFileValid(flow.transfers.keys, listFile) == 0) return 2;
  if (address.empty()) {
    LogError("Download address for office meta flow not intialized.\n");
    return 1;
  }
  Json::Value list;
  CRZJson json;
  json.LoadJSONDO(listFile, &list);
  // Names and checksums are defined only for an object of texts; an array
  // has neither.
  if (!list.isObject() || list.empty()) {
    LogError("Invalid json object in %s\n", listFile.c_str());
    return 2;
  }
  // JsonCpp keeps members in byte order of their names.
  std::vector<ListMember> members;
  for (const std::string& name : list.getMemberNames()) {
    const Json::Value& value = list[name];
    members.push_back({name, value.isString() ? value.asString() : std::string()});
  }
  const PackageListCheck check = CheckPackageList(members);
  // A list may name any number of other members: one line each would let a
  // single list fill the agent's log.
  const size_t named = check.skipped.size() < kMaxSkippedLines ? check.skipped.size() : kMaxSkippedLines;
  for (size_t i = 0; i < named; ++i) LogInfo("Skipping %s\n", check.skipped[i].c_str());
  if (check.skipped.size() > named) {
    LogInfo("Skipping %lu more members that name no installation file.\n",
            static_cast<unsigned long>(check.skipped.size() - named));
  }
  if (check.result != 0) {
    LogError("%s", check.refusal.c_str());
    return check.result;
  }
  return FetchPackageFiles(flow, check.files, address);
}

namespace {

bool PresentAndIntact(const std::string& destination, const std::string& checksum) {
  if (GetFileAttributesW(ChangeUtf8ToWideStr(destination.c_str()).c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  LogInfo("File : %s already exists.\n", destination.c_str());
  std::string computed;
  GetSHA256HashFromFile(destination, &computed);
  LogInfo("Checksum from file : %s\n", computed.c_str());
  LogInfo("Checksum from Meta : %s\n", checksum.c_str());
  if (SameChecksum(computed, checksum)) {
    LogInfo("File already exists and checksum matches.\n");
    return true;
  }
  LogError("File already exists but checksum mismatch. Need to redownload.\n");
  DeleteFileUtf8(destination);
  return false;
}

// Downloads one file of the list, the hasher seeing its bytes. 0, or the
// download's code with its remark written.
int DownloadListedFile(const ListFlowSettings& flow, const std::string& url, const std::string& destination,
                       StreamingSha256* hasher) {
  StoreDownloadWatch watch;
  watch.observer = hasher;
  watch.progress = flow.progress;
  const int result = CommWithCertEnabled(flow.transfers, flow.run, url, destination, watch);
  if (result != 0) {
    LogError("Failed to download : %s with error code : %d\n", url.c_str(), result);
    char remark[2048];
    snprintf(remark, sizeof(remark), "Failed to download %s with error code : %d\n", url.c_str(), result);
    flow.remarks->Write(flow.transfers.agentFolder, remark);
  }
  return result;
}

int FetchPackageFiles(const ListFlowSettings& flow, const std::vector<PackageFile>& files,
                      const std::string& address) {
  ProgressReporter* progress = flow.progress;
  const std::string port = flow.readStore().securePort;
  const std::string& packageFolder = flow.packageFolder;
  const std::string patchId = PatchIdText(flow);
  // Each file is hashed while it arrives, so its verdict is ready as soon as
  // it is on disk and comes before the next file is asked for.
  StreamingSha256 hasher;
  const int count = static_cast<int>(files.size());
  LogInfo("Files to fetch from the list : %d\n", count);
  int number = 0;
  auto fileDone = [&] { LogInfo("File %d of %d done\n", number, count); };
  for (const PackageFile& file : files) {
    ++number;
    const std::string& checksum = file.checksum;
    size_t lastSeparator = file.localName.rfind('\\');
    if (lastSeparator != std::string::npos) {
      CreateFolderTree(ChangeUtf8ToWideStr((packageFolder + "\\" + file.localName.substr(0, lastSeparator)).c_str()));
    }
    const std::string destination = packageFolder + "\\" + file.localName;
    const std::string url = "https://" + address + ":" + port + "/store/office/" + patchId + "/" + file.urlPath;

    if (PresentAndIntact(destination, checksum)) {
      fileDone();
      continue;
    }
    // Only a transfer that writes the file restarts the hash; one that
    // writes nothing leaves it to be read from disk.
    hasher.Invalidate();
    if (progress) progress->SetFile(number, count);
    const int result = DownloadListedFile(flow, url, destination, &hasher);
    if (result != 0) return result;
    std::string computed = hasher.Finish();
    if (computed.empty()) GetSHA256HashFromFile(destination, &computed);
    LogInfo("Dest Path : %s\n", destination.c_str());
    LogInfo("Checksum from file : %s\n", computed.c_str());
    LogInfo("Checksum from Meta : %s\n", checksum.c_str());
    if (!SameChecksum(computed, checksum)) {
      LogError("Checksum mismatch.\n");
      fileDone();
      DeleteFileUtf8(destination);
      flow.remarks->Write(flow.transfers.agentFolder,
                              "Failed to download " + url + " with error checksum mismatch.");
      return kResultChecksumMismatch;
    }
    LogInfo("Checksum matches.\n");
    fileDone();
  }
  LogInfo("All files downloaded successfully.\n");
  return 0;
}

}  // namespace

int RunOfficeMetaFlow(const ListFlowSettings& flow, OfficeState* office, MetaFlowStep* step) {
  char remark[512];
  // Only this run's list may ever be decrypted and used: a list an earlier
  // run left behind would otherwise stand in for one that failed to arrive.
  std::string address;
  *step = MetaFlowStep::List;
  int result = DeleteEarlierList(flow);
  if (result == 0) result = DownloadPatchMetaJson(flow, &address);
  if (result != 0) {
    snprintf(remark, sizeof(remark), "Failed to download office patch meta json with error code : %d", result);
    flow.remarks->Write(flow.transfers.agentFolder, remark);
    return result;
  }
  *step = MetaFlowStep::Decryptor;
  result = DecryptPatchMetaJson(flow);
  if (result != 0) {
    snprintf(remark, sizeof(remark), "Failed to decrypt office meta - %d.json", flow.patchId);
    flow.remarks->Write(flow.transfers.agentFolder, remark);
    return result;
  }
  *step = MetaFlowStep::Files;
  result = DownloadPackageFiles(flow, address);
  if (result != 0) {
    // A more specific remark of this run (a failed file) is kept.
    if (!flow.remarks->Written()) {
      snprintf(remark, sizeof(remark), "Failed to download office installation files with error code : %d", result);
      flow.remarks->Write(flow.transfers.agentFolder, remark);
    }
    return result;
  }
  *step = MetaFlowStep::Setup;
  const std::string& packageFolder = flow.packageFolder;
  // Without its configuration setup would have nothing sound to install from.
  result = WriteOfficeConfiguration(office, packageFolder, 1);
  if (result != 0) return result;
  result = RunOfficeSetupConfigure(office->run);
  if (result == 0 || result == 3010) {
    LogInfo("As installed succeeded, we are cleaning up the setup files.\n");
    const std::wstring folder = ChangeUtf8ToWideStr(packageFolder.c_str());
    if (IsDirectory(folder)) DeleteFolderTree(folder);
  } else {
    LogInfo("As installation failed, we are not cleaning up the setup files.\n");
  }
  return result;
}
