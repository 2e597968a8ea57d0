#pragma once

#include <string>

namespace vellumark {

// What a failure's message adds after its text, so that it says what failed
// and why: " PATH: REASON". The reason is the text of reasonSlot when there is
// one, else the system's description of systemError (an errno value); with
// neither, only the path.
std::string PathAndReason(const std::string& path, int systemError, int reasonSlot = 0);

}  // namespace vellumark
