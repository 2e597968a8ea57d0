#include "cli/terminal_front_end.h"

#include <unistd.h>

#include <iostream>

#include "texts/message_table.h"

namespace vellumark::cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;
volatile std::sig_atomic_t g_terminated = 0;

void RecordSignal(int signal) {
  if (signal == SIGINT) {
    g_interrupted = 1;
  } else {
    g_terminated = 1;
  }
}

std::string TextOf(const Message& message) { return std::string(Text(message.textSlot)) + message.suffix; }

}  // namespace

void TerminalPrompt::Show(const Message& message) {
  const bool toErrors = message.captionSlot == slot::kError || message.captionSlot == slot::kRunStopped;
  (toErrors ? std::cerr : std::cout) << TextOf(message) << std::endl;
}

bool TerminalPrompt::AskYesNo(const Message& message) {
  if (assumeYes_) return true;
  if (!::isatty(STDIN_FILENO)) return false;
  std::cerr << TextOf(message) << " [y/N] " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

InterruptPump::InterruptPump() {
  struct sigaction action {};
  action.sa_handler = &RecordSignal;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &action, &previous_[i]);
}

InterruptPump::~InterruptPump() {
  for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &previous_[i], nullptr);
}

void InterruptPump::ProcessPendingEvents() {
  if (g_terminated != 0) {
    // Not cleared: every later safe point stops as well.
    if (terminate_) terminate_();
    return;
  }
  if (g_interrupted == 0) return;
  g_interrupted = 0;
  if (interrupt_) interrupt_();
}

TerminalProgress::TerminalProgress(std::string sourceName)
    : sourceName_(std::move(sourceName)), terminal_(::isatty(STDERR_FILENO) != 0) {}

void TerminalProgress::StageStarted(ProgressStage stage) {
  labels_.Start(stage, sourceName_);
  std::cerr << labels_.Caption() << "  " << labels_.Source() << '\n';
}

void TerminalProgress::Report(const ProgressReport& report) {
  labels_.Apply(report);
  Print(false);
}

void TerminalProgress::StageEnded(ProgressStage) {
  Print(true);
  if (terminal_) std::cerr << '\n';
}

void TerminalProgress::Print(bool force) {
  // Writing to a terminal for every hit would slow the scan down; a line
  // several times a second is enough to watch, a plain line every few
  // seconds enough for a log.
  const auto now = std::chrono::steady_clock::now();
  const auto every = terminal_ ? std::chrono::milliseconds(100) : std::chrono::milliseconds(5000);
  if (!force && now - lastPrint_ < every) return;
  lastPrint_ = now;
  std::string line = labels_.Line(0) + "  " + labels_.Line(1) + "  " + labels_.Line(2);
  if (!labels_.Pace().empty()) line += "  " + labels_.Pace();
  if (terminal_) {
    std::cerr << '\r' << line << "\x1b[K" << std::flush;
  } else {
    std::cerr << line << '\n';
  }
}

}  // namespace vellumark::cli
