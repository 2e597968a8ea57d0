#!/usr/bin/env bash
# Carving work on hostile input against a plain run of the same size. For
# each kind below, makes an image (100 MiB by default) in which every sector
# holds the same hostile header, rescues it with one sector per cluster, so
# that every sector is a hit, and prints the time against a plain rescue of
# random data of the same size:
#   jpeg      a JPEG start of image and scan with no end of image anywhere
#   compound  a compound file header whose FAT sector lies 100 MiB ahead
#   rar       a RAR block whose packed size is 4 GiB
#   mp4       an MP4 "mdat" box of 4 GiB
#   7z        a 7z signature header whose archive runs 2 GiB
# Every failed attempt walks towards an end that never comes, and every hit
# below it would walk the same way again; the carving must not repeat that
# work, so each ratio should stay under 10.
# Usage: bench/hostile_carving.sh [SIZE_MIB] [BUILD_DIR] [TIMEOUT_SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-100}
build=${2:-build/release}
limit=${3:-600}
cli=$build/app/vellumark-cli
[ -x "$cli" ] || { echo "build first: cmake --preset release && cmake --build --preset release" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sectors=$((size_mib * 2048))

# Writes the image of a kind: every one of its sectors starts with the same
# hostile header and is zero after it.
hostile_image() {
  python3 - "$1" "$sectors" <<'PY'
import struct, sys
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
  python3 - "$cli" "$1" "$work/out" "$limit" <<'PY'
import resource, shutil, subprocess, sys, time
cli, image, out, limit = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4])
best_wall = best_cpu = None
for run in range(3):
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

echo "images of ${size_mib} MiB, one sector per cluster, time limit ${limit} s; best of three runs"
head -c "$((sectors * 512))" /dev/urandom > "$work/plain.img"
cat "$work/plain.img" > /dev/null
read -r plain_wall plain_cpu < <(rescue_seconds "$work/plain.img")
printf '%-10s %9s s wall %9s s CPU\n' plain "$plain_wall" "$plain_cpu"
worst_wall=0
worst_cpu=0
for kind in jpeg compound rar mp4 7z; do
  hostile_image "$kind" > "$work/$kind.img"
  result=$(rescue_seconds "$work/$kind.img")
  rm -f "$work/$kind.img"
  if [ "$result" = timeout ]; then
    printf '%-10s %9s s wall   ratio > %s\n' "$kind" "> $limit" "$(awk -v t="$limit" -v p="$plain_wall" 'BEGIN { printf "%.1f", t / p }')"
    worst_wall=inf worst_cpu=inf
    continue
  fi
  read -r wall cpu <<<"$result"
  read -r wall_ratio cpu_ratio < <(awk -v w="$wall" -v c="$cpu" -v pw="$plain_wall" -v pc="$plain_cpu" \
    'BEGIN { printf "%.2f %.2f\n", w / pw, c / pc }')
  printf '%-10s %9s s wall %9s s CPU   ratio %6s wall %6s CPU\n' "$kind" "$wall" "$cpu" "$wall_ratio" "$cpu_ratio"
  worst_wall=$(awk -v a="$worst_wall" -v b="$wall_ratio" 'BEGIN { print (a == "inf" || a > b) ? a : b }')
  worst_cpu=$(awk -v a="$worst_cpu" -v b="$cpu_ratio" 'BEGIN { print (a == "inf" || a > b) ? a : b }')
done
echo "worst ratio: $worst_wall wall, $worst_cpu CPU (goal: under 10)"
