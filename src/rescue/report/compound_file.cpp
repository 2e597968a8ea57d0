#include "rescue/report/compound_file.h"

#include <gsf/gsf-doc-meta-data.h>
#include <gsf/gsf-docprop-vector.h>
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input.h>
#include <gsf/gsf-meta-names.h>
#include <gsf/gsf-msole-utils.h>
#include <gsf/gsf-timestamp.h>
#include <gsf/gsf-utils.h>

#include <mutex>

namespace vellumark {
namespace {

// The largest stream read whole; a rescued file is at most 100 MiB.
constexpr gsf_off_t kLargestStream = 104'857'600;

void InitialiseOnce() {
  static std::once_flag once;
  std::call_once(once, [] { gsf_init(); });
}

struct UnrefObject {
  void operator()(gpointer object) const {
    if (object != nullptr) g_object_unref(object);
  }
};
template <typename T>
using ObjectPtr = std::unique_ptr<T, UnrefObject>;

std::optional<std::vector<std::uint8_t>> ReadAll(GsfInput* input) {
  const gsf_off_t size = gsf_input_size(input);
  if (size < 0 || size > kLargestStream) return std::nullopt;
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

std::optional<std::int64_t> TimeProperty(GsfDocMetaData* meta, const char* name) {
  GsfDocProp* property = gsf_doc_meta_data_lookup(meta, name);
  if (property == nullptr) return std::nullopt;
  const GValue* value = gsf_doc_prop_get_val(property);
  if (value == nullptr || !VAL_IS_GSF_TIMESTAMP(value)) return std::nullopt;
  const auto* stamp = static_cast<const GsfTimestamp*>(g_value_get_boxed(value));
  if (stamp == nullptr || stamp->timet == 0) return std::nullopt;  // never saved
  return static_cast<std::int64_t>(stamp->timet);
}

}  // namespace

struct CompoundFile::Handles {
  ObjectPtr<GsfInput> input;
  ObjectPtr<GsfInfile> root;
};

CompoundFile::CompoundFile(std::unique_ptr<Handles> handles) : handles_(std::move(handles)) {}
CompoundFile::~CompoundFile() = default;

std::unique_ptr<CompoundFile> CompoundFile::Open(std::span<const std::uint8_t> bytes) {
  InitialiseOnce();
  auto handles = std::make_unique<Handles>();
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
  return ReadAll(child.get());
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
  // The author is who created the document; the last one to save it is kept
  // under the creator's name by libgsf.
  properties.author = StringProperty(meta.get(), GSF_META_NAME_INITIAL_CREATOR);
  properties.lastSaved = TimeProperty(meta.get(), GSF_META_NAME_DATE_MODIFIED);
  return properties;
}

}  // namespace vellumark
