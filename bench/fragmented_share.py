#!/usr/bin/env python3
"""Share of fragmented Word documents that come back byte-identical.

Builds FAT volumes with mkfs.vfat and mtools on which each document of the
corpus is written into the holes between kept files, in a chosen number of
pieces, deletes it, runs the rescue and counts the documents that come back
byte for byte, by number of pieces and by what the kept files between the
pieces hold:

  mixed      files no carver recognises (text, HTML, source code, headless
             binary data), in turn
  random     random bytes
  zeros      zeros
  documents  other documents of the corpus, whole

    bench/fragmented_share.py CLI [--format doc|docx] [--corpus DIR]
                              [--pieces 2,3,5,10,20,60] [--between mixed,random,zeros,documents]
                              [--limit N] [--cluster-sectors 8] [--fat 32]

For .docx (and .odt) the documents of the corpus are small, so 512-byte
clusters (--cluster-sectors 1) let them lie in many pieces.
"""
import argparse
import hashlib
import os
import random
import subprocess
import sys
import tempfile

CLUSTER_HINT_OFFSET = 512 + 492  # FSInfo's next-free cluster, FAT32 only


def foreign_bytes(kind, size, rng):
    if kind == "text":
        lines = (f"Line {i}: the minutes of the meeting, item {rng.randint(1, 99)}\n" for i in range(10**6))
    elif kind == "html":
        lines = (f"<p class=\"x{i}\">Paragraph {i} of the page</p>\n" for i in range(10**6))
    elif kind == "code":
        lines = (f"int step{i}(int x) {{ return x * {rng.randint(2, 9)} + {i}; }}\n" for i in range(10**6))
    else:
        return bytes(rng.getrandbits(8) for _ in range(size))
    out = bytearray()
    for line in lines:
        if len(out) >= size:
            break
        out += line.encode()
    return bytes(out[:size])


def kept_bytes(between, index, size, rng, others):
    """What the kept file after piece index holds."""
    if between == "mixed":
        return foreign_bytes(["text", "html", "code", "binary"][index % 4], size, rng)
    if between == "random":
        return foreign_bytes("binary", size, rng)
    if between == "zeros":
        return b"\0" * size
    return open(others[index % len(others)], "rb").read()


def split(total, pieces, rng):
    """total clusters into pieces positive parts, some of a single cluster."""
    pieces = max(1, min(pieces, total))
    cuts = sorted(rng.sample(range(1, total), pieces - 1))
    bounds = [0] + cuts + [total]
    return [b - a for a, b in zip(bounds, bounds[1:])]


def build_volume(image, document, pieces, cluster_sectors, fat, rng, work, between="mixed", others=(), name="DOC.DOC"):
    cluster = cluster_sectors * 512
    data = open(document, "rb").read()
    clusters = (len(data) + cluster - 1) // cluster
    parts = split(clusters, pieces, rng)
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    # FAT32 wants 65,525 clusters at least; the image is sparse.
    size_kib = max(300000, 70000 * cluster_sectors // 2) if fat == 32 else 120000
    subprocess.run(["mkfs.vfat", "-C", "-F", str(fat), "-s", str(cluster_sectors), image, str(size_kib)],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    kinds = ["text", "html", "code", "binary"]
    holes = []
    for i, part in enumerate(parts):
        hole = os.path.join(work, f"H{i}")
        with open(hole, "wb") as f:
            f.write(b"\0" * (part * cluster))
        kept = os.path.join(work, f"K{i}")
        with open(kept, "wb") as f:
            f.write(kept_bytes(between, i, rng.randint(1, 3) * cluster - rng.randint(0, cluster // 2), rng, others))
        subprocess.run(["mcopy", "-i", image, hole, f"::H{i}"], check=True, env=env)
        subprocess.run(["mcopy", "-i", image, kept, f"::K{i}.{kinds[i % 4][:3]}"], check=True, env=env)
        holes.append(f"::H{i}")
    subprocess.run(["mdel", "-i", image] + holes, check=True, env=env)
    if fat == 32:
        with open(image, "r+b") as f:
            f.seek(CLUSTER_HINT_OFFSET)
            f.write(b"\xff\xff\xff\xff")
    subprocess.run(["mcopy", "-i", image, document, "::" + name], check=True, env=env)
    subprocess.run(["mdel", "-i", image, "::" + name], check=True, env=env)
    return len(parts)


def fat_length(data):
    """The bytes up to the last sector the compound file's FAT has in use:
    all a rescue can give back (writers may leave unused sectors after it)."""
    import struct
    fat_count, = struct.unpack_from("<I", data, 44)
    sectors = list(struct.unpack_from("<109I", data, 76))[:fat_count]
    difat, = struct.unpack_from("<I", data, 68)
    while len(sectors) < fat_count and difat < 0xFFFFFFFA:
        entries = struct.unpack_from("<128I", data, (difat + 1) * 512)
        sectors += list(entries[:127])[:fat_count - len(sectors)]
        difat = entries[127]
    fat = []
    for s in sectors:
        fat += struct.unpack_from("<128I", data, (s + 1) * 512)
    last = max(i for i, v in enumerate(fat) if v != 0xFFFFFFFF)
    return (last + 2) * 512


def rescued_identical(cli, image, out, document):
    os.makedirs(out)
    subprocess.run([cli, "rescue", image, out, "--last", "40000"], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    data = open(document, "rb").read()
    compound = data[:8] == bytes.fromhex("d0cf11e0a1b11ae1")
    want = hashlib.sha256(data[:fat_length(data)] if compound else data).hexdigest()
    for folder, _, names in os.walk(out):
        for name in names:
            if hashlib.sha256(open(os.path.join(folder, name), "rb").read()).hexdigest() == want:
                return True
    return False


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cli")
    parser.add_argument("--format", choices=["doc", "docx"], default="doc")
    parser.add_argument("--corpus")
    parser.add_argument("--pieces", default="2,3,5,10,20,60")
    parser.add_argument("--between", default="mixed")
    parser.add_argument("--limit", type=int, default=20)
    parser.add_argument("--largest", type=int, default=400_000)
    parser.add_argument("--cluster-sectors", type=int, default=8)
    parser.add_argument("--fat", type=int, default=32)
    args = parser.parse_args()
    here = os.path.dirname(__file__)
    corpus = args.corpus or os.path.join(here, "../tests/corpus", "doc" if args.format == "doc" else "ooxml")
    extensions = (".doc",) if args.format == "doc" else (".docx", ".odt")
    everything = sorted(os.path.join(corpus, n) for n in os.listdir(corpus) if n.lower().endswith(extensions)
                        and "assword" not in n)
    documents = [d for d in everything if os.path.getsize(d) <= args.largest]
    rng = random.Random(17)
    documents = rng.sample(documents, min(args.limit, len(documents)))
    # Whole documents between the pieces: small ones of the other format.
    other = os.path.join(here, "../tests/corpus", "ooxml" if args.format == "doc" else "doc")
    others = sorted(os.path.join(other, n) for n in os.listdir(other)
                    if n.lower().endswith((".doc", ".docx")) and os.path.getsize(os.path.join(other, n)) < 20_000)
    print(f"pieces  between    back/total  ({len(documents)} .{args.format} documents, "
          f"{args.cluster_sectors * 512 / 1024:g} KiB clusters, FAT{args.fat})")
    for between in args.between.split(","):
        for wanted in (int(p) for p in args.pieces.split(",")):
            back = total = 0
            for i, document in enumerate(documents):
                with tempfile.TemporaryDirectory() as work:
                    image = os.path.join(work, "v.img")
                    pieces = build_volume(image, document, wanted, args.cluster_sectors, args.fat,
                                          random.Random(wanted * 1000 + i), work, between, others,
                                          "DOC." + args.format.upper())
                    if pieces < wanted:
                        continue
                    total += 1
                    if rescued_identical(args.cli, image, os.path.join(work, "out"), document):
                        back += 1
                    elif os.environ.get("SHOW_MISSES"):
                        print("  missed", os.path.basename(document), pieces, file=sys.stderr)
            print(f"{wanted:6}  {between:9}  {back:4}/{total:<4}  {100.0 * back / max(total, 1):5.1f}%", flush=True)


if __name__ == "__main__":
    main()
