#!/usr/bin/env bash
# Peak memory of `vellumark-cli rescue` over the same small sector range of
# sparse images of growing size, with the ratio of the largest to the
# smallest. The claim map is allocated where files are claimed, so the ratio
# should stay near 1 however large the source; a map sized to the source
# would grow with it (a bit per sector: 4 GiB of memory for 16 TiB).
# Usage: bench/huge_source_memory.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
cli=$build/app/vellumark-cli
corpus=tests/corpus/doc
[ -x "$cli" ] || { echo "build first: cmake --preset release && cmake --build --preset release" >&2; exit 1; }

# tmpfs holds sparse files of any size; most disk file systems stop at 16 TiB.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then work=$(mktemp -d -p /dev/shm); else work=$(mktemp -d); fi
trap 'rm -rf "$work"' EXIT
mkdir "$work/out"

# 1 MiB, 1 GiB, 1 TiB, 16 TiB, 1 PiB: as far as the file system holding the
# temporary folder lets a sparse file grow.
sizes=(20 30 40 44 50)
first=""
last_peak=""
for bits in "${sizes[@]}"; do
  img=$work/huge-$bits.img
  if ! truncate -s "$((1 << bits))" "$img" 2>/dev/null; then
    echo "2^$bits bytes: this file system holds no file that large"
    continue
  fi
  # A document at sector 100, where every image holds the same.
  doc=$(ls "$corpus"/*.doc 2>/dev/null | head -n 1 || true)
  [ -z "$doc" ] || dd if="$doc" of="$img" bs=512 seek=100 conv=notrunc status=none
  rm -f "$work"/out/*
  peak=$(LC_ALL=C /usr/bin/time -f "%M" "$cli" rescue "$img" "$work/out" --last 2047 2>&1 >/dev/null | tail -n 1)
  echo "2^$bits bytes: peak memory $peak KiB"
  [ -n "$first" ] || first=$peak
  last_peak=$peak
  rm -f "$img"
done
[ -n "$first" ] && awk -v a="$first" -v b="$last_peak" 'BEGIN { printf "ratio largest/smallest: %.2f\n", b / a }'
