#include "options/run_options.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <cstring>

#include "log/agent_log.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/text.h"

RunOptions& RunOpts() {
  static RunOptions options;
  return options;
}

namespace {

// "-debugwithlang <language> <type>": types 1 to 3 as given, anything else 4.
void TakeDebugWithLanguage(const std::string& language, const std::string& type, RunOptions* options) {
  options->debugMode = true;
  options->debugWithLang = true;
  options->debugLanguage = language;
  if (_stricmp(type.c_str(), "1") == 0) {
    options->debugPromptType = 1;
  } else if (_stricmp(type.c_str(), "2") == 0) {
    options->debugPromptType = 2;
  } else if (_stricmp(type.c_str(), "3") == 0) {
    options->debugPromptType = 3;
  } else {
    options->debugPromptType = 4;
  }
  LogInfo("DebugLanguage : %s\n", options->debugLanguage.c_str());
  LogInfo("****************************Debug Enabled with language**********************\n");
}

}  // namespace

void ParseCommandLine(const std::vector<std::string>& args, const std::string& installDir, RunOptions* options) {
  const size_t count = args.size();
  // A value that would lie beyond the last argument counts as empty.
  auto valueAt = [&](size_t index) -> std::string { return index < count ? args[index] : std::string(); };
  size_t i = 1;
  while (i < count) {
    const char* arg = args[i].c_str();
    if (_stricmp(arg, "-pid") == 0) {
      // A number beyond the 32-bit range would otherwise wrap onto another
      // package; such an id, like a non-positive one, becomes 0 (invalid).
      options->patchId = AtoiOrZero(valueAt(i + 1).c_str());
      if (options->patchId < 1) options->patchId = 0;
      LogInfo("Office Source PatchID : %d\n", options->patchId);
      i += 2;
    } else if (_stricmp(arg, "-ch") == 0) {
      options->channel = valueAt(i + 1);
      LogInfo("Office Channel : %s\n", options->channel.c_str());
      i += 2;
    } else if (_stricmp(arg, "-oce") == 0) {
      options->clientEdition = valueAt(i + 1);
      LogInfo("Office Client Edition : %s\n", options->clientEdition.c_str());
      i += 2;
    } else if (_stricmp(arg, "-in") == 0) {
      options->installerName = valueAt(i + 1);
      options->installerPath = installDir + "\\patches\\" + options->installerName;
      LogInfo("Office Installer name : %s\n", options->installerPath.c_str());
      i += 2;
    } else if (_stricmp(arg, "-prid") == 0) {
      options->productReleaseId = valueAt(i + 1);
      LogInfo("Office ProductReleaseID : %s\n", options->productReleaseId.c_str());
      i += 2;
    } else if (_stricmp(arg, "-v") == 0) {
      // The version is taken only when an argument follows.
      if (i + 1 < count) options->version = args[i + 1];
      LogInfo("Version : %s\n", i + 1 < count ? args[i + 1].c_str() : "");
      i += 2;
    } else if (_stricmp(arg, "-debugwithlang") == 0) {
      TakeDebugWithLanguage(valueAt(i + 1), valueAt(i + 2), options);
      // Only the language is consumed; the type argument is looked at next
      // and, being no option, skipped.
      i += 2;
    } else if (_stricmp(arg, "-debugwithoutlang") == 0) {
      options->debugMode = true;
      LogInfo("****************************Debug Enabled without language**********************\n");
      i += 2;
    } else {
      i += 1;
    }
  }
}

std::vector<std::string> SplitProcessCommandLine() {
  std::vector<std::string> args;
  int count = 0;
  LocalBuffer argv(CommandLineToArgvW(GetCommandLineW(), &count));
  if (!argv) return args;
  // Taken as wide text and kept as UTF-8, so an argument outside the ANSI
  // code page (a package named in another script) arrives intact.
  for (int i = 0; i < count; ++i) args.push_back(ChangeWideToUtf8Str(argv.As<wchar_t*>()[i]));
  return args;
}

bool ValidateRunOptions(const RunOptions& options) {
  return options.patchId > 0 && !options.channel.empty() && !options.clientEdition.empty() &&
         !options.installerPath.empty() && !options.productReleaseId.empty() && !options.version.empty() &&
         IsContainedRelativePath(options.installerName);
}

int FileNameNumberFromPath(const std::string& modulePath) {
  std::string path = modulePath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  size_t cut = path.find_last_of('\\');
  std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  name = name.substr(0, name.find('-'));
  return AtoiOrZero(name.c_str());
}

int FileNameNumber() {
  static const int number = [] {
    wchar_t path[MAX_PATH * 4] = {0};
    GetModuleFileNameW(nullptr, path, MAX_PATH * 4 - 1);
    return FileNameNumberFromPath(ChangeWideToUtf8Str(path));
  }();
  return number;
}

std::string PackageFolderFor(const std::string& installDir, int patchId) {
  std::string raw = installDir + "\\patches\\office\\" + std::to_string(patchId);
  std::string out;
  std::string piece;
  auto flush = [&] {
    if (piece.empty()) return;
    if (!out.empty()) out += '\\';
    out += piece;
    piece.clear();
  };
  for (char c : raw) {
    if (c == '/' || c == '\\') {
      flush();
    } else {
      piece += c;
    }
  }
  flush();
  return out;
}

