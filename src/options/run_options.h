// The run options parsed from the command line, and the values derived from them.
#pragma once

#include <string>
#include <vector>

struct RunOptions {
  int patchId = 0;
  std::string channel;
  std::string clientEdition;
  // The -in argument as given, and the full path built from it.
  std::string installerName;
  std::string installerPath;
  std::string productReleaseId;
  std::string version;
  bool debugMode = false;
  bool debugWithLang = false;
  std::string debugLanguage;
  int debugPromptType = 0;
};

// The run's options. The driver fills them and hands down what each
// subsystem needs; nothing below it reads this record.
RunOptions& RunOpts();

// Fills `options` from the arguments (args[0] is the program and is skipped).
// Never fails: missing or malformed values end up as empty fields that
// ValidateRunOptions rejects. Logs one line per recognised option.
void ParseCommandLine(const std::vector<std::string>& args, const std::string& installDir, RunOptions* options);
// Splits the process command line with the system's rules. The arguments are
// taken from the wide command line and kept as UTF-8, so a package named in
// any script arrives intact.
std::vector<std::string> SplitProcessCommandLine();
// True when the patch id is 1 to 2147483647, every text option is non-empty
// and the installer name stays inside the patches folder (no absolute path,
// drive, ':', leading separator or ".." element). The program runs the
// installer as the system account, so a name that climbs out of the agent's
// folder must never reach it.
bool ValidateRunOptions(const RunOptions& options);

// The number at the start of the program's file name (731-setup.exe gives
// 731); 0 when there is none or it does not fit a 32-bit number.
int FileNameNumberFromPath(const std::string& modulePath);
// The number for this process's own module path (computed once).
int FileNameNumber();
// The package folder of a run: "<install dir>\patches\office\<patch id>"
// with separators normalised.
std::string PackageFolderFor(const std::string& installDir, int patchId);
