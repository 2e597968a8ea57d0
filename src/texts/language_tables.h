#pragma once

#include <array>

#include "texts/message_table.h"

// The message table's texts, one language to a file.
namespace vellumark {

using MessageTexts = std::array<const char*, kMessageSlots>;

// An initializer list one short would leave a null slot at the end.
constexpr bool EverySlotFilled(const MessageTexts& table) {
  for (const char* text : table) {
    if (text == nullptr) return false;
  }
  return true;
}

const MessageTexts& EnglishTexts();
const MessageTexts& SimplifiedTexts();
const MessageTexts& TraditionalTexts();

}  // namespace vellumark
