#!/usr/bin/env bash
# Search throughput of `vellumark-cli rescue` against a plain sequential read
# of the same image. Makes an image of random data (1 GiB by default) with
# real documents from the corpus scattered through it at sector boundaries,
# then times:
#   - cat IMAGE > /dev/null                 (the speed of reading the source)
#   - the search phase of the rescue        (start until the carving begins)
# and prints both in MB/s with their ratio, and the rescue's peak memory.
# Usage: bench/rescue_throughput.sh [SIZE_MIB] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-1024}
build=${2:-build/release}
cli=$build/app/vellumark-cli
corpus=../shared/corpus/doc
[ -x "$cli" ] || { echo "build first: cmake --preset release && cmake --build --preset release" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
img=$work/bench.img
mkdir "$work/out"

echo "making a ${size_mib} MiB image of random data..."
head -c "$((size_mib * 1024 * 1024))" /dev/urandom > "$img"
placed=0
if [ -d "$corpus" ]; then
  sectors=$((size_mib * 2048))
  slot=$((sectors / 64))
  i=0
  for doc in "$corpus"/*.doc; do
    [ "$i" -lt 60 ] || break
    dd if="$doc" of="$img" bs=512 seek=$((i * slot + 8)) conv=notrunc status=none
    i=$((i + 1))
  done
  placed=$i
fi
echo "placed $placed documents"

cat "$img" > /dev/null  # warm the cache so both measurements read the same way
bytes=$(stat -c %s "$img")

t0=$(date +%s.%N)
cat "$img" > /dev/null
t1=$(date +%s.%N)

search_end=""
peak=""
start=$(date +%s.%N)
while IFS= read -r line; do
  case "$line" in
    "Rescue files..."*) search_end=$(date +%s.%N) ;;
    "peak memory"*) peak=$line ;;
  esac
done < <(LC_ALL=C /usr/bin/time -f "peak memory: %M KiB" "$cli" rescue "$img" "$work/out" 2>&1 >"$work/stdout")
[ -n "$search_end" ] || { echo "the rescue did not reach the carving" >&2; exit 1; }
end=$(date +%s.%N)

awk -v b="$bytes" -v c0="$t0" -v c1="$t1" -v s0="$start" -v s1="$search_end" -v e="$end" 'BEGIN {
  read = b / (c1 - c0) / 1e6; search = b / (s1 - s0) / 1e6;
  printf "sequential read (cat): %8.1f MB/s\n", read;
  printf "search phase:          %8.1f MB/s\n", search;
  printf "ratio search/read:     %8.2f\n", search / read;
  printf "carving:               %8.2f s\n", e - s1;
}'
tail -n 1 "$work/stdout"
echo "${peak:-peak memory: unknown}"
