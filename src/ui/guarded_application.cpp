#include "ui/guarded_application.h"

#include <new>

namespace vellumark {

GuardedApplication* GuardedApplication::Instance() {
  return dynamic_cast<GuardedApplication*>(QCoreApplication::instance());
}

void GuardedApplication::ReportOutOfMemory() {
  ranOutOfMemory_ = true;
  // What the action shows needs a little memory; should even that fail,
  // the program still ends through the flag rather than an abort.
  try {
    if (onOutOfMemory_) onOutOfMemory_();
  } catch (const std::bad_alloc&) {
    QCoreApplication::exit(1);
  }
}

bool GuardedApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::bad_alloc&) {
    ReportOutOfMemory();
    return true;
  }
}

}  // namespace vellumark
