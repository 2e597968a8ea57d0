#include "rescue/carvers/carver_table.h"

#include <array>

#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

struct Entry {
  FileTypeCode code;
  Carver carver;
};

constexpr std::array kCarvers{
    Entry{code::kCompoundDocument, &CompoundCarver},
};

}  // namespace

Carver CarverFor(FileTypeCode code) {
  for (const Entry& entry : kCarvers) {
    if (entry.code == code) return entry.carver;
  }
  return nullptr;
}

}  // namespace vellumark
