#pragma once

#include <QDialog>
#include <QTextBrowser>

namespace vellumark {

// The help page inside the program, in the chosen language where the page
// has been written in it, English otherwise. Opened beside the main window,
// not modal, so that the user can follow it while working.
class HelpWindow : public QDialog {
  Q_OBJECT
 public:
  explicit HelpWindow(QWidget* parent = nullptr);

  QTextBrowser* Page() const { return page_; }

  // The page's text: the one installed beside the program, where there is
  // one, or the one built into it.
  static QString PageText();

 private:
  QTextBrowser* page_;
};

}  // namespace vellumark
