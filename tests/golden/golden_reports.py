#!/usr/bin/env python3
"""Golden rescue reports: images built from the test corpus, rescued by the
command-line tool, and their rescue-report.csv compared with the one kept
beside this script.

A report records what a rescue found, what it wrote, the verdicts and the
runs each file came from, so any change in what the carvers, the reassembly
or the checks decide shows up as a difference here. An intended change is
recorded with --update and named in its commit.

  golden_reports.py --cli PATH [--update] [--busy] [--only NAME]

--busy keeps every core spinning in other processes during the rescues: the
reports must not change with the machine's load.
"""
import argparse
import difflib
import hashlib
import multiprocessing
import os
import random
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "..", "corpus")
SECTOR = 512
CLUSTER = 4096


def corpus_files(*folders):
    files = []
    for folder in folders:
        path = os.path.join(CORPUS, folder)
        files += [os.path.join(path, name) for name in sorted(os.listdir(path))]
    return files


def read(path):
    with open(path, "rb") as f:
        return f.read()


def filler(rng, size):
    return rng.randbytes(size)


def pad_to(data, unit):
    return data + b"\0" * (-len(data) % unit)


def contiguous(rng):
    """Every document of the corpus in one piece, cluster-aligned, with a
    little random data between them."""
    image = bytearray(filler(rng, 64 * SECTOR))
    for path in corpus_files("doc", "doc-malformed", "xls", "ppt", "ooxml", "other-ole"):
        image += pad_to(read(path), CLUSTER)
        image += filler(rng, CLUSTER * rng.randint(1, 3))
    return image


def odd_sectors(rng):
    """Documents starting at sectors that are no cluster's start."""
    image = bytearray(filler(rng, 3 * SECTOR))
    for path in corpus_files("doc")[::3] + corpus_files("ooxml")[::2]:
        image += pad_to(read(path), SECTOR)
        image += filler(rng, SECTOR * rng.choice([1, 3, 5, 7]))
    return image


def fragmented(rng):
    """Documents in two or three pieces, the pieces of one document apart
    and among random data and other documents' pieces."""
    documents = [read(p) for p in corpus_files("doc", "xls", "ppt")]
    documents = [d for d in documents if 8 * CLUSTER <= len(d) <= 160 * CLUSTER][:14]
    pieces = []
    for index, document in enumerate(documents):
        clusters = len(pad_to(document, CLUSTER)) // CLUSTER
        cuts = sorted(rng.sample(range(1, clusters), min(clusters - 1, rng.choice([1, 2]))))
        bounds = [0] + [c * CLUSTER for c in cuts] + [len(pad_to(document, CLUSTER))]
        padded = pad_to(document, CLUSTER)
        for order, (a, b) in enumerate(zip(bounds, bounds[1:])):
            pieces.append((index, order, padded[a:b]))
    # Each document's first piece comes first; later pieces follow after
    # other documents' pieces and a gap of random clusters.
    pieces.sort(key=lambda p: (p[1], p[0]))
    image = bytearray(filler(rng, 8 * CLUSTER))
    for _, _, data in pieces:
        image += data
        image += filler(rng, CLUSTER * rng.randint(1, 6))
    return image


def two_pieces(rng):
    """Documents in two pieces with a few clusters of random data between
    them, one document after another."""
    image = bytearray(filler(rng, 8 * CLUSTER))
    for path in corpus_files("doc")[2::5] + corpus_files("xls")[::4]:
        data = pad_to(read(path), CLUSTER)
        clusters = len(data) // CLUSTER
        if clusters < 4:
            continue
        cut = rng.randrange(2, clusters) * CLUSTER
        image += data[:cut] + filler(rng, CLUSTER * rng.randint(1, 4)) + data[cut:]
        image += filler(rng, CLUSTER * rng.randint(1, 2))
    return image


def damaged(rng):
    """Documents with clusters overwritten by random data."""
    image = bytearray(filler(rng, 8 * CLUSTER))
    for path in corpus_files("doc")[1::4] + corpus_files("ooxml")[1::3]:
        data = bytearray(pad_to(read(path), CLUSTER))
        clusters = len(data) // CLUSTER
        if clusters > 2:
            hit = rng.randrange(1, clusters)
            data[hit * CLUSTER:(hit + 1) * CLUSTER] = filler(rng, CLUSTER)
        image += data + filler(rng, CLUSTER * rng.randint(1, 2))
    return image


IMAGES = {"contiguous": contiguous, "odd-sectors": odd_sectors, "fragmented": fragmented, "two-pieces": two_pieces,
          "damaged": damaged}


def spin():
    while True:
        pass


def rescue(cli, name, work):
    image = os.path.join(work, name + ".img")
    with open(image, "wb") as f:
        f.write(IMAGES[name](random.Random(name)))
    out = os.path.join(work, name + "-out")
    os.mkdir(out)
    done = subprocess.run([cli, "rescue", image, out], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if done.returncode != 0:
        raise SystemExit(f"{name}: vellumark-cli rescue exited {done.returncode}:\n{done.stdout.decode()}")
    with open(os.path.join(out, "rescue-report.csv"), encoding="utf-8") as f:
        return f.read().replace(out, "OUT")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--update", action="store_true")
    parser.add_argument("--busy", action="store_true")
    parser.add_argument("--only")
    args = parser.parse_args()
    spinners = []
    if args.busy:
        spinners = [multiprocessing.Process(target=spin, daemon=True) for _ in range(os.cpu_count() or 2)]
        for p in spinners:
            p.start()
    failed = []
    try:
        with tempfile.TemporaryDirectory(prefix="vellumark-golden-") as work:
            for name in IMAGES:
                if args.only and name != args.only:
                    continue
                report = rescue(args.cli, name, work)
                golden = os.path.join(HERE, name + ".csv")
                if args.update:
                    with open(golden, "w", encoding="utf-8") as f:
                        f.write(report)
                    print(f"{name}: recorded, {report.count(chr(10)) - 1} rows")
                    continue
                with open(golden, encoding="utf-8") as f:
                    expected = f.read()
                if report == expected:
                    print(f"{name}: same as the golden report")
                    continue
                failed.append(name)
                sys.stdout.writelines(difflib.unified_diff(expected.splitlines(True), report.splitlines(True),
                                                           golden, name + " now"))
    finally:
        for p in spinners:
            p.terminate()
    if failed:
        raise SystemExit("reports differ from the golden ones: " + ", ".join(failed))


if __name__ == "__main__":
    main()
