#pragma once

#include <optional>
#include <string>

#include "common/front_end.h"

namespace vellumark {

// The modal dialogs the main window opens. Behind an interface so that the
// window tests answer them without a blocking dialog.
class WindowDialogs {
 public:
  virtual ~WindowDialogs() = default;
  // The image file to open, starting in startFolder; nothing when cancelled.
  virtual std::optional<std::string> OpenImagePath(const std::string& startFolder) = 0;
  // Where to write a backup image, starting in startFolder; nothing when
  // cancelled.
  virtual std::optional<std::string> SaveImagePath(const std::string& startFolder) = 0;
  // A folder, starting at start; nothing when cancelled.
  virtual std::optional<std::string> ChooseFolder(const std::string& start) = 0;
  // Opens an address with the desktop's default handler; false when the
  // desktop has none for it.
  virtual bool OpenAddress(const std::string& address) = 0;
};

// What the windows need from outside: message boxes and dialogs.
struct WindowServices {
  Prompt& prompt;
  WindowDialogs& dialogs;
};

}  // namespace vellumark
