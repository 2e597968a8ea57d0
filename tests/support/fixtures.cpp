#include "support/fixtures.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <utility>
#include <stdexcept>

namespace vellumark::test {

LoopDevice::LoopDevice(const std::string& file, bool readOnly) {
  path_ = RunOutput(std::string("losetup -f --show ") + (readOnly ? "-r " : "") + file + " 2>/dev/null");
  while (!path_.empty() && path_.back() == '\n') path_.pop_back();
}

LoopDevice::~LoopDevice() {
  if (!path_.empty()) Run("losetup -d " + path_);
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vellumark-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

bool HaveTool(const std::string& name) {
  return Run("PATH=\"$PATH:/sbin:/usr/sbin\" command -v " + name + " >/dev/null 2>&1") == 0;
}

int Run(const std::string& command) {
  const std::string full = "PATH=\"$PATH:/sbin:/usr/sbin\"; " + command;
  const int status = std::system(full.c_str());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::string RunOutput(const std::string& command, int* status) {
  const std::string full = "PATH=\"$PATH:/sbin:/usr/sbin\"; " + command;
  std::string out;
  FILE* pipe = ::popen(full.c_str(), "r");
  if (pipe == nullptr) {
    if (status) *status = -1;
    return out;
  }
  std::array<char, 4096> buffer{};
  std::size_t got = 0;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) out.append(buffer.data(), got);
  const int raw = ::pclose(pipe);
  if (status) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path, std::size_t maxBytes) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  std::vector<std::uint8_t> bytes(std::min(static_cast<std::size_t>(in.tellg()), maxBytes));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void SumMapped(void* context) {
  auto& task = *static_cast<MappedSum*>(context);
  for (std::size_t i = 0; i < task.size; ++i) task.sum += task.bytes[i];
}

std::vector<std::uint8_t> PatternBytes(std::size_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> bytes(size);
  std::mt19937 random(seed);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

std::vector<std::vector<std::string>> ReportRows(const std::filesystem::path& folder) {
  const std::vector<std::uint8_t> csv = ReadFileBytes((folder / "rescue-report.csv").string());
  return ParseCsv(std::string(csv.begin(), csv.end()));
}

std::vector<NamedRow> NamedReportRows(const std::filesystem::path& folder) {
  const auto rows = ReportRows(folder);
  std::vector<NamedRow> named;
  for (std::size_t r = 1; r < rows.size(); ++r) {
    NamedRow row;
    for (std::size_t c = 0; c < rows[0].size() && c < rows[r].size(); ++c) row[rows[0][c]] = rows[r][c];
    named.push_back(row);
  }
  return named;
}

const NamedRow* RowWithOriginalName(const std::vector<NamedRow>& rows, const std::string& name) {
  for (const NamedRow& row : rows) {
    if (row.count("original name") != 0 && row.at("original name") == name) return &row;
  }
  return nullptr;
}

std::vector<std::vector<std::string>> ParseCsv(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c != '"') {
        field += c;
      } else if (i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      row.push_back(std::exchange(field, {}));
    } else if (c == '\n') {
      row.push_back(std::exchange(field, {}));
      rows.push_back(std::exchange(row, {}));
    } else if (c != '\r') {
      field += c;
    }
  }
  return rows;
}

std::vector<std::uint8_t> BytesOfRuns(const std::string& image, const std::string& runs, std::size_t length,
                                      std::size_t sectorBytes) {
  std::vector<std::uint8_t> bytes;
  std::istringstream list(runs);
  std::string run;
  while (list >> run) {
    const std::size_t dash = run.find('-');
    const std::size_t first = std::stoull(run.substr(0, dash));
    const std::size_t last = std::stoull(run.substr(dash + 1));
    const auto part = ReadFileBytes(image, (last + 1) * sectorBytes);
    bytes.insert(bytes.end(), part.begin() + static_cast<std::ptrdiff_t>(first * sectorBytes), part.end());
  }
  bytes.resize(std::min(bytes.size(), length));
  return bytes;
}

int WriteExfatVolume(const std::string& image, const std::string& commands) {
  if (Run("truncate -s 16M " + image + " && mkfs.exfat -c 4K " + image + " >/dev/null 2>&1") != 0) return 1;
  const std::string mount = image + ".mnt";
  std::filesystem::create_directory(mount);
  LoopDevice loop(image);
  if (loop.path().empty() || Run("mount.exfat-fuse " + loop.path() + " " + mount + " >/dev/null 2>&1") != 0) return 1;
  const int written = Run("cd " + mount + " && " + commands);
  const int unmounted = Run("umount " + mount);
  return written != 0 ? written : unmounted;
}

}  // namespace vellumark::test
