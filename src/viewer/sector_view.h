#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "access/sector_source.h"

namespace vellumark {

// Which of the four navigation buttons can be pressed.
struct NavigationButtons {
  bool first = false;     // Button8 "|<"
  bool previous = false;  // Button3 "<"
  bool next = false;      // Button4 ">"
  bool last = false;      // Button9 ">|"
};

// One sector of the open source as a dump, with navigation. The window only
// mirrors Lines(), ShownSector() (into Edit1) and Buttons().
class SectorView {
 public:
  explicit SectorView(SectorSource& source) : source_(source) {}

  // Reads the sector directly (not through the read window) and shows it;
  // false, with nothing changed, when it cannot be read.
  bool ShowSector(std::int64_t sector);
  // What closing the source does to the view: an empty dump, no buttons.
  void Clear();

  void First();
  void Previous();
  void Next();
  void Last();
  void PageUp();
  void PageDown();
  // A typed sector number: shown when it lies on the source; otherwise the
  // message slot of the refusal is returned (0 when shown or unreadable).
  int GoTo(std::string_view text);

  const std::vector<std::string>& Lines() const { return lines_; }
  std::int64_t ShownSector() const { return shown_; }
  const NavigationButtons& Buttons() const { return buttons_; }

 private:
  static constexpr std::int64_t kPageSectors = 10;

  std::int64_t LastSector() const { return source_.ScanGeometry().LastSector; }

  SectorSource& source_;
  std::vector<std::string> lines_;
  std::int64_t shown_ = 0;
  NavigationButtons buttons_;
};

}  // namespace vellumark
