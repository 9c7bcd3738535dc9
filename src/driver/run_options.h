// The run options parsed from the command line, and the values derived from them.
#pragma once

#include <string>
#include <vector>

struct RunOptions {
  int patchId = 0;
  std::string channel;
  std::string clientEdition;
  std::string installerPath;
  std::string productReleaseId;
  std::string version;
  bool debugMode = false;
  bool debugWithLang = false;
  std::string debugLanguage;
  int debugPromptType = 0;
};

// The process-wide record.
RunOptions& RunOpts();

// Fills `options` from the arguments (args[0] is the program and is skipped).
// Never fails: missing or malformed values end up as empty fields that
// ValidateRunOptions rejects. Logs one line per recognised option.
void ParseCommandLine(const std::vector<std::string>& args, const std::string& installDir, RunOptions* options);
// Splits the process command line with the system's rules and converts each
// argument to the thread's ANSI code page.
std::vector<std::string> SplitProcessCommandLine();
// True when the patch id is non-zero and every text option is non-empty.
bool ValidateRunOptions(const RunOptions& options);

// The number at the start of the program's file name (731-setup.exe gives 731).
int FileNameNumberFromPath(const std::string& modulePath);
// The number for this process's own module path (computed once).
int FileNameNumber();
// "<install dir>\patches\office\<patch id>" with separators normalised.
std::string PackageFolderFor(const std::string& installDir, int patchId);
// The package folder of this run.
std::string PackageFolder();
