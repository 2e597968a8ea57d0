#include "texts/failure_text.h"

#include <cstring>

#include "texts/message_table.h"

namespace vellumark {

std::string PathAndReason(const std::string& path, int systemError, int reasonSlot) {
  std::string text = " " + path;
  if (reasonSlot != 0) {
    text += ": ";
    text += Text(reasonSlot);
  } else if (systemError != 0) {
    text += ": ";
    text += std::strerror(systemError);
  }
  return text;
}

}  // namespace vellumark
