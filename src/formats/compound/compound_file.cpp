#include "formats/compound/compound_file.h"

#include <gsf/gsf-doc-meta-data.h>
#include <gsf/gsf-docprop-vector.h>
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input.h>
#include <gsf/gsf-meta-names.h>
#include <gsf/gsf-msole-utils.h>
#include <gsf/gsf-utils.h>

#include <mutex>

#include "common/byte_view.h"

namespace vellumark {
namespace {

constexpr std::uint32_t kLastSavedId = 13;
constexpr std::uint32_t kFileTimeType = 64;
constexpr std::uint64_t kTicksPerSecond = 10'000'000;          // a FILETIME counts 100 ns
constexpr std::uint64_t kSecondsFrom1601To1970 = 11'644'473'600;

// libgsf reports every odd property it meets on standard error (its checks
// of bad input among them, as failed assertions) and dumps bytes it does not
// understand to standard output. In a rescued, often damaged, file that is
// noise, and the verdict says what matters.
void DropPrintedDump(const gchar*) {}

void DropLibraryMessages(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

void InitialiseOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    gsf_init();
    g_log_set_default_handler(DropLibraryMessages, nullptr);
    g_set_print_handler(DropPrintedDump);
  });
}

struct UnrefObject {
  void operator()(gpointer object) const {
    if (object != nullptr) g_object_unref(object);
  }
};
template <typename T>
using ObjectPtr = std::unique_ptr<T, UnrefObject>;

// A stream's bytes. Its declared size comes from the (possibly damaged)
// directory, so no more is set aside than the whole file holds.
std::optional<std::vector<std::uint8_t>> ReadAll(GsfInput* input, std::size_t fileSize) {
  const gsf_off_t size = gsf_input_size(input);
  if (size < 0 || static_cast<std::uint64_t>(size) > fileSize) return std::nullopt;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  if (size > 0 && gsf_input_read(input, static_cast<std::size_t>(size), bytes.data()) == nullptr) return std::nullopt;
  return bytes;
}

std::string StringProperty(GsfDocMetaData* meta, const char* name) {
  GsfDocProp* property = gsf_doc_meta_data_lookup(meta, name);
  if (property == nullptr) return {};
  const GValue* value = gsf_doc_prop_get_val(property);
  if (value == nullptr || !G_VALUE_HOLDS_STRING(value)) return {};
  const char* text = g_value_get_string(value);
  if (text == nullptr || !g_utf8_validate(text, -1, nullptr)) return {};
  return text;
}

// A little-endian word of the summary; none past its end.
std::optional<std::uint32_t> Le32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return ByteView(bytes.data(), bytes.size()).Le32(at);
}

// The last-saved time straight from the summary's first section. libgsf
// hands times over as 32 bits after 1970, so an unset time (0, which
// writers leave, or a few hours past it) would come back as a day in 2009.
std::optional<std::int64_t> LastSaved(const std::vector<std::uint8_t>& summary) {
  constexpr std::size_t kFirstSectionOffset = 44;  // after the header and the section's identifier
  if (summary.size() < kFirstSectionOffset + 4) return std::nullopt;
  const auto sectionAt = Le32(summary, kFirstSectionOffset);
  if (!sectionAt) return std::nullopt;
  const std::size_t section = *sectionAt;
  if (section > summary.size() || summary.size() - section < 8) return std::nullopt;
  const auto properties = Le32(summary, section + 4);
  if (!properties) return std::nullopt;
  const std::size_t count = *properties;
  for (std::size_t i = 0; i < count && section + 16 + 8 * i <= summary.size(); ++i) {
    const auto id = Le32(summary, section + 8 + 8 * i), offset = Le32(summary, section + 12 + 8 * i);
    if (!id || !offset) return std::nullopt;
    if (*id != kLastSavedId) continue;
    const std::size_t at = section + *offset;
    if (at < section || at > summary.size() || summary.size() - at < 12) return std::nullopt;
    if (Le32(summary, at) != kFileTimeType) return std::nullopt;
    const auto ticks = ByteView(summary.data(), summary.size()).Le64(at + 4);  // FILETIME: low word, then high
    if (!ticks) return std::nullopt;
    const std::uint64_t seconds = *ticks / kTicksPerSecond;
    if (seconds < kSecondsFrom1601To1970) return std::nullopt;
    return static_cast<std::int64_t>(seconds - kSecondsFrom1601To1970);
  }
  return std::nullopt;
}

}  // namespace

struct CompoundFile::Handles {
  std::size_t fileSize = 0;
  ObjectPtr<GsfInput> input;
  ObjectPtr<GsfInfile> root;
};

CompoundFile::CompoundFile(std::unique_ptr<Handles> handles) : handles_(std::move(handles)) {}
CompoundFile::~CompoundFile() = default;

std::unique_ptr<CompoundFile> CompoundFile::Open(std::span<const std::uint8_t> bytes) {
  InitialiseOnce();
  auto handles = std::make_unique<Handles>();
  handles->fileSize = bytes.size();
  handles->input.reset(gsf_input_memory_new(bytes.data(), static_cast<gsf_off_t>(bytes.size()), FALSE));
  if (handles->input == nullptr) return nullptr;
  GError* error = nullptr;
  handles->root.reset(gsf_infile_msole_new(handles->input.get(), &error));
  if (error != nullptr) g_error_free(error);
  if (handles->root == nullptr) return nullptr;
  return std::unique_ptr<CompoundFile>(new CompoundFile(std::move(handles)));
}

std::optional<std::vector<std::uint8_t>> CompoundFile::Stream(const std::string& name) const {
  ObjectPtr<GsfInput> child(gsf_infile_child_by_name(handles_->root.get(), name.c_str()));
  if (child == nullptr) return std::nullopt;
  // A storage of that name is not a stream.
  if (GSF_IS_INFILE(child.get()) && gsf_infile_num_children(GSF_INFILE(child.get())) > 0) return std::nullopt;
  return ReadAll(child.get(), handles_->fileSize);
}

DocumentProperties CompoundFile::SummaryProperties() const {
  DocumentProperties properties;
  ObjectPtr<GsfInput> summary(gsf_infile_child_by_name(handles_->root.get(), "\005SummaryInformation"));
  if (summary == nullptr) return properties;
  ObjectPtr<GsfDocMetaData> meta(gsf_doc_meta_data_new());
  if (GError* error = gsf_doc_meta_data_read_from_msole(meta.get(), summary.get())) {
    g_error_free(error);
    return properties;
  }
  properties.title = StringProperty(meta.get(), GSF_META_NAME_TITLE);
  // libgsf keeps the summary's author under the creator's name; whoever
  // saved it last is a property of its own, not shown.
  properties.author = StringProperty(meta.get(), GSF_META_NAME_CREATOR);
  gsf_input_seek(summary.get(), 0, G_SEEK_SET);
  if (const auto bytes = ReadAll(summary.get(), handles_->fileSize)) properties.lastSaved = LastSaved(*bytes);
  return properties;
}

}  // namespace vellumark
