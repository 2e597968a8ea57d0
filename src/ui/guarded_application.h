#pragma once

#include <QApplication>
#include <functional>

namespace vellumark {

// The window program's application object. A rescue or a backup runs inside
// an event handler; should memory run out anywhere in one (std::bad_alloc),
// the operation unwinds to here, where the event is delivered, instead of
// into the toolkit's event loop, which cannot carry an exception and would
// abort. onOutOfMemory then decides how the program ends. The toolkit's own
// frames do not clean up after an exception, so the windows catch it where
// they start a run and report it through ReportOutOfMemory; catching it
// here is for whatever else runs out.
class GuardedApplication final : public QApplication {
 public:
  GuardedApplication(int& argc, char** argv) : QApplication(argc, argv) {}

  void OnOutOfMemory(std::function<void()> action) { onOutOfMemory_ = std::move(action); }
  // Whether memory has run out in any event handler so far.
  bool RanOutOfMemory() const { return ranOutOfMemory_; }
  // For code that caught std::bad_alloc itself; runs the action.
  void ReportOutOfMemory();
  // The program's application object when it is one of these, else null.
  static GuardedApplication* Instance();

  bool notify(QObject* receiver, QEvent* event) override;

 private:
  std::function<void()> onOutOfMemory_;
  bool ranOutOfMemory_ = false;
};

}  // namespace vellumark
