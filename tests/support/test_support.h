// Helpers shared by the tests: folders in the build tree, Windows paths for
// them, and runs of real child processes with their full 32-bit exit code.
#pragma once

#include <windows.h>

#include <ostream>
#include <string>
#include <utility>

#include "util/registry_paths.h"

namespace testing_support {

// "Z:\..." for a Linux path (Wine maps / to drive Z:).
std::string ZPath(const std::string& unixPath);
// A path inside the Wine prefix the tests run in ("dosdevices\\unc\\..."),
// as a Z:\ path; empty outside Wine.
std::string WinePrefixPath(const std::string& child);

// A fresh folder under the build tree's test work area, private to this
// process, emptied on creation and removed on destruction. path() is a Windows path ending without "\".
class TempDir {
 public:
  explicit TempDir(const std::string& name);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& child) const { return path_ + "\\" + child; }

 private:
  std::string path_;
};

// Path of a program built into the build tree's bin folder.
std::string BinPath(const std::string& exeName);

struct ProcessRun {
  DWORD exitCode = 0;
  bool started = false;
  bool timedOut = false;
};
// Starts the command line (UTF-8), waits at most timeoutMs and reports the
// exit code.
ProcessRun RunProcess(const std::string& commandLine, DWORD timeoutMs = 120000);

// A stand-in of a program that must be running: child_standin.exe copied
// into `folder` under `exeName` and started, sleeping. It has started when
// the constructor returns (started() false if it never did) and is stopped
// when the object ends.
class RunningStandin {
 public:
  RunningStandin(const TempDir& folder, const std::string& exeName);
  ~RunningStandin();
  RunningStandin(const RunningStandin&) = delete;
  RunningStandin& operator=(const RunningStandin&) = delete;
  bool started() const { return pid_ != 0; }

 private:
  DWORD pid_ = 0;
};

std::string ReadFileBytes(const std::string& path);
// The file's text with CR LF line ends turned into LF.
std::string ReadTextFile(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
// Copies a file, replacing the target; paths are UTF-8.
bool CopyFileUtf8(const std::string& from, const std::string& to);
void MakeDirs(const std::string& path);

// A registry key under HKLM, in the 32-bit view, deleted before and after.
// Named after the process as well, so tests running at once never share it.
class ScopedTestKey {
 public:
  explicit ScopedTestKey(const std::string& subkey);
  ~ScopedTestKey();
  const std::string& path() const { return subkey_; }

 private:
  std::string subkey_;
};

// The agent's keys as the program itself names them, for tests of the real
// program (which run in a Wine prefix of their own).
inline const reg_path::AgentKeys kProgramKeys;

// Removes the agent's keys (both views) so a test starts from nothing.
void ClearAgentRegistry();
// Seeds the smallest agent registry with which the program starts: the
// installation folder (must end with "\"), the log level, and every value
// start-up requires, with the management server on 127.0.0.1 (https, ports
// 8020/8383) and no distribution server or proxy.
void SeedMinimalAgent(const std::string& installDir, DWORD logLevel = 4);
// Writes one value under the agent key, or under its subkey `subkey`
// ("ServerInfo", "Certificates", ...; empty for the agent key itself).
// `data` follows the registry layer's writeValue rules (decimal for DWORDs).
void SeedAgentValue(const std::string& subkey, const std::string& name, const std::string& data,
                    DWORD type = REG_SZ);
// Removes one such value.
void RemoveAgentValue(const std::string& subkey, const std::string& name);
// Reads one such text value back; nothing when it is missing.
bool ReadAgentText(const std::string& subkey, const std::string& name, std::string* out);

// The agent's keys under a root of their own: the helpers above on a test's
// key (a ScopedTestKey path), so the test runs beside tests of the agent's
// own keys. Pass root() to the code under test as the agent key.
class AgentKeysAt {
 public:
  explicit AgentKeysAt(std::string root) : root_(std::move(root)) {}
  const std::string& root() const { return root_; }
  // "<root>\<subkey>"; the root itself for an empty subkey.
  std::string Subkey(const std::string& subkey) const;
  // Removes everything under the root, in both views.
  void Clear() const;
  void SeedMinimalAgent(const std::string& installDir, DWORD logLevel = 4) const;
  void SeedValue(const std::string& subkey, const std::string& name, const std::string& data,
                 DWORD type = REG_SZ) const;
  void RemoveValue(const std::string& subkey, const std::string& name) const;
  bool ReadText(const std::string& subkey, const std::string& name, std::string* out) const;

 private:
  std::string root_;
};

// A registry value in raw form, as a test seeds or finds it; `present`
// false means there is no value.
struct RawRegistryValue {
  bool present = false;
  DWORD type = REG_NONE;
  std::string bytes;
};
bool operator==(const RawRegistryValue& a, const RawRegistryValue& b);
std::ostream& operator<<(std::ostream& os, const RawRegistryValue& value);
// The bytes of a UTF-16 text (pass the terminator in the text when wanted).
std::string WideBytes(const std::wstring& text);
// Writes the value (or deletes it when not present) under HKLM\subkey, in the
// 64-bit view when is64 is non-zero, else the 32-bit view. The key is created.
void PutRawValue(const std::string& subkey, const wchar_t* name, const RawRegistryValue& value, int is64);
RawRegistryValue GetRawValue(const std::string& subkey, const wchar_t* name, int is64);

}  // namespace testing_support
