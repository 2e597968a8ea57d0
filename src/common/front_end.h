#pragma once

#include <cstdint>
#include <string>

#include "common/message_slots.h"

// The seam between the engine and whoever shows its work: the Qt windows
// implement these with message boxes, labels and processEvents, the command
// line with terminal output. Engine operations take them by reference and never
// know which front end they talk to.
namespace vellumark {

// A modal message: the text of one slot, optionally followed directly by a
// value the engine supplies (a count, a sector number), under a caption slot.
struct Message {
  int textSlot = 0;
  int captionSlot = slot::kError;
  std::string suffix;
};

class Prompt {
 public:
  virtual ~Prompt() = default;
  // A box with one OK button; returns when the user has dismissed it.
  virtual void Show(const Message& message) = 0;
  // A box with Yes and No; true for Yes.
  virtual bool AskYesNo(const Message& message) = 0;
};

// Long operations run on the caller's thread and call this at fixed points so
// that a window can let pending events run (where Cancel, Pause and Stop take
// effect). A terminal front end may use it to poll for an interrupt.
class Pump {
 public:
  virtual ~Pump() = default;
  virtual void ProcessPendingEvents() = 0;
};

// What the progress windows' labels show. Each operation fills the fields its
// window has; the front end formats them with the message-table texts.
enum class ProgressStage : std::uint8_t { Search, Carve, Backup };

struct ProgressReport {
  ProgressStage stage = ProgressStage::Search;
  std::int64_t sector = 0;
  std::string percentText;        // PercentText of the search or backup
  std::int32_t found = 0;         // search: compound-document hits counted
  std::int32_t rescued = 0;       // carve: files rescued so far
  std::int32_t progressPercent = 0;  // carve: share of hits handled
  std::int64_t errors = 0;        // backup: unreadable sectors so far
};

class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual void Report(const ProgressReport& report) = 0;
};

// Bundle handed to every long engine operation.
struct FrontEnd {
  Prompt& prompt;
  Pump& pump;
  ProgressSink& progress;
};

// Front ends that ignore everything; useful for scripting and tests.
class SilentPrompt final : public Prompt {
 public:
  explicit SilentPrompt(bool answer = false) : answer_(answer) {}
  void Show(const Message&) override {}
  bool AskYesNo(const Message&) override { return answer_; }

 private:
  bool answer_;
};

class NoPump final : public Pump {
 public:
  void ProcessPendingEvents() override {}
};

class NoProgress final : public ProgressSink {
 public:
  void Report(const ProgressReport&) override {}
};

}  // namespace vellumark
