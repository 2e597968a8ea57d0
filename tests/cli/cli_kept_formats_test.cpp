// Documents deleted from a FAT32 volume on which they had been written into
// the holes between kept files of every format the carvers measure: each
// kept file is claimed whole, the rest of its last cluster too, so its
// sectors step out of the documents' way and every document comes back
// byte for byte, named after its first sector.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/fat_volume.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
const fs::path kCorpus = VELLUMARK_CORPUS_DIR;

struct Kept {
  const char* extension;  // on the volume, after a number
  Bytes bytes;
};

const char* const kTools[] = {"mkfs.vfat", "mcopy", "mshowfat", "/usr/bin/convert", "ffmpeg", "sox", "lame",
                              "zip", "gzip", "bzip2", "xz", "tar", "gcc", "sqlite3", "7z", "gcab"};
const char* const kShipped[] = {"/usr/share/doc/zlib1g-dev/crc-doc.1.0.pdf.gz", "/usr/lib/shim/fbx64.efi",
                                "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf",
                                "/usr/share/fonts/opentype/cantarell/Cantarell-Regular.otf",
                                "/usr/share/fonts-font-awesome/fonts/fontawesome-webfont.woff"};

// One file of every format a carver measures, written by the tools the
// carvers' own tests use (with the variants that once went unclaimed: a
// PNG with pHYs and tEXt, ZIP archives of many members with and without
// data descriptors), or shipped by Debian packages and the corpus.
std::vector<Kept> KeptFiles(const test::TempDir& dir) {
  const std::string in = "cd '" + dir.path().string() + "' && ";
  test::WriteFileBytes(dir / "random", test::PatternBytes(60'000, 3));
  test::WriteFileBytes(dir / "p.c", [] {
    const std::string text =
        "static char table[40000] = {1};\nint main(int argc, char** argv) { return table[argc]; }\n";
    return Bytes(text.begin(), text.end());
  }());
  EXPECT_EQ(test::Run(in + "{ seq 1 40000; cat random; } > payload && head -c 5000 random > payload.bin"), 0);
  const std::string convert = "/usr/bin/convert -size 300x200 -seed 1 plasma:fractal ";
  const std::string ffmpeg = "ffmpeg -nostdin -v error -f lavfi -i ";
  const std::string video = "testsrc=duration=2:size=64x48:rate=10 ", sound = "sine=frequency=440:duration=3 ";
  const auto made = [&dir](const std::string& command, const std::string& name, const std::string& rest = "") {
    return test::Made(dir, command, name, rest);
  };
  const auto file = [](const std::string& path) { return test::ReadFileBytes(path); };
  const fs::path ooxml = kCorpus / "ooxml";
  return {
      {"JPG", made("/usr/bin/convert -size 640x480 -seed 1 plasma:fractal -quality 85 ", "a.jpg")},
      {"PNG", made(convert + "-density 300 ", "t.png")},  // pHYs, tEXt and tIME chunks
      {"GIF", made("/usr/bin/convert -delay 10 -size 120x90 xc:red -seed 1 plasma:fractal gradient: -loop 0 ", "c.gif")},
      {"BMP", made("/usr/bin/convert -size 100x80 xc:red bmp3:", "x.bmp")},
      {"WAV", made("sox -n -r 8000 -c 1 ", "a.wav", " synth 1 sine 440")},
      {"AVI", made(ffmpeg + "testsrc=duration=1:size=64x48:rate=5 -c:v mjpeg ", "x.avi")},
      {"WBP", made(convert + "-quality 80 ", "a.webp")},
      {"MP3", made(in + "lame --quiet --tt Title a.wav ", "a.mp3")},  // ID3v2 and ID3v1 tags
      {"OGG", made(ffmpeg + sound + "-c:a libvorbis ", "a.ogg")},
      {"FLA", made(ffmpeg + sound + "-c:a flac ", "a.flac")},
      {"MP4", made(ffmpeg + video + "-c:v mpeg4 ", "a.mp4")},
      {"MKV", made(ffmpeg + video + "-c:v mpeg4 ", "a.mkv")},
      {"WMV", made(ffmpeg + video + "-c:v wmv2 -f asf ", "a.wmv")},
      {"ZIP", made(in + "zip -q -X ", "a.zip", " payload.bin p.c random")},
      {"DCX", file(ooxml / "Bug53182.docx")},  // LibreOffice: data descriptors
      {"DCX", file(ooxml / "docx.1.docx")},
      {"XLX", file(ooxml / "xlsx.xlsx")},
      {"ODT", file(ooxml / "odt.odt")},
      {"PDF", made("gzip -dc /usr/share/doc/zlib1g-dev/crc-doc.1.0.pdf.gz > ", "a.pdf")},
      {"GZ", made(in + "gzip -c payload > ", "a.gz")},
      {"BZ2", made(in + "bzip2 -c payload > ", "a.bz2")},
      {"XZ", made(in + "xz -c payload > ", "a.xz")},
      {"TAR", made(in + "tar -c --owner=0 --group=0 --format=gnu -f ", "a.tar", " payload.bin p.c")},
      {"ELF", made(in + "gcc -O1 p.c -o ", "p")},
      {"EFI", file("/usr/lib/shim/fbx64.efi")},
      {"DB", made("sqlite3 ", "a.db",
                  " 'create table t(a, b); with recursive n(i) as (select 1 union all select i + 1 from n "
                  "where i < 3000) insert into t select i, hex(randomblob(40)) from n;'")},
      {"TTF", file("/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf")},
      {"OTF", file("/usr/share/fonts/opentype/cantarell/Cantarell-Regular.otf")},
      {"WOF", file("/usr/share/fonts-font-awesome/fonts/fontawesome-webfont.woff")},
      {"TIF", made(convert + "-define tiff:endian=msb ", "b.tif")},
      {"TIF", made(convert + "-define tiff:tile-geometry=64x64 ", "t.tif")},
      {"7Z", made(in + "7z a -bd ", "a.7z", " payload >/dev/null")},
      {"CAB", made(in + "gcab -c ", "a.cab", " payload")},
      {"RAR", file(kCorpus / "rar" / "fixture.rar")},
  };
}

std::string Base36(std::int64_t v) {
  std::string text(7, '0');
  for (int i = 6; i >= 0; --i, v /= 36) {
    text[static_cast<std::size_t>(i)] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"[v % 36];
  }
  return text;
}

// The sector runs of a report ("first-last ...") that cluster runs give,
// the last cut to the document's sectors.
using ClusterRuns = std::vector<std::pair<std::int64_t, std::int64_t>>;
std::string SectorRuns(const test::FatVolume& volume, const ClusterRuns& clusters, std::size_t length) {
  const std::int64_t spc = static_cast<std::int64_t>(volume.clusterBytes() / 512);
  std::int64_t left = static_cast<std::int64_t>((length + 511) / 512);
  std::string text;
  for (const auto& [first, last] : clusters) {
    const std::int64_t count = std::min(left, (last - first + 1) * spc);
    const std::int64_t start = volume.FirstSectorOf(first);
    text += (text.empty() ? "" : " ") + std::to_string(start) + "-" + std::to_string(start + count - 1);
    left -= count;
  }
  return text;
}

TEST(CliKeptFormats, DocumentsInPiecesAmongKeptFilesOfEveryFormatComeBackByteIdentical) {
  for (const char* tool : kTools) {
    if (!test::HaveTool(tool)) VELLUMARK_CANNOT_RUN("needs " << tool);
  }
  for (const char* path : kShipped) {
    if (!fs::exists(path)) VELLUMARK_CANNOT_RUN("needs " << path);
  }
  if (!fs::is_directory(kCorpus / "doc")) VELLUMARK_CANNOT_RUN("no document corpus at " << kCorpus);
  test::TempDir made;
  const std::vector<Kept> kept = KeptFiles(made);
  ASSERT_FALSE(::testing::Test::HasFailure());

  // Pieces enough that every kept format lies between two pieces of some
  // document; the large ones in many pieces of many clusters.
  const std::pair<const char*, int> documents[] = {
      {"picture.doc", 16}, {"Bug46220.doc", 12}, {"Bug47731.doc", 6}, {"53379.doc", 3}, {"64132.doc", 2}};
  int gaps = 0;
  for (const auto& [name, pieces] : documents) gaps += pieces - 1;
  ASSERT_GE(gaps, static_cast<int>(kept.size()));

  for (const int clusterSectors : {8, 32}) {
    SCOPED_TRACE(std::to_string(clusterSectors / 2) + " KiB clusters");
    test::TempDir dir;
    test::FatVolume volume(dir, 32, clusterSectors);
    std::size_t next = 0;  // the kept file to place between the next two pieces
    int number = 0;
    std::map<std::string, std::string> between;  // document: the kept files between its pieces
    for (const auto& document : documents) {
      const int pieces = document.second;
      const fs::path path = kCorpus / "doc" / document.first;
      const int clusters = static_cast<int>((fs::file_size(path) + volume.clusterBytes() - 1) / volume.clusterBytes());
      volume.WriteAround(path, document.first, test::SplitClusters(clusters, pieces), [&](std::size_t i) {
        // After the last piece, plain text: it does not lie inside the document.
        if (i + 1 == static_cast<std::size_t>(pieces)) {
          return std::make_pair("K" + std::to_string(number++) + ".TXT", Bytes(3000, 'x'));
        }
        const Kept& file = kept[next++ % kept.size()];
        between[document.first] += std::string(" ") + file.extension;
        return std::make_pair("K" + std::to_string(number++) + "." + file.extension, file.bytes);
      });
    }
    ASSERT_TRUE(volume.ok());

    // Where each document lies, read from its cluster chain before it is deleted.
    std::map<std::string, std::pair<const char*, std::string>> expected;  // output name: document, sector runs
    std::string names;
    for (const auto& [name, pieces] : documents) {
      const auto chain = volume.ClusterRuns(name);
      ASSERT_EQ(chain.size(), static_cast<std::size_t>(pieces)) << name << " is not in the pieces it was written in";
      const std::int64_t start = volume.FirstSectorOf(chain.front().first);
      const std::size_t length = fs::file_size(kCorpus / "doc" / name);
      expected["TEST_" + Base36(start) + ".DOC"] = {name, SectorRuns(volume, chain, length)};
      names += std::string(" ::") + name;
    }
    // The rescue reads up to the last file written, a plain text after the last document.
    const auto last = volume.ClusterRuns("K" + std::to_string(number - 1) + ".TXT");
    ASSERT_FALSE(last.empty());
    const std::int64_t end = volume.FirstSectorOf(last.back().second + 1);
    volume.Delete(names);
    ASSERT_TRUE(volume.ok());

    fs::create_directory(dir / "out");
    int status = -1;
    test::RunOutput("LANG=C LC_ALL= LC_MESSAGES= " VELLUMARK_CLI " rescue " + volume.image() + " " + (dir / "out") +
                        " --last " + std::to_string(end + 64) + " >/dev/null 2>&1",
                    &status);
    EXPECT_EQ(status, 0);
    std::map<std::string, std::vector<std::string>> rows;
    for (const auto& row : test::ReportRows(dir.path() / "out")) rows[row[0]] = row;
    for (const auto& [output, where] : expected) {
      const auto& [name, runs] = where;
      SCOPED_TRACE(std::string(name) + " as " + output + ", pieces around" + between[name]);
      const Bytes original = test::ReadFileBytes((kCorpus / "doc" / name).string());
      EXPECT_TRUE(test::ReadFileBytes((dir.path() / "out" / output).string()) == original) << "not rescued whole";
      ASSERT_EQ(rows.count(output), 1u);
      EXPECT_EQ(rows[output][2], "whole") << rows[output][3];
      EXPECT_EQ(rows[output][10], runs) << "the plain rebuild took other sectors than the document's";
      EXPECT_EQ(rows[output][12], "") << "reassembled around a kept file that should have been claimed";
    }
  }
}

}  // namespace
}  // namespace vellumark
