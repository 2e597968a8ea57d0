#include <QApplication>
#include <iostream>
#include <new>

#include "access/posix_platform_source.h"
#include "ui/end_signals.h"
#include "ui/guarded_application.h"
#include "ui/main_window.h"
#include "texts/message_table.h"
#include "ui/qt_dialogs.h"
#include "ui/udisks_broker.h"

namespace {

constexpr int kExitOutOfMemory = 1;

void SayOutOfMemory() { std::cerr << vellumark::Text(vellumark::slot::kOutOfMemory) << std::endl; }

int Run(int argc, char** argv) {
  vellumark::GuardedApplication application(argc, argv);
  QApplication::setApplicationName("Vellumark");
  // The settings file is named by the organization as well: without one it
  // lands in ~/.config/Unknown Organization/.
  QApplication::setOrganizationName("Vellumark");
  QApplication::setOrganizationDomain("vellumark.org");
  // Ties the window to its menu entry (its icon and name on Wayland).
  QApplication::setDesktopFileName("vellumark");
  QApplication::setWindowIcon(QIcon::fromTheme("vellumark"));
  vellumark::TranslateQtTexts();

  QWidget* dialogParent = nullptr;
  vellumark::QtPrompt prompt(dialogParent);
  vellumark::QtDialogs dialogs(dialogParent);
  // A disk the user may not open is asked of the disk service, which asks
  // for a password where the system's rules want one.
  vellumark::UDisksBroker broker;
  vellumark::TForm1 window({prompt, dialogs}, std::make_unique<vellumark::PosixPlatformSource>(&broker));
  dialogParent = &window;
  window.ApplyTexts();
  // Memory ran out in an event handler, which has unwound: a run still
  // going (the handler may have been one of its pumped events) stops at its
  // next safe point, the user is told, and the program ends with status 1
  // once control is back in the event loop.
  application.OnOutOfMemory([&] {
    window.EndRunningOperation();
    SayOutOfMemory();
    prompt.Show({vellumark::slot::kOutOfMemory, vellumark::slot::kError, {}});
    prompt.Silence();
    QApplication::exit(kExitOutOfMemory);
  });
  window.show();
  const vellumark::EndSignals endSignals([&] {
    window.EndRunningOperation();
    prompt.Silence();
    QApplication::quit();
  });
  if (application.RanOutOfMemory()) return kExitOutOfMemory;
  const int status = QApplication::exec();
  return application.RanOutOfMemory() ? kExitOutOfMemory : status;
}

}  // namespace

int main(int argc, char** argv) {
  // The language and its font first: every window takes its texts from them.
  vellumark::ChooseLanguageFromSystem();
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    // Out of memory before the event loop ran (or outside any event).
    SayOutOfMemory();
    return kExitOutOfMemory;
  }
}
