#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>

namespace vellumark {

// Turns SIGTERM, SIGHUP and SIGINT into a call on the window thread: the
// handlers only write a byte to a pipe, which the event loop (and the pumps of
// a running rescue or backup) read, so that the program ends at a safe point
// rather than in the middle of a file.
class EndSignals final : public QObject {
 public:
  explicit EndSignals(std::function<void()> onEnd, QObject* parent = nullptr);
  ~EndSignals() override;

 private:
  std::function<void()> onEnd_;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace vellumark
