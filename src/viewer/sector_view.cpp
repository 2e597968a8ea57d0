#include "viewer/sector_view.h"

#include <algorithm>

#include "common/message_slots.h"
#include "common/sector_number.h"
#include "viewer/sector_dump.h"

namespace vellumark {

bool SectorView::ShowSector(std::int64_t sector) {
  if (!source_.IsOpen() || sector < 0) return false;
  // The buffer follows the sector size, so no sector is too large to show.
  const std::uint32_t bytes = source_.ScanGeometry().BytesPerSector;
  std::vector<std::uint8_t> buffer(bytes);
  if (!source_.ReadDirect(buffer.data(), bytes, sector * static_cast<std::int64_t>(bytes))) return false;
  lines_ = SectorDump(buffer.data(), buffer.size());
  shown_ = sector;
  buttons_.previous = buttons_.first = shown_ > 0;
  buttons_.next = buttons_.last = shown_ < LastSector();
  return true;
}

void SectorView::Clear() {
  lines_.clear();
  buttons_ = {};
}

void SectorView::First() {
  if (source_.IsOpen()) ShowSector(0);
}

void SectorView::Previous() {
  if (source_.IsOpen() && shown_ > 0) ShowSector(shown_ - 1);
}

void SectorView::Next() {
  if (source_.IsOpen() && shown_ < LastSector()) ShowSector(shown_ + 1);
}

void SectorView::Last() {
  if (source_.IsOpen()) ShowSector(LastSector());
}

void SectorView::PageUp() {
  if (source_.IsOpen() && shown_ > 0) ShowSector(std::max<std::int64_t>(shown_ - kPageSectors, 0));
}

void SectorView::PageDown() {
  if (source_.IsOpen() && shown_ < LastSector()) ShowSector(std::min(shown_ + kPageSectors, LastSector()));
}

int SectorView::GoTo(std::string_view text) {
  if (!source_.IsOpen()) return 0;
  const std::int64_t sector = ParseSectorNumber(text);
  if (sector < 0 || sector > LastSector()) return slot::kInvalidViewSector;
  ShowSector(sector);
  return 0;
}

}  // namespace vellumark
