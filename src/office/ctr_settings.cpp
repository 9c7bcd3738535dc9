#include "office/ctr_settings.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include <pugixml.hpp>

#include "log/agent_log.h"
#include "util/handles.h"
#include "util/text.h"

namespace {

const char kRootName[] = "office-ctr-settings";

bool IsPlainFile(const std::string& path) {
  DWORD attributes = GetFileAttributesW(ChangeUtf8ToWideStr(path.c_str()).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Loads the document with the library's default options. A document that
// does not parse is emptied: pugixml keeps whatever it read before the error,
// and half a settings file must not count as a valid one. With `logFailure`
// the failure is logged with the parser's own words and where it stopped, so
// a broken download is seen as such rather than as a run without languages.
bool LoadSettings(const std::string& path, pugi::xml_document* document, bool logFailure) {
  pugi::xml_parse_result result = document->load_file(ChangeUtf8ToWideStr(path.c_str()).c_str());
  if (!result) {
    if (logFailure) {
      LogError("ReadCtrSettingsLanguages : Failed to parse %s : %s at offset %ld\n", path.c_str(),
               result.description(), static_cast<long>(result.offset));
    }
    document->reset();
    return false;
  }
  return true;
}

void LogTable(const char* title, const std::map<int, std::string>& table) {
  LogDebug("%s", title);
  for (const auto& entry : table) LogDebug("%d -> %s\n", entry.first, entry.second.c_str());
}

}  // namespace

std::string CtrSettingsPath(const std::string& agentFolder) {
  // The install folder already ends with a separator; the doubled one is
  // harmless to Windows and kept as the agent has always built it.
  return agentFolder + "\\client-data\\office-ctr-settings.xml";
}

void LogCtrSettingsDocument(const std::string& agentFolder) {
  const std::string path = CtrSettingsPath(agentFolder);
  UniqueStdioFile file(_wfopen(ChangeUtf8ToWideStr(path.c_str()).c_str(), L"r"));
  if (!file) {
    DWORD error = GetLastError();
    LogInfo("Office Ctr Xml not found.\n");
    LogInfo("Failed to open Xml with error code : %d", static_cast<int>(error));
    return;
  }
  std::string text;
  std::string line;
  char chunk[1024];
  while (fgets(chunk, sizeof(chunk), file.get())) {
    line += chunk;
    if (!line.empty() && line.back() == '\n') {
      line.pop_back();
      text += line + "\n";
      line.clear();
    }
  }
  if (!line.empty()) text += line + "\n";
  LogInfo("************************Office Ctr Xml****************************\n%s", text.c_str());
  LogInfo("******************************************************************\n");
}

void ReadCtrSettingsLanguages(OfficeState* out) {
  OfficeState& state = *out;
  state.optedLanguageIds.clear();
  state.languageTable.clear();
  state.optedProofingIds.clear();
  state.proofingTable.clear();
  state.selectedLanguageCodes.clear();

  const std::string path = CtrSettingsPath(state.run.agentFolder);
  if (!IsPlainFile(path)) return;
  pugi::xml_document document;
  if (!LoadSettings(path, &document, true)) return;

  pugi::xml_node root = document.child(kRootName);
  for (pugi::xml_node node = root.first_child(); node; node = node.next_sibling()) {
    if (node.type() != pugi::node_element) continue;
    const std::string name = node.name();
    if (name == "O365CTRLanguages") {
      state.optedLanguageIds.push_back(node.attribute("language_id").as_int());
    } else if (name == "O365Languages") {
      state.languageTable[node.attribute("language_id").as_int()] = node.attribute("o365_abbreviation").as_string();
    } else if (name == "O365CTRProofingTools") {
      state.optedProofingIds.push_back(node.attribute("proofing_language_id").as_int());
    } else if (name == "O365ProofingLanguages") {
      state.proofingTable[node.attribute("proofing_language_id").as_int()] = node.attribute("abbreviation").as_string();
    }
  }

  LogTable("Languages\n", state.languageTable);
  LogTable("Proofing Languages\n", state.proofingTable);

  for (int id : state.optedLanguageIds) {
    LogInfo("OptedLanguagesInCtrSettings - %d \n", id);
    // An id the table lacks gets an empty entry, and so an empty code.
    state.selectedLanguageCodes.push_back(ToLowerText(state.languageTable[id]));
  }
  for (int id : state.optedProofingIds) LogInfo("OptedProofingLanguagesInCtrSettings - %d \n", id);
}

void ReadHowToInstall(OfficeState* out) {
  OfficeState& state = *out;
  const std::string path = CtrSettingsPath(state.run.agentFolder);
  if (!IsPlainFile(path)) return;
  pugi::xml_document document;
  // The start-up read of the languages has already named a broken document.
  LoadSettings(path, &document, false);

  pugi::xml_node settings = document.child(kRootName).child("O365CTRSettings");
  if (!settings) {
    LogError("O365CTRSettings node not found.\n");
    state.HowToInstall = 2;
  } else {
    // Missing, empty and 0 all mean the default: ask the user.
    int value = settings.attribute("how_to_install").as_int();
    state.HowToInstall = value == 0 ? 3 : value;
  }
  LogInfo("OfficeSettings => HowToInstall : %d\n", state.HowToInstall);
}
