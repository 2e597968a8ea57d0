#!/usr/bin/env bash
# Carving work on hostile input against a plain run of the same size. For
# each kind below, makes images (5 and 20 MiB by default) in which every
# sector holds the same hostile header, rescues them with one sector per
# cluster, so that every sector is a hit, and prints the time against a
# plain rescue of random data of the same size:
#   jpeg        a JPEG start of image and scan with no end of image anywhere
#   compound    a compound file header whose FAT sector lies 100 MiB ahead
#   rar         a RAR block whose packed size is 4 GiB
#   mp4         an MP4 "mdat" box of 4 GiB
#   7z          a 7z signature header whose archive runs 2 GiB
# and chains that lead from every sector into the ones after it, so that
# every walk goes on to the end of the source:
#   png-idat    a PNG whose IDAT chunk ends where the next sector's begins
#   rar-1mib    RAR blocks of 1 MiB
#   mp4-free    MP4 "free" boxes of one sector
#   jpeg-64k    JPEG marker segments of 64 KiB
#   zip-stored  ZIP local headers with one sector of stored data
#   mkv-cluster Matroska clusters of one sector in a Segment of unknown size
#   tar         tar headers of empty members
#   gzip-stored gzip stored blocks of one sector
#   tiff-ifd    TIFF directories each naming the next sector's (counted
#               from the image's start; offsets are absolute)
#   pdf-no-eof  PDF headers with no "%%EOF" anywhere
#   bzip2       bzip2 stream headers and block magics, each stream broken
#               at once (all are measured ahead on a second thread)
# Every failed attempt walks towards an end that never comes, and every hit
# below it would walk the same way again; the carving must not repeat that
# work. Goals: each hostile time at most 20 times the plain time of the same
# size (taken as at least 0.2 s), and the largest size's time at most 6 times
# the smallest's when it is four times larger.
# Usage: bench/hostile_carving.sh [SIZES_MIB] [BUILD_DIR] [TIMEOUT_SECONDS] [KINDS]
#   SIZES_MIB: sizes separated by commas ("5,20"); KINDS likewise (all).
#   RUNS=n in the environment: best of n runs (3).
set -euo pipefail
cd "$(dirname "$0")/.."
sizes=${1:-5,20}
build=${2:-build/release}
limit=${3:-600}
kinds=${4:-jpeg,compound,rar,mp4,7z,png-idat,rar-1mib,mp4-free,jpeg-64k,zip-stored,mkv-cluster,tar,gzip-stored,tiff-ifd,pdf-no-eof,bzip2}
runs=${RUNS:-3}
cli=$build/app/vellumark-cli
[ -x "$cli" ] || { echo "build first: cmake --preset release && cmake --build --preset release" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Writes the image of a kind: every one of its sectors starts with the same
# hostile header and is zero after it.
hostile_image() {
  python3 - "$1" "$2" <<'PY'
import struct, sys, zlib
kind, count = sys.argv[1], int(sys.argv[2])
if kind == "jpeg":
    # Start of image, then a start of scan whose data never has FF D9.
    head = bytes.fromhex("ffd8ffda0008")
elif kind == "compound":
    # Signature, version, byte order, 512-byte sectors, no DIFAT sectors;
    # the header's DIFAT names FAT sector 204798, the highest a file of
    # 100 MiB has.
    head = bytearray(512)
    head[0:8] = bytes.fromhex("d0cf11e0a1b11ae1")
    head[24:32] = struct.pack("<HHHH", 0x3E, 3, 0xFFFE, 9)
    head[68:72] = struct.pack("<I", 0xFFFFFFFE)
    head[76:512] = b"\xff" * 436
    head[76:80] = struct.pack("<I", 204798)
    head = bytes(head)
elif kind == "rar":
    # Marker block, then an archive header with 4 GiB - 16 of packed data.
    head = bytes.fromhex("526172211a0700") + struct.pack("<HBHHI", 0, 0x73, 0x8000, 11, 0xFFFFFFF0)
elif kind == "mp4":
    # "ftyp" of 20 bytes, then an "mdat" box of 4 GiB - 16.
    head = struct.pack(">I", 20) + b"ftypisom" + bytes(4) + b"isom" + struct.pack(">I", 0xFFFFFFF0) + b"mdat"
elif kind == "7z":
    # Signature header: the next header lies 2 GiB ahead, 256 bytes long.
    head = bytes.fromhex("377abcaf271c0003") + bytes(4) + struct.pack("<QQ", 0x7FFFFFFF, 256)
elif kind == "png-idat":
    # Signature, then an IDAT of 500 bytes and its CRC: the next chunk
    # header is the next sector's IDAT.
    head = bytes.fromhex("89504e470d0a1a0a") + struct.pack(">I", 500) + b"IDAT"
elif kind == "rar-1mib":
    # Marker block, then a file block of 1 MiB in all: the next block is the
    # one 2048 sectors on.
    head = bytes.fromhex("526172211a0700") + struct.pack("<HBHHI", 0, 0x74, 0x8000, 11, (1 << 20) - 11)
elif kind == "mp4-free":
    # "ftyp" of 20 bytes, then a "free" box of one sector.
    head = struct.pack(">I", 20) + b"ftypisom" + bytes(4) + b"isom" + struct.pack(">I", 512) + b"free"
elif kind == "jpeg-64k":
    # Start of image, then an APP1 segment of 64 KiB: the next marker is
    # the APP1 of the sector 128 on.
    head = bytes.fromhex("ffd8ffe1fffe")
elif kind == "zip-stored":
    # A stored member of 482 bytes with no name: the next local header is
    # the next sector.
    head = struct.pack("<IHHHHHIIIHH", 0x04034B50, 10, 0, 0, 0, 0, 0, 482, 482, 0, 0)
elif kind == "mkv-cluster":
    # EBML header of a WebM, a Segment of unknown size, then a Cluster of
    # 500 bytes whose end is the next sector's Cluster.
    doctype = bytes.fromhex("4282") + bytes([0x84]) + b"webm"
    head = bytes.fromhex("1a45dfa3") + bytes([0x80 | len(doctype)]) + doctype
    head += bytes.fromhex("18538067") + bytes.fromhex("01ffffffffffffff")
    head += bytes.fromhex("1f43b675") + bytes([0x01]) + (500).to_bytes(7, "big")
elif kind == "tar":
    # A ustar header of an empty file: the next header is the next sector.
    h = bytearray(512)
    h[0:1] = b"a"
    h[100:108] = b"0000644\0"
    h[108:116] = b"0000000\0"
    h[116:124] = b"0000000\0"
    h[124:136] = b"00000000000\0"
    h[136:148] = b"00000000000\0"
    h[156:157] = b"0"
    h[257:265] = b"ustar\x0000"
    h[148:156] = b" " * 8
    h[148:156] = b"%06o\0 " % sum(h)
    head = bytes(h)
elif kind == "gzip-stored":
    # A gzip header, then a stored block of 507 bytes: the next block header
    # is the next sector's, just after its gzip header.
    head = bytes.fromhex("1f8b0800000000000003") + bytes([0]) + struct.pack("<HH", 507, 507 ^ 0xFFFF)
elif kind == "tiff-ifd":
    # A little-endian header, then a directory of one entry whose next
    # directory lies at the offset that, counted from the image's start,
    # is the next sector's: from sector k the chain runs through sectors
    # 2k + 1, 3k + 2 and so on, and every walk spans the rest of the image.
    out = sys.stdout.buffer
    for m in range(count):
        head = b"II*\0" + struct.pack("<IH", 8, 1) + struct.pack("<HHII", 256, 3, 1, 1)
        head += struct.pack("<I", 512 * (m + 1) + 8)
        out.write(head + bytes(512 - len(head)))
    sys.exit(0)
elif kind == "pdf-no-eof":
    head = b"%PDF-1.4\n"
elif kind == "bzip2":
    head = b"BZh9" + bytes.fromhex("314159265359")
sector = head + bytes(512 - len(head))
out = sys.stdout.buffer
for _ in range(count // 1024):
    out.write(sector * 1024)
out.write(sector * (count % 1024))
PY
}

# Times a rescue of the image takes: "WALL CPU" in seconds (CPU: user and
# system time, which other work on a shared machine hardly changes), each
# the best of three runs; "timeout" when one run took too long.
rescue_seconds() {
  python3 - "$cli" "$1" "$work/out" "$limit" "$runs" <<'PY'
import resource, shutil, subprocess, sys, time
cli, image, out, limit = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4])
best_wall = best_cpu = None
for run in range(int(sys.argv[5])):
    shutil.rmtree(out, ignore_errors=True)
    subprocess.run(["mkdir", out], check=True)
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    try:
        subprocess.run([cli, "rescue", image, out, "--reason", "repartitioned", "--fs", "other", "--cluster", "512"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=limit)
    except subprocess.TimeoutExpired:
        print("timeout")
        sys.exit(0)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime
    best_wall = wall if best_wall is None else min(best_wall, wall)
    best_cpu = cpu if best_cpu is None else min(best_cpu, cpu)
print(f"{best_wall:.3f} {best_cpu:.3f}")
PY
}

echo "one sector per cluster, time limit ${limit} s; best of ${runs} runs"
printf '%-12s %5s %9s %9s %8s %8s\n' kind MiB "wall s" "CPU s" "x plain" "x 4 size"
fails=0
declare -A plain_of first_of
IFS=, read -r -a size_list <<<"$sizes"
IFS=, read -r -a kind_list <<<"$kinds"
for size_mib in "${size_list[@]}"; do
  sectors=$((size_mib * 2048))
  head -c "$((sectors * 512))" /dev/urandom > "$work/plain.img"
  read -r plain_wall plain_cpu < <(rescue_seconds "$work/plain.img")
  rm -f "$work/plain.img"
  plain_of[$size_mib]=$plain_wall
  printf '%-12s %5s %9s %9s\n' plain "$size_mib" "$plain_wall" "$plain_cpu"
done
for kind in "${kind_list[@]}"; do
  first_wall=
  first_size=
  for size_mib in "${size_list[@]}"; do
    sectors=$((size_mib * 2048))
    hostile_image "$kind" "$sectors" > "$work/$kind.img"
    result=$(rescue_seconds "$work/$kind.img")
    rm -f "$work/$kind.img"
    if [ "$result" = timeout ]; then
      printf '%-12s %5s %9s\n' "$kind" "$size_mib" "> $limit"
      fails=$((fails + 1))
      first_wall=
      continue
    fi
    read -r wall cpu <<<"$result"
    # The plain time counts as at least 0.2 s: below that, start-up and
    # the machine's noise dominate.
    ratio=$(awk -v w="$wall" -v p="${plain_of[$size_mib]}" 'BEGIN { if (p < 0.2) p = 0.2; printf "%.2f", w / p }')
    growth=-
    if [ -n "$first_wall" ]; then
      growth=$(awk -v w="$wall" -v f="$first_wall" 'BEGIN { if (f < 0.01) f = 0.01; printf "%.2f", w / f }')
      awk -v g="$growth" -v a="$size_mib" -v b="$first_size" 'BEGIN { exit !(g > 1.5 * a / b) }' && fails=$((fails + 1))
    else
      first_wall=$wall
      first_size=$size_mib
    fi
    awk -v r="$ratio" 'BEGIN { exit !(r > 20) }' && fails=$((fails + 1))
    printf '%-12s %5s %9s %9s %8s %8s\n' "$kind" "$size_mib" "$wall" "$cpu" "$ratio" "$growth"
  done
done
echo "goals missed: $fails"
[ "$fails" -eq 0 ]
