#!/usr/bin/env bash
# Throughput of `vellumark-cli rescue` against a plain sequential read (cat)
# of the same page-cached image. Two measures:
#
# bench/rescue_throughput.sh [SIZE_MIB] [BUILD_DIR] [EARLIER]
#   The search phase (start until the carving begins) on an image of random
#   data (1 GiB by default) with real documents from the corpus scattered
#   through it at sector boundaries: its speed in MB/s against cat's, the
#   carving's time and the rescue's peak memory. With EARLIER, a commit
#   (its command-line tool built alone in a worktree under /tmp, kept there
#   for the next run) or a vellumark-cli, that build's search is timed on the
#   same image too, and the ratios earlier/cat, current/cat and
#   current/earlier printed: every format the carvers measure adds a
#   signature the classifier tests in every sector, and the search must not
#   slow down with them.
#
# bench/rescue_throughput.sh dense [SIZE_MIB] [BUILD_DIR]
#   Whole rescues of an image (300 MiB by default) dense with files of every
#   format the carvers measure, made by the tools the tests use, and the
#   corpus's documents, back to back on 4 KiB boundaries, every fourth
#   document in two pieces around the file after it, as on a disk of 4 KiB
#   clusters formatted since (the rescue is told so): the rescue's time
#   against cat's, how many of the report's rows are whole, and PhotoRec's
#   time (Debian's testdisk package, with its default file types) when it
#   is installed.
#
# bench/rescue_throughput.sh mixed [SIZE_MIB] [BUILD_DIR]
#   One run, cached, on an image (2 GiB by default) as a used disk holds
#   it: three quarters random data with about 400 files of every format the
#   carvers measure and the corpus's documents at sector boundaries, the
#   last quarter a FAT32 volume (mkfs.vfat, written with mtools) with no
#   partition table before it, where documents were written into the
#   holes deleted files left, so that they lie in pieces, and then deleted
#   themselves. Times cat, the whole rescue of every document kind, and
#   PhotoRec over the whole space with documents alone (OLE and ZIP)
#   chosen: the ratios the rescue is held to are its speed against cat's
#   and against PhotoRec's.
#
# bench/rescue_throughput.sh all [SIZE_MIB] [BUILD_DIR]
#   Every measure against cat from one run: whole rescues of the dense image
#   (2 GiB by default) and the search phase on random data of the same
#   size, each with the page cache warm and, where it can be dropped
#   (/proc/sys/vm/drop_caches writable), cold; PhotoRec's time on the dense
#   image; and the peak memory of each rescue, with whole rescues of sparse
#   images of 2 GiB and 64 GiB beside them, where the claim map's part
#   (one bit per sector, allocated only where files are claimed) is
#   printed as the bound the rest is measured against. Each ratio to cat
#   is the median of BENCH_RUNS pairs (3 by default), a read by cat and a
#   rescue in turn (cold: cat, rescue, rescue, cat), printed with its
#   lowest and highest; after the cached
#   rescues, the time cp takes to write the rescued files alone.
#
# With BENCH_KEEP=PATH, the dense and mixed modes keep their image there,
# for profiles and runs of their own; with BENCH_IMAGE=PATH they time an
# image kept so instead of making one.
#
# The other modes time one run; the machine's other load moves them, so run
# them more than once before trusting a difference of a few percent.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=search
case "${1:-}" in
  dense | all | mixed)
    mode=$1
    shift
    ;;
esac
case "$mode" in
  dense) default_mib=300 ;;
  all | mixed) default_mib=2048 ;;
  *) default_mib=1024 ;;
esac
size_mib=${1:-$default_mib}
build=${2:-build/release}
earlier=${3:-}
cli=$build/app/vellumark-cli
corpus=tests/corpus
[ -x "$cli" ] || { echo "build first: cmake --preset release && cmake --build --preset release" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
img=$work/bench.img

now() { date +%s.%N; }

keep_image() {
  [ -n "${BENCH_IMAGE:-}" ] || [ -z "${BENCH_KEEP:-}" ] || mv "$img" "$BENCH_KEEP"
}

# The image kept by an earlier run (BENCH_IMAGE), or one made by $1.
image_from() {
  if [ -n "${BENCH_IMAGE:-}" ]; then
    img=$BENCH_IMAGE
    echo "timing $img"
  else
    "$1"
  fi
}

# Seconds cat takes to read the image, after a read that warms the cache.
time_cat() {
  cat "$img" >/dev/null
  local t0 t1
  t0=$(now)
  cat "$img" >/dev/null
  t1=$(now)
  awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }'
}

# Whether the page cache can be dropped, for cold measures.
can_drop_caches() { [ -w /proc/sys/vm/drop_caches ]; }
# Dropping the cache drops the programs and their libraries too; they are
# loaded again before the clock starts, so that what is timed is the reading
# of the image, not the loading of the program that reads it.
drop_caches() {
  sync
  echo 3 >/proc/sys/vm/drop_caches
  cat /dev/null
  "$cli" --help >/dev/null 2>&1 || true
}

# Seconds cat takes to read the image from the disk.
time_cat_cold() {
  drop_caches
  local t0 t1
  t0=$(now)
  cat "$img" >/dev/null
  t1=$(now)
  awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }'
}

# A rescue of the image by the tool $1 (with the options after it) into a
# fresh folder; sets search_s (until the carving began), total_s and peak.
time_rescue() {
  local tool=$1 out=$work/out start end line search_end=""
  shift
  rm -rf "$out"
  mkdir "$out"
  peak=""
  start=$(now)
  while IFS= read -r line; do
    case "$line" in
      "Rescue files..."*) search_end=$(now) ;;
      "peak memory"*) peak=$line ;;
    esac
  done < <(LC_ALL=C /usr/bin/time -f "peak memory: %M KiB" "$tool" rescue "$img" "$out" "$@" 2>&1 >"$work/stdout")
  end=$(now)
  [ -n "$search_end" ] || { echo "$tool: the rescue did not reach the carving" >&2; exit 1; }
  search_s=$(awk -v a="$start" -v b="$search_end" 'BEGIN { print b - a }')
  total_s=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
}

# The command-line tool of a commit, or the tool named.
earlier_cli() {
  if [ -f "$1" ] && [ -x "$1" ]; then
    echo "$1"
    return
  fi
  local commit tree
  commit=$(git rev-parse --verify "$1^{commit}")
  tree=/tmp/vellumark-bench-${commit:0:12}
  if [ ! -x "$tree/build/release/app/vellumark-cli" ]; then
    echo "building vellumark-cli of ${commit:0:12} in $tree (remove with: git worktree remove --force $tree)..." >&2
    [ -d "$tree" ] || git worktree add --detach "$tree" "$commit" >/dev/null
    (cd "$tree" && nice cmake --preset release >/dev/null && nice cmake --build --preset release --target vellumark-cli >/dev/null)
  fi
  echo "$tree/build/release/app/vellumark-cli"
}

# Writes the image just made out to the disk, so that the kernel's
# writing back of its pages does not run beside the first timings, and
# drops its pages from the cache: the cached timings then find it as a
# rescue finds an image read before, in the large pages reading brings in,
# not in the small ones writing left, which cost reading and mapping alike
# about twice as much.
settle_image() {
  sync "$img"
  dd if="$img" iflag=nocache count=0 status=none
}

# The image of random data with real documents scattered through it.
make_random_image() {
  echo "making a ${size_mib} MiB image of random data..."
  head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$img"
  local placed=0 sectors slot doc
  if [ -d "$corpus/doc" ]; then
    sectors=$((size_mib * 2048))
    slot=$((sectors / 64))
    for doc in "$corpus"/doc/*.doc; do
      [ "$placed" -lt 60 ] || break
      dd if="$doc" of="$img" bs=512 seek=$((placed * slot + 8)) conv=notrunc status=none
      placed=$((placed + 1))
    done
  fi
  echo "placed $placed documents"
  settle_image
}

search_mode() {
  local earlier_tool=""
  [ -z "$earlier" ] || earlier_tool=$(earlier_cli "$earlier")
  make_random_image
  local bytes cat_s
  bytes=$(stat -c %s "$img")
  cat_s=$(time_cat)
  time_rescue "$cli"
  local new_s=$search_s carve_s new_peak=$peak
  carve_s=$(awk -v a="$search_s" -v b="$total_s" 'BEGIN { print b - a }')
  local old_s=""
  if [ -n "$earlier_tool" ]; then
    time_rescue "$earlier_tool"
    old_s=$search_s
  fi
  awk -v b="$bytes" -v c="$cat_s" -v n="$new_s" -v o="$old_s" -v k="$carve_s" 'BEGIN {
    printf "sequential read (cat): %8.1f MB/s\n", b / c / 1e6;
    printf "search phase:          %8.1f MB/s\n", b / n / 1e6;
    printf "ratio search/read:     %8.2f\n", c / n;
    printf "carving:               %8.2f s\n", k;
    if (o != "") {
      printf "earlier search phase:  %8.1f MB/s\n", b / o / 1e6;
      printf "time earlier/cat:      %8.2f\n", o / c;
      printf "time current/cat:      %8.2f\n", n / c;
      printf "time current/earlier:  %8.3f\n", n / o;
    }
  }'
  tail -n 1 "$work/stdout"
  echo "${new_peak:-peak memory: unknown}"
}

# One file of every format the carvers measure, in $work/files, made by the
# tools the tests use, some of them larger than in the tests; the arguments
# name further tools the image's maker needs.
make_files() {
  for tool in /usr/bin/convert ffmpeg sox lame zip gzip bzip2 xz tar gcc sqlite3 7z gcab "$@"; do
    command -v "$tool" >/dev/null || { echo "needs $tool (scripts/install-deps)" >&2; exit 1; }
  done
  corpus_abs=$(cd "$corpus" 2>/dev/null && pwd || echo /nonexistent)
  echo "making files of every format..."
  local f=$work/files
  mkdir -p "$f"
  (
    cd "$f"
    local ff="ffmpeg -nostdin -v error -f lavfi -i" video="testsrc=duration=10:size=320x240:rate=25"
    local sound="sine=frequency=440:duration=20"
    { seq 1 100000; head -c 400000 /dev/urandom; } >payload
    printf 'static char table[40000] = {1};\nint main(int c, char** v) { return table[c] + (v[0][0] == 1); }\n' >p.c
    /usr/bin/convert -size 1600x1200 plasma:fractal -quality 85 a.jpg
    /usr/bin/convert -size 800x600 plasma:fractal -density 300 a.png
    /usr/bin/convert -delay 10 -size 320x240 xc:red plasma:fractal gradient: -loop 0 a.gif
    /usr/bin/convert -size 640x480 plasma:fractal bmp3:a.bmp
    /usr/bin/convert -size 800x600 plasma:fractal -quality 80 a.webp
    /usr/bin/convert -size 800x600 plasma:fractal -define tiff:endian=msb a.tif
    sox -n -r 44100 -c 2 a.wav synth 20 sine 440 sine 660
    $ff "$video" -c:v mjpeg a.avi
    $ff "$video" -c:v mpeg4 a.mp4
    $ff "$video" -c:v mpeg4 a.mkv
    $ff "$video" -c:v wmv2 -f asf a.wmv
    lame --quiet --tt Title a.wav a.mp3
    $ff "$sound" -c:a libvorbis a.ogg
    $ff "$sound" -c:a flac a.flac
    zip -q -X a.zip payload p.c
    gzip -c payload >a.gz
    bzip2 -c payload >a.bz2
    xz -c payload >a.xz
    tar -c --owner=0 --group=0 -f a.tar payload p.c
    gcc -O1 p.c -o a.elf
    cp /usr/lib/shim/*.efi .
    gzip -dc /usr/share/doc/zlib1g-dev/crc-doc.1.0.pdf.gz >a.pdf
    sqlite3 a.db 'create table t(a, b); with recursive n(i) as (select 1 union all select i + 1 from n
                  where i < 20000) insert into t select i, hex(randomblob(40)) from n;'
    cp /usr/share/fonts/truetype/dejavu/DejaVuSans*.ttf /usr/share/fonts/opentype/cantarell/Cantarell-Regular.otf \
      /usr/share/fonts-font-awesome/fonts/fontawesome-webfont.woff .
    7z a -bd a.7z payload >/dev/null
    gcab -c a.cab payload
    [ ! -d "$corpus_abs" ] || cp "$corpus_abs"/ooxml/* "$corpus_abs"/rar/fixture.rar "$corpus_abs"/xls/* \
      "$corpus_abs"/ppt/* .
  ) 2>"$work/make.log" || { cat "$work/make.log" >&2; exit 1; }
}

# Appends a file, or bytes from standard input, and pads the image to the
# next 4 KiB boundary, as a file system's clusters would.
append() {
  cat "$@" >>"$img"
  local size
  size=$(stat -c %s "$img")
  head -c $(((4096 - size % 4096) % 4096)) /dev/zero >>"$img"
}

# The image dense with files of every format and documents, some in pieces.
make_dense_image() {
  make_files
  local files=("$work"/files/*) docs=()
  [ ! -d "$corpus/doc" ] || docs=("$corpus"/doc/*.doc)
  echo "making a ${size_mib} MiB image of $((${#files[@]})) files and ${#docs[@]} documents, repeated..."
  : >"$img"
  local limit=$((size_mib * 1024 * 1024)) i=0 n=0 half
  while [ "$(stat -c %s "$img")" -lt "$limit" ]; do
    append "${files[i % ${#files[@]}]}"
    if [ "${#docs[@]}" -gt 0 ]; then
      local doc=${docs[n % ${#docs[@]}]}
      if [ $((n % 4)) -eq 3 ] && [ "$(stat -c %s "$doc")" -gt 8192 ]; then
        half=$(($(stat -c %s "$doc") / 8192 * 4096))
        head -c "$half" "$doc" | append
        i=$((i + 1))
        append "${files[i % ${#files[@]}]}"
        tail -c +$((half + 1)) "$doc" | append
      else
        append "$doc"
      fi
      n=$((n + 1))
    fi
    i=$((i + 1))
  done
  echo "wrote $i files and $n documents"
  settle_image
}

dense_mode() {
  image_from make_dense_image
  local bytes cat_s
  bytes=$(stat -c %s "$img")
  cat_s=$(time_cat)
  # No file system describes the image: its clusters are told, as for a
  # disk formatted since.
  time_rescue "$cli" --reason formatted --fs other --cluster 4K
  awk -v b="$bytes" -v c="$cat_s" -v s="$search_s" -v t="$total_s" 'BEGIN {
    printf "sequential read (cat):   %8.2f s  %8.1f MB/s\n", c, b / c / 1e6;
    printf "rescue, whole:           %8.2f s  %8.1f MB/s  (search %.2f s)\n", t, b / t / 1e6, s;
    printf "time rescue/cat:         %8.2f\n", t / c;
  }'
  tail -n 1 "$work/stdout"
  local rows
  rows=$(($(wc -l <"$work/out/rescue-report.csv") - 1))
  echo "report: $(grep -c ',whole,' "$work/out/rescue-report.csv" || true) of $rows rows whole"
  echo "${peak:-peak memory: unknown}"
  photorec_time
  keep_image
}

# PhotoRec (Debian's testdisk, its default file types) over the image,
# against cat_s.
photorec_time() {
  local cat_s
  cat_s=$(time_cat)
  if command -v photorec >/dev/null; then
    local t0 t1
    rm -rf "$work/out" "$work/photorec"
    mkdir "$work/photorec"
    t0=$(now)
    (cd "$work/photorec" && photorec /log /d "$work/photorec/f" /cmd "$img" search >/dev/null 2>&1 </dev/null) || true
    t1=$(now)
    awk -v c="$cat_s" -v a="$t0" -v b="$t1" -v k="$(find "$work/photorec" -type f ! -name report.xml ! -name photorec.log | wc -l)" 'BEGIN {
      printf "PhotoRec, whole:         %8.2f s  (%d files)\n", b - a, k;
      printf "time PhotoRec/cat:       %8.2f\n", (b - a) / c;
    }'
  else
    echo "PhotoRec: not installed (Debian package testdisk)"
  fi
}

# What writing the rescued files costs on its own: a copy of the rescue's
# folder to a fresh one beside it, file by file as the rescue writes them.
# No rescue of the image can take less than this.
written_floor() {
  local t0 t1 files
  files=$(find "$work/out" -type f | wc -l)
  [ "$files" -gt 1 ] || return 0
  rm -rf "$work/copy"
  t0=$(now)
  cp -r "$work/out" "$work/copy"
  t1=$(now)
  awk -v a="$t0" -v b="$t1" -v n="$files" -v m="$(du -sm "$work/out" | cut -f1)" 'BEGIN {
    printf "  writing the %d rescued files (%d MiB) alone, with cp: %.2f s\n", n, m, b - a;
  }'
  rm -rf "$work/copy"
}

# One cold pair: cat, rescue, rescue, cat, each from a dropped cache, and
# the mean of each two. The virtual disk of a test machine was seen to be
# fast and slow by turns, one read in two taking twice as long whoever read;
# in this order both cat and the rescue get one of each. Sets cat_s,
# total_s and search_s.
cold_pair() {
  local first_cat first_total first_search
  first_cat=$(time_cat_cold)
  drop_caches
  time_rescue "$cli" "$@"
  first_total=$total_s first_search=$search_s
  drop_caches
  time_rescue "$cli" "$@"
  cat_s=$(time_cat_cold)
  cat_s=$(awk -v a="$first_cat" -v b="$cat_s" 'BEGIN { print (a + b) / 2 }')
  total_s=$(awk -v a="$first_total" -v b="$total_s" 'BEGIN { print (a + b) / 2 }')
  search_s=$(awk -v a="$first_search" -v b="$search_s" 'BEGIN { print (a + b) / 2 }')
}

# Rescues of the image, cached (each after a read by cat) and cold (see
# cold_pair), BENCH_RUNS times (3 by default): prints each pair's figures and, for each measure,
# the median ratio to cat with the lowest and highest. A virtual disk's
# speed can double from one read to the next; the median of pairs is what
# holds. $1 names the image, the rest are the rescue's options.
measure_against_cat() {
  local what=$1
  shift
  local bytes cat_s k mode figures=$work/figures
  bytes=$(stat -c %s "$img")
  for mode in cached cold; do
    if [ "$mode" = cold ] && ! can_drop_caches; then
      echo "$what, cold: not measured (/proc/sys/vm/drop_caches is not writable)"
      continue
    fi
    : >"$figures"
    for ((k = 1; k <= ${BENCH_RUNS:-3}; k++)); do
      if [ "$mode" = cached ]; then
        cat_s=$(time_cat)
        time_rescue "$cli" "$@"
      else
        cold_pair "$@"
      fi
      echo "$cat_s $total_s $search_s" >>"$figures"
      awk -v k="$k" -v c="$cat_s" -v t="$total_s" -v s="$search_s" -v p="$peak" 'BEGIN {
        printf "  run %d: cat %.2f s; rescue %.2f s (speed/cat %.2f); search %.2f s (speed/cat %.2f); %s\n",
          k, c, t, c / t, s, c / s, p;
      }'
    done
    sort -n -k1 "$figures" | awk -v w="$what" -v m="$mode" -v b="$bytes" '
      function median(a, n,  i, j, x) {
        for (i = 2; i <= n; i++) { x = a[i]; for (j = i - 1; j >= 1 && a[j] > x; j--) a[j + 1] = a[j]; a[j + 1] = x }
        return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2;
      }
      { n++; cat[n] = $1; whole[n] = $1 / $2; search[n] = $1 / $3; lo_w = (n == 1 || whole[n] < lo_w) ? whole[n] : lo_w;
        hi_w = (n == 1 || whole[n] > hi_w) ? whole[n] : hi_w; lo_s = (n == 1 || search[n] < lo_s) ? search[n] : lo_s;
        hi_s = (n == 1 || search[n] > hi_s) ? search[n] : hi_s }
      END {
        c = median(cat, n);
        printf "%s, %s: cat %.2f s (%.0f MB/s); whole rescue speed/cat %.2f (%.2f-%.2f); search speed/cat %.2f (%.2f-%.2f); medians of %d\n",
          w, m, c, b / c / 1e6, median(whole, n), lo_w, hi_w, median(search, n), lo_s, hi_s, n;
      }'
    [ "$mode" = cold ] || written_floor
  done
}

# Peak memory of whole rescues of sparse images (zeros throughout: nothing
# is found, so the claim map holds nothing), against the claim map a
# source of that size would need in full.
sparse_memory() {
  local gib
  for gib in 2 64; do
    rm -f "$img"
    truncate -s "${gib}G" "$img"
    time_rescue "$cli"
    awk -v g="$gib" -v p="$peak" 'BEGIN {
      printf "sparse %d GiB: %s (a full claim map would take %d KiB)\n", g, p, g * 256;
    }'
  done
}

# A FAT32 volume of $1 MiB in $work/fat.img where documents were written
# into the holes of deleted files, and then deleted themselves: their
# clusters keep their bytes in pieces, and no chain of the FAT leads to them.
make_fragmented_volume() {
  local vol=$work/fat.img mib=$1 k doc
  rm -f "$vol"
  truncate -s "${mib}M" "$vol"
  mkfs.vfat -F 32 -s 8 -n MIXED "$vol" >/dev/null
  export MTOOLS_SKIP_CHECK=1
  mmd -i "$vol" ::/fill ::/docs
  # Fillers of 12 clusters, every other one deleted: 48 KiB holes.
  head -c 49152 /dev/urandom >"$work/filler"
  for ((k = 0; k < 400; k++)); do
    mcopy -i "$vol" "$work/filler" "::/fill/f$k.bin"
  done
  for ((k = 0; k < 400; k += 2)); do
    mdel -i "$vol" "::/fill/f$k.bin"
  done
  k=0
  for doc in "$corpus"/doc/*.doc "$corpus"/xls/* "$corpus"/ooxml/*.docx; do
    [ $((k % 3)) -eq 0 ] || { k=$((k + 1)); continue; }
    mcopy -i "$vol" "$doc" "::/docs/d$k.$(echo "${doc##*.}" | tr a-z A-Z)"
    k=$((k + 1))
  done
  mdel -i "$vol" "::/docs/*"
  volume_docs=$((k / 3))
}

# The image of random data with files of every format at sector boundaries
# and a fragmented FAT32 volume in its last quarter, at no partition.
make_mixed_image() {
  make_files mkfs.vfat mcopy mdel mmd
  local files=("$work"/files/*) docs=()
  [ ! -d "$corpus/doc" ] || docs=("$corpus"/doc/*.doc)
  local vol_mib=$((size_mib / 4)) data_mib=$((size_mib - size_mib / 4))
  echo "making a ${size_mib} MiB image: ${data_mib} MiB of random data holding 400 files, then a ${vol_mib} MiB FAT32 volume..."
  head -c "$((data_mib * 1024 * 1024))" /dev/urandom >"$img"
  # 400 places spread evenly, each a sector further into its slot than the
  # last, so that files start on every sector phase of a cluster.
  local slot=$((data_mib * 2048 / 400)) k file
  for ((k = 0; k < 400; k++)); do
    if [ $((k % 5)) -eq 4 ] && [ "${#docs[@]}" -gt 0 ]; then
      file=${docs[(k / 5) % ${#docs[@]}]}
    else
      file=${files[k % ${#files[@]}]}
    fi
    dd if="$file" of="$img" bs=512 seek=$((k * slot + k % 8)) conv=notrunc status=none
  done
  make_fragmented_volume "$vol_mib"
  dd if="$work/fat.img" of="$img" bs=1M seek="$data_mib" conv=notrunc status=none
  rm -f "$work/fat.img" "$work/filler"
  echo "placed 400 files (${#files[@]} kinds and documents) and $volume_docs documents in pieces on the volume"
  settle_image
}

# PhotoRec over the whole space with OLE and ZIP files alone (documents),
# its options given on the command line; sets photorec_s and photorec_files.
time_photorec_documents() {
  local t0 t1
  rm -rf "$work/photorec"
  mkdir "$work/photorec"
  t0=$(now)
  (cd "$work/photorec" && photorec /log /d "$work/photorec/f" /cmd "$img" \
    fileopt,everything,disable,doc,enable,zip,enable,wholespace,search >/dev/null 2>&1 </dev/null) || true
  t1=$(now)
  photorec_s=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
  photorec_files=$(find "$work/photorec" -type f ! -name report.xml ! -name photorec.log | wc -l)
}

mixed_mode() {
  command -v photorec >/dev/null || { echo "needs photorec (Debian package testdisk)" >&2; exit 1; }
  image_from make_mixed_image
  local bytes cat_s types=doc,docx,xls,xlsx,ppt,pptx,odt
  bytes=$(stat -c %s "$img")
  cat_s=$(time_cat)
  time_rescue "$cli" --types "$types"
  local rescued rows whole
  rescued=$(tail -n 1 "$work/stdout")
  rows=$(($(wc -l <"$work/out/rescue-report.csv") - 1))
  whole=$(grep -c ',whole,' "$work/out/rescue-report.csv" || true)
  time_photorec_documents
  awk -v b="$bytes" -v c="$cat_s" -v s="$search_s" -v t="$total_s" -v p="$photorec_s" -v k="$photorec_files" 'BEGIN {
    printf "sequential read (cat):   %8.2f s  %8.1f MB/s\n", c, b / c / 1e6;
    printf "rescue, whole:           %8.2f s  %8.1f MB/s  (search %.2f s)\n", t, b / t / 1e6, s;
    printf "PhotoRec, documents:     %8.2f s  (%d files)\n", p, k;
    printf "rescue speed/cat:        %8.2f  (held to >= 0.5)\n", c / t;
    printf "search speed/cat:        %8.2f  (held to >= 1.0)\n", c / s;
    printf "rescue speed/PhotoRec:   %8.2f  (held to >= 3)\n", p / t;
  }'
  echo "$rescued; report: $whole of $rows rows whole"
  echo "${peak:-peak memory: unknown}"
  keep_image
}

all_mode() {
  make_dense_image
  measure_against_cat "dense ${size_mib} MiB" --reason formatted --fs other --cluster 4K
  echo "report: $(grep -c ',whole,' "$work/out/rescue-report.csv" || true) of $(($(wc -l <"$work/out/rescue-report.csv") - 1)) rows whole"
  photorec_time
  make_random_image
  measure_against_cat "random ${size_mib} MiB"
  sparse_memory
}

case "$mode" in
  dense) dense_mode ;;
  all) all_mode ;;
  mixed) mixed_mode ;;
  *) search_mode ;;
esac
