#include "prompt/localized_texts.h"

#include <cstdio>

#include "agent/registry.h"
#include "log/agent_log.h"

namespace {

const char kDefaultLocale[] = "defaultval";

}  // namespace

LCID InstallLanguageToLcid(const std::optional<std::string>& text) {
  unsigned value = 0;
  if (text && sscanf(text->c_str(), "%X", &value) == 1 && static_cast<int>(value) >= 1) {
    return static_cast<LCID>(value);
  }
  return 1033;
}

std::string LocaleNameForLcid(LCID lcid) {
  char country[5] = "";
  char language[5] = "";
  if (!GetLocaleInfoA(lcid, LOCALE_SISO3166CTRYNAME, country, sizeof(country))) country[0] = '\0';
  if (!GetLocaleInfoA(lcid, LOCALE_SISO639LANGNAME, language, sizeof(language))) language[0] = '\0';
  std::string lang = language;
  // Windows names Norwegian Bokmål "nb"; the agent's locale names use "no".
  size_t nb = lang.find("nb");
  if (nb != std::string::npos) lang.replace(nb, 2, "no");
  return lang + "_" + country;
}

std::string PromptLocaleFromSystemName(const std::optional<std::string>& systemName) {
  if (!systemName || systemName->empty()) return kDefaultLocale;
  std::string locale = *systemName;
  for (char& c : locale) {
    if (c == '_') c = '-';
  }
  return locale;
}

std::optional<std::string> GetSystemLocaleName() {
  HMODULE kernel = LoadLibraryA("kernel32.dll");
  if (!kernel) {
    LogError("Could not load NTDLL.DLL for retrieving UI language");
    return std::nullopt;
  }
  std::string text;
  std::optional<std::string> installLanguage;
  if (ReadRegSZ(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Nls\\Language", "InstallLanguage", &text) ==
      ERROR_SUCCESS) {
    installLanguage = text;
  }
  LCID lcid = InstallLanguageToLcid(installLanguage);
  unsigned parsed = 0;
  if (sscanf(text.c_str(), "%X", &parsed) != 1) parsed = 0;
  LogInfo("String from Registry : %s and Integer after Conversion : %d\n", text.c_str(), static_cast<int>(parsed));
  FreeLibrary(kernel);

  std::string name = LocaleNameForLcid(lcid);
  LogInfo("returning locale %s\n", name.c_str());
  return name;
}

LocalizedPromptTexts::LocalizedPromptTexts() : currentLocale_(PromptLocaleFromSystemName(GetSystemLocaleName())) {}

void LocalizedPromptTexts::AddLocaleTexts(const std::string& locale, const std::wstring& uiUpper,
                                          const std::wstring& uiLower, const std::wstring& yes,
                                          const std::wstring& skip, const std::wstring& completed) {
  if (entries_.count(locale)) return;
  entries_[locale] = Entry{{"ui_upper", uiUpper}, {"ui_lower", uiLower}, {"yes", yes}, {"skip", skip},
                           {"completed", completed}};
  order_.push_back(locale);
}

void LocalizedPromptTexts::SetLocale(const std::string& locale) { currentLocale_ = locale; }

const LocalizedPromptTexts::Entry* LocalizedPromptTexts::FindEntry(const std::string& locale) const {
  auto it = entries_.find(locale);
  if (it != entries_.end()) return &it->second;
  // A Norwegian (Bokmål) system is named no-NO, while its texts are filed
  // under nb-NO; without this Norwegian users would get the English texts.
  if (locale == "no-NO") {
    it = entries_.find("nb-NO");
    if (it != entries_.end()) return &it->second;
  }
  return nullptr;
}

std::wstring LocalizedPromptTexts::GetPromptText(const std::string& key) const {
  const Entry* entry = FindEntry(currentLocale_);
  if (!entry) entry = FindEntry(kDefaultLocale);
  if (!entry) return std::wstring();
  auto it = entry->find(key);
  return it != entry->end() ? it->second : std::wstring();
}
