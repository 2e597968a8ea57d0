#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "output/staged_file.h"

namespace vellumark {

// The map of an image backup in GNU ddrescue's mapfile format: which bytes
// of the source the image holds ('+'), which could not be read and are zeros
// in the image ('-'), and which a cancelled copy never reached ('?'). With
// it, ddrescue can retry the bad sectors into the image, or finish the copy,
// later and from any machine, and ddrescuelog can list them.
//
// Positions are the source's, because ddrescue's map describes its input:
// the image holds the source from the map's first position on, so a retry
// names that position as the input's and 0 as the output's (the map's
// comment gives the whole command).
//
// The map is written while the copy runs, one line per change of status,
// so that its memory does not grow with the number of bad areas on a failing
// disk; it is staged like the image and takes its name only when the copy
// ends.
class DdrescueMap {
 public:
  enum class Status : char { Copied = '+', Unreadable = '-', NotTried = '?' };

  // A map of the source bytes [start, start + size), none of them tried yet,
  // of a source with sectors of sectorBytes, staged in folder; none when the
  // file cannot be made.
  static std::optional<DdrescueMap> Create(const std::string& folder, std::int64_t start, std::int64_t size,
                                           std::int64_t sectorBytes);

  // Accounts for the next bytes of the source, in order.
  bool Add(std::int64_t bytes, Status status);
  // Ends the map: whatever was not reached stays untried, and the position
  // line says where the copy stopped and whether it finished.
  bool Finish();
  // Gives the finished map the name path, replacing what has it.
  bool Publish(const std::string& path);

 private:
  DdrescueMap(StagedFile file, std::int64_t start, std::int64_t size, std::int64_t positionLine);

  bool WriteBlock(std::int64_t position, std::int64_t size, Status status);

  StagedFile file_;
  std::int64_t end_;
  std::int64_t positionLine_;  // offset of the current-position line, rewritten by Finish
  std::int64_t blockStart_;    // the block not yet written: its start, size and status
  std::int64_t blockSize_ = 0;
  Status blockStatus_ = Status::NotTried;
};

}  // namespace vellumark
