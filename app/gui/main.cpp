#include <QApplication>

#include "access/posix_platform_source.h"
#include "ui/end_signals.h"
#include "ui/main_window.h"
#include "ui/message_table.h"
#include "ui/qt_dialogs.h"

int main(int argc, char** argv) {
  // The language and its font first: every window takes its texts from them.
  vellumark::ChooseLanguageFromSystem();
  QApplication application(argc, argv);
  QApplication::setApplicationName("Vellumark");
  QApplication::setWindowIcon(QIcon::fromTheme("vellumark"));

  QWidget* dialogParent = nullptr;
  vellumark::QtPrompt prompt(dialogParent);
  vellumark::QtDialogs dialogs(dialogParent);
  vellumark::TForm1 window({prompt, dialogs}, std::make_unique<vellumark::PosixPlatformSource>());
  dialogParent = &window;
  window.ApplyTexts();
  window.show();
  const vellumark::EndSignals endSignals([&] {
    window.EndRunningOperation();
    prompt.Silence();
    QApplication::quit();
  });
  return QApplication::exec();
}
