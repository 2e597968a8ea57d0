#pragma once

#include <chrono>
#include <csignal>
#include <functional>
#include <iterator>
#include <string>

#include "common/front_end.h"
#include "texts/progress_labels.h"

namespace vellumark::cli {

// Message boxes on a terminal: errors, and where a stopped run stopped, on
// standard error; everything else (the closing texts) on standard output. Yes/No questions are asked on the
// terminal when there is one; without one the answer is the default.
class TerminalPrompt final : public Prompt {
 public:
  void Show(const Message& message) override;
  bool AskYesNo(const Message& message) override;
  void AnswerYesWithoutAsking() { assumeYes_ = true; }

 private:
  bool assumeYes_ = false;
};

// Ctrl-C does what the progress window's Cancel or Stop button would; a
// request to end the program (SIGTERM, or SIGHUP when the terminal goes
// away) stops the operation at its next safe point, so that it still cleans
// up and reports. The handlers only record the signal, and the pump hands it
// to the running operation at the points where a window would let its
// buttons act.
class InterruptPump final : public Pump {
 public:
  InterruptPump();
  ~InterruptPump() override;
  void OnInterrupt(std::function<void()> action) { interrupt_ = std::move(action); }
  void OnTerminate(std::function<void()> action) { terminate_ = std::move(action); }
  void ProcessPendingEvents() override;

 private:
  static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

  std::function<void()> interrupt_;
  std::function<void()> terminate_;
  struct sigaction previous_[std::size(kSignals)] {};
};

// One progress line on standard error: rewritten in place on a terminal,
// an occasional plain line otherwise.
class TerminalProgress final : public ProgressSink {
 public:
  explicit TerminalProgress(std::string sourceName);
  void StageStarted(ProgressStage stage) override;
  void Report(const ProgressReport& report) override;
  void StageEnded(ProgressStage stage) override;

 private:
  void Print(bool force);

  std::string sourceName_;
  bool terminal_;
  ProgressLabels labels_;
  std::chrono::steady_clock::time_point lastPrint_{};
};

}  // namespace vellumark::cli
