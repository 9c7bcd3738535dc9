#include "support/test_support.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "agent/registry.h"
#include "exec/file_helpers.h"
#include "util/handles.h"
#include "util/registry_paths.h"
#include "util/text.h"

namespace testing_support {

std::string ZPath(const std::string& unixPath) {
  std::string out = "Z:" + unixPath;
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

std::string WinePrefixPath(const std::string& child) {
  char prefix[MAX_PATH] = {0};
  DWORD length = GetEnvironmentVariableA("WINEPREFIX", prefix, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  return ZPath(prefix) + "\\" + child;
}

namespace {
// The Wine prefix this process runs in, as a short tag. Each prefix has its
// own wineserver, and they all hand out the same small process ids.
std::string PrefixTag() {
  char prefix[MAX_PATH] = {0};
  const DWORD length = GetEnvironmentVariableA("WINEPREFIX", prefix, MAX_PATH);
  unsigned hash = 2166136261u;  // FNV-1a
  for (DWORD i = 0; i < length && i < MAX_PATH; ++i) {
    hash = (hash ^ static_cast<unsigned char>(prefix[i])) * 16777619u;
  }
  char text[12];
  snprintf(text, sizeof(text), "%08x", hash);
  return text;
}
}  // namespace

// The process id keeps apart the cases of one test program that CTest runs
// side by side (each case is its own process), the prefix's tag the programs
// that run in prefixes of their own.
TempDir::TempDir(const std::string& name)
    : path_(ZPath(TEST_WORK_DIR) + "\\" + name + "-" + PrefixTag() + "-" + std::to_string(GetCurrentProcessId())) {
  std::wstring wide = ChangeUtf8ToWideStr(path_.c_str());
  DeleteFolderTree(wide);
  CreateFolderTree(wide);
}

TempDir::~TempDir() { DeleteFolderTree(ChangeUtf8ToWideStr(path_.c_str())); }

std::string BinPath(const std::string& exeName) { return ZPath(TEST_BIN_DIR) + "\\" + exeName; }

ProcessRun RunProcess(const std::string& commandLine, DWORD timeoutMs) {
  ProcessRun run;
  STARTUPINFOW si;
  ZeroMemory(&si, sizeof(si));
  si.cb = sizeof(si);
  UniqueProcessInfo pi;
  std::wstring mutableLine = ChangeUtf8ToWideStr(commandLine.c_str());
  if (!CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                      pi.put())) {
    return run;
  }
  run.started = true;
  if (WaitForSingleObject(pi.get().hProcess, timeoutMs) != WAIT_OBJECT_0) {
    run.timedOut = true;
    TerminateProcess(pi.get().hProcess, 1);
    WaitForSingleObject(pi.get().hProcess, 5000);
  }
  GetExitCodeProcess(pi.get().hProcess, &run.exitCode);
  return run;
}

RunningStandin::RunningStandin(const TempDir& folder, const std::string& exeName) {
  const std::string exe = folder / exeName;
  const std::string marker = exe + ".pid";
  if (!CopyFileUtf8(BinPath("child_standin.exe"), exe)) return;
  STARTUPINFOW si;
  ZeroMemory(&si, sizeof(si));
  si.cb = sizeof(si);
  UniqueProcessInfo pi;
  std::wstring line = ChangeUtf8ToWideStr(("\"" + exe + "\" 0 600000 \"--marker=" + marker + "\"").c_str());
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, pi.put())) {
    return;
  }
  // The marker says the program runs under its name, not only that it was
  // created; the wait is bounded.
  for (int waited = 0; waited < 10000 && !FileExists(marker); waited += 20) Sleep(20);
  if (FileExists(marker)) pid_ = pi.get().dwProcessId;
  if (!pid_) TerminateProcess(pi.get().hProcess, 1);
}

RunningStandin::~RunningStandin() {
  UniqueHandleNull process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid_));
  if (!process) return;
  TerminateProcess(process.get(), 1);
  WaitForSingleObject(process.get(), 5000);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(ChangeUtf8ToWideStr(path.c_str()).c_str(), std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::string ReadTextFile(const std::string& path) {
  std::string bytes = ReadFileBytes(path);
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    out += bytes[i];
  }
  return out;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::wstring wide = ChangeUtf8ToWideStr(path.c_str());
  CreateFolder(wide.c_str());
  std::ofstream out(wide.c_str(), std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

bool CopyFileUtf8(const std::string& from, const std::string& to) {
  return CopyFileW(ChangeUtf8ToWideStr(from.c_str()).c_str(), ChangeUtf8ToWideStr(to.c_str()).c_str(), FALSE) != 0;
}

bool FileExists(const std::string& path) {
  DWORD attributes = GetFileAttributesW(ChangeUtf8ToWideStr(path.c_str()).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES;
}

void MakeDirs(const std::string& path) { CreateFolderTree(ChangeUtf8ToWideStr(path.c_str())); }

ScopedTestKey::ScopedTestKey(const std::string& subkey)
    : subkey_("Software\\OfficeInstallerTests\\" + subkey + "-" + std::to_string(GetCurrentProcessId())) {
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, subkey_.c_str());
  DeleteRegistryKeyTree(HKEY_LOCAL_MACHINE, subkey_.c_str());
}

ScopedTestKey::~ScopedTestKey() {
  DeleteRegistryKeyTree(HKEY_LOCAL_MACHINE, subkey_.c_str());
  UniqueHKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey_.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, key.put()) == 0) {
    key.reset();
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, subkey_.c_str());
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, subkey_.c_str(), KEY_WOW64_64KEY, 0);
  }
}

namespace {
void DeleteTreeInView(const char* subkey, REGSAM view) {
  UniqueHKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_ALL_ACCESS | view, key.put()) == 0) {
    RegDeleteTreeA(key.get(), nullptr);
    key.reset();
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, subkey, view, 0);
  }
}
}  // namespace

void ClearAgentRegistry() {
  for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
    DeleteTreeInView("Software\\Varnholt", view);
    DeleteTreeInView("Software\\Microsoft\\Office\\ClickToRun", view);
  }
}

std::string AgentKeysAt::Subkey(const std::string& subkey) const {
  return subkey.empty() ? root_ : root_ + "\\" + subkey;
}

void AgentKeysAt::Clear() const {
  for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) DeleteTreeInView(root_.c_str(), view);
}

void AgentKeysAt::SeedValue(const std::string& subkey, const std::string& name, const std::string& data,
                            DWORD type) const {
  writeValue(HKEY_LOCAL_MACHINE, Subkey(subkey).c_str(), name.c_str(), data.c_str(), type);
}

void AgentKeysAt::RemoveValue(const std::string& subkey, const std::string& name) const {
  deleteValue(HKEY_LOCAL_MACHINE, Subkey(subkey).c_str(), name.c_str());
}

bool AgentKeysAt::ReadText(const std::string& subkey, const std::string& name, std::string* out) const {
  return ReadRegSZ(HKEY_LOCAL_MACHINE, Subkey(subkey).c_str(), name.c_str(), out) == ERROR_SUCCESS;
}

void AgentKeysAt::SeedMinimalAgent(const std::string& installDir, DWORD logLevel) const {
  struct Seed {
    const char* subkey;
    const char* name;
    const char* data;
    DWORD type;
  };
  const Seed seeds[] = {
      {"", "RZAgentLogLevel", nullptr, REG_DWORD},
      {"", "AgentServiceName", "PlexmoorAgentService", REG_SZ},
      {"", "MSPName", "Test MSP", REG_SZ},
      {"", "CustomerId", "CUST01", REG_SZ},
      {"", "CustomerName", "Test Customer", REG_SZ},
      {"", "RZAgentVersion", "10.4.2", REG_SZ},
      {"", "EnableDistributionServer", "no", REG_SZ},
      {"", "EnableDSRoute", "no", REG_SZ},
      {"", "ProxyEnabled", "no", REG_SZ},
      {"", "DataTransferRate_KBps", "0", REG_SZ},
      {"", "EnableChecksum", "yes", REG_SZ},
      {"", "InstallSource", "server", REG_SZ},
      {"", "InstallMode", "2", REG_SZ},
      {"ServerInfo", "RZServerName", "127.0.0.1", REG_SZ},
      {"ServerInfo", "RZServerFlatName", "127.0.0.1", REG_SZ},
      {"ServerInfo", "RZServerIPAddress", "127.0.0.1", REG_SZ},
      {"ServerInfo", "RZLastAccessName", "127.0.0.1", REG_SZ},
      {"ServerInfo", "RZServerPort", "8020", REG_SZ},
      {"ServerInfo", "RZServerSecurePort", "8383", REG_SZ},
      {"ServerInfo", "RZServerProtocol", "https", REG_SZ},
      {"ServerInfo", "RZProductCode", "RZEE", REG_SZ},
      {"SystemDetails", "RZAgentResourceID", "101", REG_SZ},
  };
  SeedValue("", "RZAgentInstallDir", installDir);
  for (const Seed& seed : seeds) {
    std::string data = seed.data ? seed.data : std::to_string(logLevel);
    SeedValue(seed.subkey, seed.name, data, seed.type);
  }
}

namespace {
const AgentKeysAt& TheAgentsKeys() {
  static const AgentKeysAt keys(reg_path::kAgent);
  return keys;
}
}  // namespace

void SeedAgentValue(const std::string& subkey, const std::string& name, const std::string& data, DWORD type) {
  TheAgentsKeys().SeedValue(subkey, name, data, type);
}

void RemoveAgentValue(const std::string& subkey, const std::string& name) {
  TheAgentsKeys().RemoveValue(subkey, name);
}

bool ReadAgentText(const std::string& subkey, const std::string& name, std::string* out) {
  return TheAgentsKeys().ReadText(subkey, name, out);
}

void SeedMinimalAgent(const std::string& installDir, DWORD logLevel) {
  TheAgentsKeys().SeedMinimalAgent(installDir, logLevel);
}

bool operator==(const RawRegistryValue& a, const RawRegistryValue& b) {
  return a.present == b.present && (!a.present || (a.type == b.type && a.bytes == b.bytes));
}

std::ostream& operator<<(std::ostream& os, const RawRegistryValue& value) {
  if (!value.present) return os << "<missing>";
  os << "type " << value.type << ", bytes";
  for (unsigned char c : value.bytes) os << ' ' << static_cast<int>(c);
  return os;
}

std::string WideBytes(const std::wstring& text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

void PutRawValue(const std::string& subkey, const wchar_t* name, const RawRegistryValue& value, int is64) {
  UniqueHKey key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, 0,
                      KEY_ALL_ACCESS | (is64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY), nullptr, key.put(),
                      nullptr) != ERROR_SUCCESS) {
    ADD_FAILURE() << "cannot create " << subkey;
    return;
  }
  if (value.present) {
    EXPECT_EQ(RegSetValueExW(key.get(), name, 0, value.type, reinterpret_cast<const BYTE*>(value.bytes.data()),
                             static_cast<DWORD>(value.bytes.size())),
              ERROR_SUCCESS);
  } else {
    RegDeleteValueW(key.get(), name);
  }
}

RawRegistryValue GetRawValue(const std::string& subkey, const wchar_t* name, int is64) {
  RawRegistryValue value;
  UniqueHKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_QUERY_VALUE | (is64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY),
                    key.put()) != ERROR_SUCCESS) {
    return value;
  }
  DWORD size = 0;
  if (RegQueryValueExW(key.get(), name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) return value;
  value.bytes.resize(size);
  value.present = RegQueryValueExW(key.get(), name, nullptr, &value.type,
                                   size ? reinterpret_cast<BYTE*>(&value.bytes[0]) : nullptr, &size) == ERROR_SUCCESS;
  value.bytes.resize(size);
  return value;
}

}  // namespace testing_support
