#!/usr/bin/env python3
"""What the reassembly of fragmented documents costs.

Builds two FAT32 volumes with mkfs.vfat and mtools holding the same Word
documents of the corpus and the same kept files no carver recognises (text,
HTML, source code, headless binary data):

  dense       every document written in pieces into the holes between the
              kept files, so that each must be reassembled;
  contiguous  every document in one piece, the kept files between documents,
              so that the plain rebuild brings each back and no reassembly is
              ever tried.

It times the rescue of each (best of --repeat runs), prints the whole runs,
the extra time per reassembled document (dense minus contiguous, over the
documents), and how many came back whole, reassembled, or as partial text.
With --baseline CLI (a build from before the reassembly, say) it also times
that build on the contiguous volume: a disk with no fragmented documents
must not be slower.

With --probe PROBE (build/release/reassembly_probe), it measures instead
the cost of one document's reassembly: documents of several sizes, whole
or with one cluster overwritten by a text file (so that the search ends in
partial text, its hardest case), each in three pieces on a FAT32 volume,
the image then grown to two and four times its size around it. For each,
the placements the search evaluated and its time, against the document's
clusters and the image's size: the count must not change with the image.

    bench/reassembly_cost.py CLI [--baseline CLI] [--documents 24] [--pieces 5] [--repeat 3]
    bench/reassembly_cost.py CLI --probe PROBE
"""
import argparse
import csv
import os
import random
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
from fragmented_share import CLUSTER_HINT_OFFSET, foreign_bytes, split  # noqa: E402

CLUSTER = 4096


def mtools(*args):
    subprocess.run(list(args), check=True, env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))


def build(image, documents, pieces, work, rng):
    """documents in pieces (pieces 1: contiguous), each piece followed by a
    kept file, all deleted at the end."""
    subprocess.run(["mkfs.vfat", "-C", "-F", "32", "-s", "8", image, "400000"], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    kinds = ["text", "html", "code", "binary"]
    for d, document in enumerate(documents):
        size = os.path.getsize(document)
        clusters = (size + CLUSTER - 1) // CLUSTER
        parts = split(clusters, min(pieces, clusters), rng) if pieces > 1 else [clusters]
        holes = []
        for i, part in enumerate(parts):
            hole = os.path.join(work, f"H{d}_{i}")
            with open(hole, "wb") as f:
                f.write(b"\0" * (part * CLUSTER))
            kept = os.path.join(work, f"K{d}_{i}")
            with open(kept, "wb") as f:
                f.write(foreign_bytes(kinds[i % 4], rng.randint(1, 3) * CLUSTER - rng.randint(0, CLUSTER // 2), rng))
            mtools("mcopy", "-i", image, hole, f"::H{d}_{i}")
            mtools("mcopy", "-i", image, kept, f"::K{d}_{i}.{kinds[i % 4][:3]}")
            holes.append(f"::H{d}_{i}")
        mtools("mdel", "-i", image, *holes)
        with open(image, "r+b") as f:
            f.seek(CLUSTER_HINT_OFFSET)
            f.write(b"\xff\xff\xff\xff")
        mtools("mcopy", "-i", image, document, f"::D{d}.DOC")
        # A kept file after the document, so that the next one's holes come after it.
        kept = os.path.join(work, f"T{d}")
        with open(kept, "wb") as f:
            f.write(foreign_bytes("text", CLUSTER, rng))
        mtools("mcopy", "-i", image, kept, f"::T{d}.txt")
    # Deleted only now: the holes of the next document must not take its clusters.
    mtools("mdel", "-i", image, *(f"::D{d}.DOC" for d in range(len(documents))))


def rescue(cli, image, work, repeat):
    """Best wall time of repeat runs, and the last run's report rows."""
    best = None
    rows = []
    for r in range(repeat):
        out = os.path.join(work, f"out{time.monotonic_ns()}")
        os.makedirs(out)
        start = time.monotonic()
        subprocess.run([cli, "rescue", image, out + "/"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        elapsed = time.monotonic() - start
        best = elapsed if best is None else min(best, elapsed)
        report = os.path.join(out, "rescue-report.csv")
        if os.path.exists(report):
            with open(report, encoding="utf-8-sig", newline="") as f:
                rows = list(csv.DictReader(f))
    return best, rows


def summary(rows):
    whole = sum(1 for r in rows if r["verdict"] == "whole")
    reassembled = sum(1 for r in rows if r.get("rebuilt") == "reassembled")
    partial = sum(1 for r in rows if r["verdict"] == "partial")
    return f"{whole} whole ({reassembled} reassembled), {partial} partial text"


PROBE_DOCUMENTS = ["47304.doc", "52420.doc", "Bug52032_3.doc", "parentinvguid.doc", "Bug50955.doc", "Bug47731.doc",
                   "ca.kwsymphony.www_education_School_Concert_Seat_Booking_Form_2011-12.doc"]


def header_sector(image):
    """The first sector holding a compound file's signature after the volume's own sectors."""
    signature = bytes.fromhex("D0CF11E0A1B11AE1")
    with open(image, "rb") as f:
        sector = 0
        while True:
            block = f.read(1 << 20)
            if not block:
                return None
            for at in range(0, len(block), 512):
                if block[at:at + 8] == signature:
                    return sector + at // 512
            sector += len(block) // 512


def per_document(probe, corpus, work):
    from fragmented_share import build_volume
    print(f"{'document':<28} {'clusters':>8} {'damaged':>7} {'image MiB':>9} {'placements':>11} {'seconds':>8}  result")
    for n, name in enumerate(PROBE_DOCUMENTS):
        path = os.path.join(corpus, name)
        if not os.path.exists(path):
            continue
        for damaged in (False, True):
            data = bytearray(open(path, "rb").read())
            clusters = (len(data) + CLUSTER - 1) // CLUSTER
            if damaged:
                rng = random.Random(n)
                at = rng.randint(1, clusters - 1) * CLUSTER
                data[at:at + CLUSTER] = foreign_bytes("text", CLUSTER, rng)[:len(data) - at]
            document = os.path.join(work, "document.doc")
            open(document, "wb").write(data)
            image = os.path.join(work, "v.img")
            if os.path.exists(image):
                os.remove(image)
            build_volume(image, document, 3, 8, 32, random.Random(n), work)
            header = header_sector(image)
            size = os.path.getsize(image)
            for grow in (1, 2, 4):
                os.truncate(image, size * grow)
                said = subprocess.run([probe, image, str(header), "8"], capture_output=True, text=True).stdout.split()
                print(f"{name[:28]:<28} {clusters:>8} {str(damaged):>7} {size * grow >> 20:>9} {said[1]:>11} {said[3]:>8}  {said[5]}",
                      flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cli")
    parser.add_argument("--baseline")
    parser.add_argument("--corpus", default=os.path.join(os.path.dirname(__file__), "../tests/corpus/doc"))
    parser.add_argument("--documents", type=int, default=24)
    parser.add_argument("--largest", type=int, default=120_000)
    parser.add_argument("--pieces", type=int, default=5)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--probe")
    args = parser.parse_args()
    if args.probe:
        with tempfile.TemporaryDirectory() as work:
            per_document(args.probe, args.corpus, work)
        return
    names = sorted(n for n in os.listdir(args.corpus)
                   if n.lower().endswith(".doc") and "assword" not in n
                   and os.path.getsize(os.path.join(args.corpus, n)) <= args.largest)
    documents = [os.path.join(args.corpus, n) for n in random.Random(17).sample(names, min(args.documents, len(names)))]
    with tempfile.TemporaryDirectory() as work:
        dense = os.path.join(work, "dense.img")
        contiguous = os.path.join(work, "contiguous.img")
        build(dense, documents, args.pieces, work, random.Random(1))
        build(contiguous, documents, 1, work, random.Random(1))
        subprocess.run(["cat", dense, contiguous], stdout=subprocess.DEVNULL)  # both read from the cache
        t_dense, rows_dense = rescue(args.cli, dense, work, args.repeat)
        t_plain, rows_plain = rescue(args.cli, contiguous, work, args.repeat)
        n = len(documents)
        print(f"{n} documents, {args.pieces} pieces each on the dense volume, 4 KiB clusters, FAT32, best of {args.repeat}")
        print(f"dense (fragmented)    {t_dense:7.2f} s   {summary(rows_dense)}")
        print(f"contiguous            {t_plain:7.2f} s   {summary(rows_plain)}")
        print(f"reassembly            {t_dense - t_plain:7.2f} s in all, {1000 * (t_dense - t_plain) / n:6.1f} ms a document,"
              f" {100 * max(t_dense - t_plain, 0) / t_dense:4.1f}% of the dense run")
        if args.baseline:
            t_base, rows_base = rescue(args.baseline, contiguous, work, args.repeat)
            print(f"contiguous, baseline  {t_base:7.2f} s   {summary(rows_base)}"
                  f"   ({100 * (t_plain - t_base) / t_base:+.1f}% this build)")


if __name__ == "__main__":
    main()
