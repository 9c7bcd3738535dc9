// The texts of the user prompts, in the language Windows was installed with.
//
// The table holds one entry per locale, each with the same five keys:
// "ui_upper" (message of the running and postpone prompts), "completed"
// (message of the completion notice), "ui_lower", "yes" and "skip". The
// English entry "defaultval" answers for every locale without an entry.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

class LocalizedPromptTexts {
 public:
  // Takes the system's locale (GetSystemLocaleName, "_" turned into "-") as
  // the current locale; "defaultval" when there is none. Holds no texts yet.
  LocalizedPromptTexts();

  // Registers the built-in entries of all locales.
  void LoadPromptTexts();
  // Registers one entry; a locale already present keeps its first texts.
  void AddLocaleTexts(const std::string& locale, const std::wstring& uiUpper, const std::wstring& uiLower,
                      const std::wstring& yes, const std::wstring& skip, const std::wstring& completed);
  // Replaces the current locale as given, without any conversion.
  void SetLocale(const std::string& locale);
  const std::string& CurrentLocale() const { return currentLocale_; }

  // The key's text in the current locale, else in "defaultval"; empty only
  // for an unknown key or before LoadPromptTexts.
  std::wstring GetPromptText(const std::string& key) const;

  // Registered locale names, in registration order.
  const std::vector<std::string>& Locales() const { return order_; }

 private:
  using Entry = std::map<std::string, std::wstring>;
  const Entry* FindEntry(const std::string& locale) const;

  std::string currentLocale_;
  std::map<std::string, Entry> entries_;
  std::vector<std::string> order_;
};

// The installation language of Windows as "language_country" (for example
// "de_DE"), or nothing when the system library cannot be loaded.
std::optional<std::string> GetSystemLocaleName();

// --- pure pieces, exposed for tests ---
// "InstallLanguage" text (hexadecimal, e.g. "0407") to a locale id; 1033
// (English, United States) when missing, unparsable or below 1.
LCID InstallLanguageToLcid(const std::optional<std::string>& text);
// "language_country" of a locale id from the ISO names the system gives for
// it, with the language "nb" given as "no".
std::string LocaleNameForLcid(LCID lcid);
// The table's name for a system locale name: "_" becomes "-", nothing or an
// empty name gives "defaultval".
std::string PromptLocaleFromSystemName(const std::optional<std::string>& systemName);
