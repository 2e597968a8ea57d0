// PDF: from "%PDF-" to the end of the last "%%EOF" line whose "startxref"
// points back to a cross-reference section ("xref" or an "N G obj" starting
// a line) of the file, so that a "%%EOF" inside an embedded file or a stray
// one does not end the walk. Incremental updates (another body, "xref" and
// trailer appended after "%%EOF") are followed. PDF has no length field, so
// the file is searched byte by byte; only a linearized file, whose first
// object declares the whole length (/L), has its middle claimed unread.
#include <algorithm>
#include <string_view>
#include <vector>

#include "rescue/carve_services.h"
#include "formats/file_signatures.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::int64_t kLargestPdf = 268'435'456;
// The tail of a linearized file that is searched for its "startxref": the
// trailer dictionary before it is short.
constexpr std::int64_t kLinearizedTail = 1024;
constexpr int kLongestNumber = 15;
constexpr int kLongestSpace = 32;

bool IsSpace(int c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == '\f' || c == 0; }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }

// The search's cursor: an offset in the image and the same place in the file.
class Scan {
 public:
  explicit Scan(CarveAttempt& attempt) : attempt_(attempt) {}

  // The byte k after the cursor, loading as needed; -1 past the source's
  // end, past the largest PDF taken, or when a read fails (Failed then).
  int At(std::int64_t k) {
    if (attempt_.Loaded() <= at_ + k) {
      if (fileOffset_ + k >= kLargestPdf) return -1;
      if (!attempt_.LoadUpTo(at_ + k + 1)) {
        failed_ = failed_ || !attempt_.AtSourceEnd();
        return -1;
      }
    }
    const auto byte = attempt_.View().Byte(at_ + k);
    if (!byte) return -1;
    return *byte;
  }
  bool Matches(std::int64_t k, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (At(k + static_cast<std::int64_t>(i)) != static_cast<std::uint8_t>(text[i])) return false;
    }
    return true;
  }
  // Moves the cursor over n bytes already looked at.
  void Advance(std::int64_t n) {
    fileOffset_ += n;
    at_ = attempt_.CutBack(at_ + n);
  }
  // Moves the cursor over n bytes, the middle of them claimed unread.
  bool Pass(std::int64_t n) {
    const std::int64_t next = attempt_.PassStructure(at_, n);
    if (next < 0) return false;
    fileOffset_ += n;
    at_ = attempt_.CutBack(next);
    return true;
  }
  std::int64_t FileOffset() const { return fileOffset_; }
  // Where a file offset at or before the cursor lies in the image (negative
  // once dropped from its front).
  std::int64_t ImageOffsetOf(std::int64_t fileOffset) const { return at_ - (fileOffset_ - fileOffset); }
  bool Failed() const { return failed_; }

 private:
  CarveAttempt& attempt_;
  std::int64_t at_ = 0;
  std::int64_t fileOffset_ = 0;
  bool failed_ = false;
};

// Digits from k on; the count of them (0 when none or too many).
int Number(Scan& scan, std::int64_t k, std::int64_t* value) {
  int digits = 0;
  *value = 0;
  for (int c; IsDigit(c = scan.At(k + digits));) {
    if (++digits > kLongestNumber) return 0;
    *value = *value * 10 + (c - '0');
  }
  return digits;
}

// Whitespace from k on: the count of it, at most kLongestSpace.
int Space(Scan& scan, std::int64_t k) {
  int n = 0;
  while (n < kLongestSpace && IsSpace(scan.At(k + n))) ++n;
  return n;
}

// Whether "N G obj" starts at the cursor.
bool ObjectHeaderHere(Scan& scan) {
  std::int64_t value = 0;
  std::int64_t k = Number(scan, 0, &value);
  if (k == 0) return false;
  std::int64_t space = Space(scan, k);
  if (space == 0) return false;
  k += space;
  const int generation = Number(scan, k, &value);
  if (generation == 0 || generation > 5) return false;
  k += generation;
  space = Space(scan, k);
  if (space == 0 || !scan.Matches(k + space, "obj")) return false;
  const int after = scan.At(k + space + 3);
  return after < 0 || IsSpace(after) || after == '<' || after == '[' || after == '/';
}

// The cross-reference sections seen so far, by file offset, in order; a
// "startxref" must name one of them, or lie before verifiedFrom, the part
// of a linearized file claimed unread.
struct Sections {
  std::vector<std::int64_t> offsets;
  std::int64_t verifiedFrom = 0;
  bool Known(std::int64_t offset) const {
    return offset < verifiedFrom || std::binary_search(offsets.begin(), offsets.end(), offset);
  }
};

// With "startxref" at the cursor: the length up to the end of the "%%EOF"
// line after it, when its offset names a section before it; else 0.
std::int64_t EofLineLength(Scan& scan, const Sections& sections) {
  std::int64_t k = 9;  // "startxref"
  const int before = Space(scan, k);
  if (before == 0) return 0;
  k += before;
  std::int64_t offset = 0;
  const int digits = Number(scan, k, &offset);
  if (digits == 0) return 0;
  k += digits;
  k += Space(scan, k);
  if (!scan.Matches(k, "%%EOF")) return 0;
  k += 5;
  if (offset >= scan.FileOffset() || !sections.Known(offset)) return 0;
  if (scan.At(k) == '\r') ++k;
  if (scan.At(k) == '\n') ++k;
  return k;
}

// Whether another body or cross-reference section follows at the cursor:
// an incremental update.
bool UpdateFollows(Scan& scan) {
  std::int64_t k = 0;
  for (int c; k < kLongestSpace && (c = scan.At(k)) > 0 && IsSpace(c);) ++k;
  scan.Advance(k);
  return scan.Matches(0, "xref") || ObjectHeaderHere(scan);
}

// A linearized file's declared length: "/L n" in the dictionary of its first
// object, which starts with "/Linearized", within the hit sector; 0 if none.
std::int64_t LinearizedLength(ByteView sector) {
  const std::string_view text(reinterpret_cast<const char*>(sector.Data()), sector.Size());
  const std::size_t mark = text.find("/Linearized");
  if (mark == std::string_view::npos) return 0;
  const std::size_t close = text.find(">>", mark);
  for (std::size_t at = text.find("/L", mark + 11); at < close; at = text.find("/L", at + 2)) {
    std::size_t k = at + 2;
    if (k >= text.size() || !IsSpace(text[k])) continue;
    while (k < text.size() && IsSpace(text[k])) ++k;
    std::int64_t length = 0;
    int digits = 0;
    for (; k < text.size() && IsDigit(text[k]) && digits <= kLongestNumber; ++k, ++digits) {
      length = length * 10 + (text[k] - '0');
    }
    return digits > 0 && digits <= kLongestNumber ? length : 0;
  }
  return 0;
}

bool WalkPdf(CarveAttempt& attempt) {
  if (!attempt.View().Equals(0, signature::kPdf)) return false;
  Scan scan(attempt);
  Sections sections;
  const std::int64_t declared = LinearizedLength(attempt.View());
  if (declared > kLinearizedTail && declared <= kLargestPdf) {
    if (!scan.Pass(declared - kLinearizedTail)) return false;
    sections.verifiedFrom = scan.FileOffset();
  }
  std::int64_t end = -1;
  bool lineStart = false;
  for (int c; (c = scan.At(0)) >= 0;) {
    if (lineStart && (scan.Matches(0, "xref") || (IsDigit(c) && ObjectHeaderHere(scan)))) {
      sections.offsets.push_back(scan.FileOffset());
    }
    if (c == 's' && scan.Matches(0, "startxref")) {
      if (const std::int64_t line = EofLineLength(scan, sections); line > 0) {
        scan.Advance(line);
        // The first end of a linearized file is where its length says.
        if (end < 0 && declared > kLinearizedTail && declared <= kLargestPdf && scan.FileOffset() != declared) {
          return false;
        }
        end = scan.FileOffset();
        if (!UpdateFollows(scan)) break;
        lineStart = true;
        continue;
      }
    }
    lineStart = c == '\r' || c == '\n';
    scan.Advance(1);
  }
  if (scan.Failed() || end < 0) return false;
  attempt.GiveBackFrom(scan.ImageOffsetOf(end));
  return true;
}

}  // namespace

void PdfCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthSmall);
  if (!attempt.Start()) return;
  if (WalkPdf(attempt)) attempt.Succeed();
}

}  // namespace vellumark
