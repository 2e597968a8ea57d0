#include <cstring>
#include <string>

#include "common/byte_order.h"
#include "rescue/measured_carver_fixture.h"

namespace vellumark {
namespace {

using namespace test;  // NOLINT

// The section header table's end, from a little-endian 64-bit ELF header.
std::size_t SectionTableEnd(const Bytes& f) {
  return LoadLe64(f.data() + 40) + std::size_t{LoadLe16(f.data() + 58)} * LoadLe16(f.data() + 60);
}

// A C file and the shell prefix that works in its directory.
std::string WithSource(const TempDir& dir) {
  WriteFileBytes(dir / "p.c", [] {
    const std::string text =
        "static char table[40000] = {1};\n"
        "int counter;\n"
        "int main(int argc, char** argv) { return table[argc] + counter + (argv[0][0] == 'x'); }\n";
    return Bytes(text.begin(), text.end());
  }());
  return "cd '" + dir.path().string() + "' && ";
}

TEST(ElfCarverRealFiles, ProgramsObjectsBothClassesAndByteOrders) {
  VELLUMARK_REQUIRE_TOOL("gcc");
  VELLUMARK_REQUIRE_TOOL("objcopy");
  TempDir dir;
  const std::string in = WithSource(dir);
  const Bytes program = Made(dir, in + "gcc -O1 -g p.c -o ", "p");
  const Bytes stripped = Made(dir, in + "gcc -O1 -s p.c -o ", "s");
  const Bytes object = Made(dir, in + "gcc -O1 -c p.c -o ", "p.o");
  const Bytes object32 = Made(dir, in + "gcc -m32 -O1 -c p.c -o ", "p32.o");
  // Big-endian objects: objcopy wraps 5,000 bytes as a data section.
  WriteFileBytes(dir / "blob", PatternBytes(5000, 3));
  const Bytes big64 = Made(dir, in + "objcopy -I binary -O elf64-big blob ", "big64.o");
  const Bytes big32 = Made(dir, in + "objcopy -I binary -O elf32-big blob ", "big32.o");
  const struct { const char* name; const Bytes& file; std::uint8_t elfClass, order; } cases[] = {
      {"program with debug sections", program, 2, 1}, {"stripped program", stripped, 2, 1},
      {"64-bit object", object, 2, 1}, {"32-bit object", object32, 1, 1},
      {"64-bit big-endian", big64, 2, 2}, {"32-bit big-endian", big32, 1, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_GT(c.file.size(), 1024u);
    EXPECT_EQ(c.file[4], c.elfClass);
    EXPECT_EQ(c.file[5], c.order);
    ExpectMeasuredFile(ElfCarver, code::kElf, c.file);
  }
  // gcc puts the section header table last; the 40,000-byte table lies in
  // .data and the zero-filled counter in .bss, which takes no file bytes.
  EXPECT_EQ(SectionTableEnd(program), program.size());
  EXPECT_EQ(SectionTableEnd(object), object.size());
}

TEST(ElfCarverRealFiles, FurthestOfTablesAndData) {
  VELLUMARK_REQUIRE_TOOL("gcc");
  TempDir dir;
  const Bytes p = Made(dir, WithSource(dir) + "gcc -O1 p.c -o ", "p");
  const std::size_t shoff = LoadLe64(p.data() + 40), shentsize = LoadLe16(p.data() + 58);
  const std::size_t shnum = LoadLe16(p.data() + 60), phoff = LoadLe64(p.data() + 32);
  ASSERT_EQ(SectionTableEnd(p), p.size());
  ASSERT_EQ(shentsize, 64u);
  // The last section header's offset and size, and the first program header's file size.
  const std::size_t lastSection = shoff + (shnum - 1) * shentsize, firstSegment = phoff;
  const auto sized = [&](std::size_t header, std::size_t offsetAt, std::size_t sizeAt, std::uint64_t offset,
                         std::uint64_t size) {
    return With(With(p, header + offsetAt, Le(offset, 8)), header + sizeAt, Le(size, 8));
  };
  const std::size_t n = p.size();
  const struct { const char* name; Bytes file; std::size_t length; } cases[] = {
      {"as gcc wrote it", p, n},
      {"a section's data beyond the table", sized(lastSection, 24, 32, n, 5000), n + 5000},
      {"a segment's data beyond the table", sized(firstSegment, 8, 32, 0, n + 3000), n + 3000},
      {"a section's data ending exactly at the table's end", sized(lastSection, 24, 32, n - 10, 10), n},
      {"a no-bits section far beyond: not in the file",
       With(sized(lastSection, 24, 32, n, 1 << 30), lastSection + 4, Le(8, 4)), n},
      {"section beyond 4 GiB", sized(lastSection, 24, 32, std::uint64_t{1} << 32, 16), 0},
      {"section header entries of 63 bytes", With(p, 58, Le(63, 2)), 0},
      {"section header table inside the ELF header", With(p, 40, Le(32, 8)), 0},
      {"header size 52 in a 64-bit file", With(p, 52, Le(52, 2)), 0},
      {"third byte of the magic", With(p, 2, {'M'}), 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Carve(ElfCarver, c.file, 40), Span(2, c.length == 0 ? 0 : (c.length + 511) / 512)) << c.name;
  }
}

// A 32-bit program keeps its data directories 96 bytes into the optional
// header, 16 bytes earlier than a 64-bit one: a signed 32-bit installer's
// certificate table, appended after its sections, is part of it.
TEST(PeCarverSynthetic, Pe32CertificateTable) {
  Bytes pe(1024, 0);
  const std::size_t optional = 64 + 4 + 20, directories = optional + 96, table = optional + 224;
  pe = With(pe, 0, {'M', 'Z'});
  pe = With(pe, 0x3C, Le(64, 4));
  pe = With(pe, 64, {'P', 'E', 0, 0});
  pe = With(pe, 68, Cat({Le(0x14C, 2), Le(1, 2)}));     // i386, one section
  pe = With(pe, 68 + 16, Cat({Le(224, 2), Le(0x102, 2)}));  // optional header size, executable
  pe = With(pe, optional, Le(0x10B, 2));                 // PE32
  pe = With(pe, optional + 60, Le(512, 4));              // SizeOfHeaders
  pe = With(pe, optional + 92, Le(16, 4));               // NumberOfRvaAndSizes
  pe = With(pe, table, {'.', 't', 'e', 'x', 't'});
  pe = With(pe, table + 16, Cat({Le(512, 4), Le(512, 4)}));  // raw data: 512 bytes at 512
  const auto certificates = [&](std::uint32_t at, std::uint32_t size) {
    return With(pe, directories + 4 * 8, Cat({Le(at, 4), Le(size, 4)}));
  };
  const struct { const char* name; Bytes file; std::size_t length; } cases[] = {
      {"unsigned: the section's end", pe, 1024},
      {"a certificate table after the section", certificates(1024, 3000), 4024},
      {"a certificate table inside the section", certificates(600, 100), 1024},
  };
  for (const auto& c : cases) EXPECT_EQ(Carve(PeCarver, c.file, 40), Span(2, (c.length + 511) / 512)) << c.name;
}

TEST(PeCarverRealFiles, ShimEfiPrograms) {
  const char* const paths[] = {"/usr/lib/shim/fbx64.efi"};
  VELLUMARK_REQUIRE_FILE("/usr/lib/shim/fbx64.efi");
  for (const char* path : paths) {
    SCOPED_TRACE(path);
    const Bytes efi = ReadFileBytes(path);
    ASSERT_GT(efi.size(), 4096u);
    ASSERT_EQ(LoadLe32(efi.data() + LoadLe32(efi.data() + 0x3C)), 0x4550u);
    ExpectMeasuredFile(PeCarver, code::kPe, efi);
  }
}

TEST(PeCarverRealFiles, CertificatesSectionsAndHeaders) {
  VELLUMARK_REQUIRE_FILE("/usr/lib/shim/fbx64.efi");
  const Bytes efi = ReadFileBytes("/usr/lib/shim/fbx64.efi");
  const std::size_t n = efi.size(), pe = LoadLe32(efi.data() + 0x3C), coff = pe + 4, optional = pe + 24;
  ASSERT_EQ(LoadLe16(efi.data() + optional), 0x20Bu);  // PE32+: 16 data directories from 112 on
  const std::size_t certificate = optional + 112 + 4 * 8, table = optional + LoadLe16(efi.data() + coff + 16);
  // The section whose raw data ends furthest, and where it ends.
  std::size_t furthest = table, furthestEnd = 0;
  for (std::size_t i = 0; i < LoadLe16(efi.data() + coff + 2); ++i) {
    const std::size_t s = table + i * 40, end = std::size_t{LoadLe32(efi.data() + s + 20)} + LoadLe32(efi.data() + s + 16);
    if (end > furthestEnd) furthest = s, furthestEnd = end;
  }
  // The linker left a COFF symbol table after the sections, and its string
  // table after it, to the end of the file.
  const std::size_t symbols = LoadLe32(efi.data() + coff + 8);
  ASSERT_EQ(furthestEnd, symbols);
  const std::size_t strings = symbols + 18 * LoadLe32(efi.data() + coff + 12);
  ASSERT_EQ(strings + LoadLe32(efi.data() + strings), n);
  const auto certificates = [&](std::uint32_t at, std::uint32_t size) {
    return With(efi, certificate, Cat({Le(at, 4), Le(size, 4)}));
  };
  const Bytes moved = With(efi, 0x3C, Le(600, 4));
  const struct { const char* name; Bytes file; std::size_t length; } cases[] = {
      {"as built", efi, n},
      {"a certificate table after the sections", certificates(std::uint32_t(n), 3000), n + 3000},
      {"a certificate table inside the sections", certificates(1024, 3000), n},
      {"an empty certificate entry", certificates(std::uint32_t(n) + 100'000, 0), n},
      {"no symbol table: the sections' end", With(efi, coff + 8, Le(0, 4)), furthestEnd},
      {"furthest section's raw data past the strings",
       With(efi, furthest + 16, Le(LoadLe32(efi.data() + furthest + 16) + (n - furthestEnd) + 2000, 4)), n + 2000},
      {"a longer string table", With(efi, strings, Le(20'000, 4)), strings + 20'000},
      {"97 sections", With(efi, coff + 2, Le(97, 2)), 0},
      {"optional header magic 0x10C", With(efi, optional, Le(0x10C, 2)), 0},
      {"PE header outside the first sector", moved, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Carve(PeCarver, c.file, 40), Span(2, c.length == 0 ? 0 : (c.length + 511) / 512)) << c.name;
  }
  EXPECT_EQ(ClassifySector(moved.data(), moved.size()), code::kNone);
}

}  // namespace
}  // namespace vellumark
