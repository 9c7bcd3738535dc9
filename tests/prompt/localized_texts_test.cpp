// Locale derivation from the installation language, and the text lookup with
// its English fallback.
#include "prompt/localized_texts.h"

#include <gtest/gtest.h>

namespace {

const wchar_t kEnglishCompleted[] =
    L"The patch deployment has been completed!You can now start using the Office application.";

}  // namespace

TEST(LocaleDerivation, InstallLanguageGivesTheTableName) {
  struct Case {
    std::optional<std::string> installLanguage;
    const char* systemName;
    const char* tableName;
  };
  const Case cases[] = {
      {std::string("0407"), "de_DE", "de-DE"},
      {std::string("0409"), "en_US", "en-US"},
      {std::string("040B"), "fi_FI", "fi-FI"},
      {std::string("040b"), "fi_FI", "fi-FI"},
      {std::string("0804"), "zh_CN", "zh-CN"},
      {std::string("0404"), "zh_TW", "zh-TW"},
      {std::string("0414"), "no_NO", "no-NO"},  // Bokmål: "nb" becomes "no"
      {std::string("0C07"), "de_AT", "de-AT"},
      {std::nullopt, "en_US", "en-US"},
      {std::string(""), "en_US", "en-US"},
      {std::string("zz"), "en_US", "en-US"},
      {std::string("0"), "en_US", "en-US"},
  };
  for (const Case& c : cases) {
    std::string label = c.installLanguage.value_or("(missing)");
    std::string systemName = LocaleNameForLcid(InstallLanguageToLcid(c.installLanguage));
    EXPECT_EQ(systemName, c.systemName) << label;
    EXPECT_EQ(PromptLocaleFromSystemName(systemName), c.tableName) << label;
  }
  EXPECT_EQ(PromptLocaleFromSystemName(std::nullopt), "defaultval");
  EXPECT_EQ(PromptLocaleFromSystemName(std::string()), "defaultval");
}

TEST(LocaleDerivation, SystemLocaleNameReadsTheInstallLanguage) {
  std::optional<std::string> name = GetSystemLocaleName();
  ASSERT_TRUE(name.has_value());
  EXPECT_EQ(name->size(), 5u);
  EXPECT_EQ((*name)[2], '_');
}

TEST(PromptTexts, TableHoldsEveryLocaleWithFiveKeys) {
  LocalizedPromptTexts texts;
  texts.LoadPromptTexts();
  const std::vector<std::string> expected = {"defaultval", "cs-CZ", "da-DK", "de-DE", "es-ES", "fi-FI", "fr-FR",
                                             "hu-HU",      "it-IT", "ko-KR", "nb-NO", "nl-NL", "pl-PL", "pt-BR",
                                             "pt-PT",      "ru-RU", "sv-SE", "tr-TR", "zh-CN", "zh-TW", "ja-JP"};
  EXPECT_EQ(texts.Locales(), expected);
  for (const std::string& locale : expected) {
    texts.SetLocale(locale);
    for (const char* key : {"ui_upper", "ui_lower", "yes", "skip", "completed"}) {
      EXPECT_FALSE(texts.GetPromptText(key).empty()) << locale << " " << key;
    }
    EXPECT_EQ(texts.GetPromptText("ui_upper")[0], L'\n') << locale;
    EXPECT_EQ(texts.GetPromptText("ui_lower")[0], L'\n') << locale;
    if (locale != "defaultval") {
      EXPECT_NE(texts.GetPromptText("completed"), kEnglishCompleted) << locale;
      // Translations are plain text.
      EXPECT_EQ(texts.GetPromptText("ui_upper").find(L'<'), std::wstring::npos) << locale;
    }
  }
}

TEST(PromptTexts, LookupFallsBackToEnglish) {
  LocalizedPromptTexts texts;
  texts.LoadPromptTexts();
  struct Case {
    const char* locale;
    const wchar_t* completed;
  };
  const Case cases[] = {
      {"ja-JP", L"更新プログラムの展開が完了しました。Office アプリケーションを使用できるようになりました。"},
      {"de-DE",
       L"Die Installation der Updates ist abgeschlossen! Sie können die Office-Anwendungen jetzt wieder verwenden."},
      {"en-US", kEnglishCompleted},
      {"de-AT", kEnglishCompleted},
      {"de_DE", kEnglishCompleted},  // a debug locale is taken as given
      {"xx-YY", kEnglishCompleted},
      {"JA-jp", kEnglishCompleted},  // names compare exactly
  };
  for (const Case& c : cases) {
    texts.SetLocale(c.locale);
    EXPECT_EQ(texts.GetPromptText("completed"), c.completed) << c.locale;
  }
  texts.SetLocale("en-US");
  EXPECT_EQ(texts.GetPromptText("ui_upper").substr(0, 30), L"\nOffice updates are pending in");
  EXPECT_EQ(texts.GetPromptText("no-such-key"), L"");
}

TEST(PromptTexts, NorwegianSystemReachesTheBokmalEntry) {
  LocalizedPromptTexts texts;
  texts.LoadPromptTexts();
  texts.SetLocale("nb-NO");
  std::wstring bokmal = texts.GetPromptText("completed");
  texts.SetLocale(PromptLocaleFromSystemName(LocaleNameForLcid(0x0414)));
  EXPECT_EQ(texts.GetPromptText("completed"), bokmal);
}

TEST(PromptTexts, FirstRegistrationOfALocaleWins) {
  LocalizedPromptTexts texts;
  texts.AddLocaleTexts("de-DE", L"\nA", L"\nB", L"Ja", L"Nein", L"Fertig");
  texts.LoadPromptTexts();
  texts.SetLocale("de-DE");
  EXPECT_EQ(texts.GetPromptText("completed"), L"Fertig");
  EXPECT_EQ(texts.Locales().front(), "de-DE");
  EXPECT_EQ(texts.Locales().size(), 21u);
}
