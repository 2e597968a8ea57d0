#pragma once

#include <array>
#include <string>

#include "common/front_end.h"

namespace vellumark {

// The texts of a progress window (caption, source line, three labels and the
// pace below them) as
// the engine's reports change them, shared by every front end so that the
// windows and the terminal show the same thing. Search and backup fill the
// search window's sector, percent and found/errors labels; the carving fills
// the rescue window's rescued, progress and walked labels. The carving walks
// its hits from the range's top down, so it counts the sectors it has walked
// rather than showing the sector it is at, which would run backwards.
class ProgressLabels {
 public:
  void Start(ProgressStage stage, const std::string& sourceName);
  void Apply(const ProgressReport& report);

  ProgressStage Stage() const { return stage_; }
  const std::string& Caption() const { return caption_; }
  const std::string& Source() const { return source_; }
  const std::string& Line(std::size_t index) const { return lines_[index]; }
  // Below the three lines: the documents found so far (carving; empty
  // elsewhere), then speed and time left; empty until there is something to
  // say.
  std::string Pace() const;
  const std::string& Found() const { return found_; }
  const std::string& Rate() const { return rate_; }

 private:
  ProgressStage stage_ = ProgressStage::Search;
  std::string caption_;
  std::string source_;
  std::array<std::string, 3> lines_;
  std::string found_;
  std::string rate_;
};

}  // namespace vellumark
