#include "texts/message_table.h"

#include "texts/language_tables.h"

namespace vellumark {
namespace {

Language g_language = Language::English;

const MessageTexts& TableOf(Language language) {
  switch (language) {
    case Language::SimplifiedChinese: return SimplifiedTexts();
    case Language::TraditionalChinese: return TraditionalTexts();
    default: return EnglishTexts();
  }
}

}  // namespace

void ChooseLanguage(Language language) { g_language = language; }
Language ChosenLanguage() { return g_language; }

const char* Text(Language language, int slot) {
  if (slot < 0 || slot >= kMessageSlots) return "";
  return TableOf(language)[static_cast<std::size_t>(slot)];
}

const char* Text(int slot) { return Text(g_language, slot); }

const char* TableFont(Language language) {
  switch (language) {
    case Language::SimplifiedChinese: return "宋体";
    case Language::TraditionalChinese: return "細明體";
    default: return "MS Sans Serif";
  }
}

const char* TableFont() { return TableFont(g_language); }

}  // namespace vellumark
