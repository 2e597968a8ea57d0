#pragma once

#include <QMessageBox>
#include <QWidget>

#include "ui/window_services.h"

namespace vellumark {

// Qt's own texts (dialog buttons, the file dialogs) in the chosen language,
// from Qt's translations; called again, it follows a new choice.
void TranslateQtTexts();

// The icon a message box carries: an error's is the error icon, a stopped
// run's a warning, any other an information.
QMessageBox::Icon IconOf(const Message& message);

// Message boxes with the message table's texts and captions.
class QtPrompt final : public Prompt {
 public:
  explicit QtPrompt(QWidget*& parent) : parent_(parent) {}
  void Show(const Message& message) override;
  bool AskYesNo(const Message& message) override;
  std::optional<std::size_t> Choose(const Message& message, std::span<const int> choiceSlots) override;
  // No more boxes: the program is ending and nobody may be there to answer.
  // Questions get No.
  void Silence() { silent_ = true; }

 private:
  QWidget*& parent_;
  bool silent_ = false;
};

class QtDialogs final : public WindowDialogs {
 public:
  explicit QtDialogs(QWidget*& parent) : parent_(parent) {}
  std::optional<std::string> OpenImagePath(const std::string& startFolder) override;
  std::optional<std::string> SaveImagePath(const std::string& startFolder) override;
  std::optional<std::string> ChooseFolder(const std::string& start) override;
  bool OpenAddress(const std::string& address) override;

 private:
  QWidget*& parent_;
};

}  // namespace vellumark
