#pragma once

#include <string>
#include <string_view>

// The numbered texts the program shows, in three languages, stored as
// UTF-8. The language is chosen once at start-up and not revisited.
namespace vellumark {

enum class Language { English, SimplifiedChinese, TraditionalChinese };

inline constexpr int kMessageSlots = 176;

// The language a Windows OEM code page selects: 936 Simplified, 950
// Traditional, anything else English.
Language LanguageForCodePage(int codePage);

// The code page that stands for a POSIX locale name such as "zh_CN.UTF-8",
// "zh_TW", "zh-Hant-HK" or "en_US": 936 for Chinese of mainland China or
// Singapore (or Hans script), 950 for Taiwan, Hong Kong or Macau (or Hant
// script), 437 for anything else.
int CodePageForLocale(std::string_view locale);

// The locale the system runs in, by the usual precedence of LC_ALL,
// LC_MESSAGES and LANG.
std::string SystemLocaleName();

void ChooseLanguage(Language language);
// Start-up choice from the system locale.
void ChooseLanguageFromSystem();
Language ChosenLanguage();

// The text of a slot in the chosen language; empty for a slot number outside
// the table.
const char* Text(int slot);
const char* Text(Language language, int slot);
// The font that draws the chosen language's texts.
const char* TableFont();
const char* TableFont(Language language);

}  // namespace vellumark
