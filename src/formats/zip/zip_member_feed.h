#pragma once

// One member of a ZIP archive checked as its bytes arrive, a piece at a
// time, against what the central directory says of it: its local header
// (signature, name, method and, where the header carries them, CRC-32 and
// sizes), its data (inflated, or stored, to its size and CRC-32; a text
// part's output must stay text) and the data descriptor after it. A feed
// can be copied at any point, so that a search trying several next pieces
// goes on from where it stands instead of checking the member again from
// its start.
#include <cstdint>
#include <memory>

#include "common/byte_view.h"
#include "formats/zip/zip_central_directory.h"

namespace vellumark {

enum class ZipFeedState : std::uint8_t {
  Going,   // sound so far; more bytes are wanted
  Done,    // the member is whole and checks, with nothing after it
  Broken,  // the bytes fed cannot be this member's
};

class ZipMemberFeed {
 public:
  explicit ZipMemberFeed(const ZipDirectoryEntry& entry);
  ~ZipMemberFeed();
  ZipMemberFeed(const ZipMemberFeed& other);
  ZipMemberFeed& operator=(const ZipMemberFeed&) = delete;

  // Feeds the next bytes of the member, from its local header on. Once the
  // member is whole, any byte more breaks it: the caller feeds exactly the
  // bytes up to the next record.
  ZipFeedState Feed(ByteView bytes);
  ZipFeedState State() const { return state_; }
  // Bytes of compressed data inflated over this feed and those it was copied from.
  std::uint64_t Work() const { return work_; }

  struct Inflater;

 private:
  ZipFeedState Header(ByteView& bytes);
  ZipFeedState Data(ByteView& bytes);
  ZipFeedState Descriptor(ByteView& bytes);
  ZipFeedState EndOfData();

  const ZipDirectoryEntry* entry_;
  ZipFeedState state_ = ZipFeedState::Going;
  std::uint8_t stage_ = 0;  // 0 header, 1 data, 2 descriptor, 3 done
  std::uint8_t held_[64] = {};  // the header's fixed part, then the descriptor
  std::uint32_t heldSize_ = 0;
  std::uint32_t nameSeen_ = 0, headerLeft_ = 0;
  std::uint32_t dataLeft_ = 0;
  std::uint32_t crc_ = 0;
  std::uint64_t out_ = 0;
  std::uint64_t work_ = 0;
  bool text_ = false;
  std::uint8_t xml_ = 0;    // where the text's XML lexer stands
  std::uint8_t quote_ = 0;  // the quote an attribute value ends with
  std::uint8_t run_ = 0;    // characters of the entity reference so far
  bool XmlContinues(const std::uint8_t* bytes, std::size_t size);
  std::unique_ptr<Inflater> inflater_;
};

}  // namespace vellumark
