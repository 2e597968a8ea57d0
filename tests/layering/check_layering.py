#!/usr/bin/env python3
"""The rules of the source tree's layers, checked on every include line:

- format readers (src/formats) use nothing of the engine but common/;
- the carving (src/rescue, all but the deep scan that runs a whole rescue
  and hands the saved documents to the report) never uses the report;
- the engine and the texts use no toolkit; the command-line tool uses no window;
- no source file of src/ is longer than 500 lines.

Prints every breach and exits non-zero when there is one.
"""
import os
import re
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
LONGEST = 500
ENGINE = ("access", "backup", "common", "formats", "output", "report", "rescue", "texts", "viewer")


def sources(folder):
    for base, _, names in os.walk(os.path.join(ROOT, folder)):
        for name in sorted(names):
            if name.endswith((".h", ".cpp")):
                yield os.path.relpath(os.path.join(base, name), ROOT)


def includes(path):
    with open(os.path.join(ROOT, path), encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            match = INCLUDE.match(line)
            if match:
                yield number, match.group(1), match.group(2)


def breaches():
    for path in sources("src"):
        layer = path.split(os.sep)[1]
        with open(os.path.join(ROOT, path), encoding="utf-8") as f:
            lines = sum(1 for _ in f)
        if lines > LONGEST:
            yield f"{path}: {lines} lines, more than {LONGEST}"
        for number, kind, name in includes(path):
            where = f"{path}:{number}: includes {name}"
            if kind == '"' and layer == "formats" and not name.startswith(("common/", "formats/")):
                yield where + ": a format reader uses only common/ and formats/"
            if (kind == '"' and layer == "rescue" and name.startswith("report/")
                    and not os.path.basename(path).startswith("deep_scan.")):
                yield where + ": the carving never uses the report"
            if layer in ENGINE and kind == "<" and re.match(r"Q[A-Za-z]*(/|$)", name):
                yield where + ": the engine and the texts use no toolkit"
    for path in sources("app/cli"):
        for number, kind, name in includes(path):
            if kind == '"' and name.startswith("ui/"):
                yield f"{path}:{number}: includes {name}: the command-line tool uses no window"


def main():
    found = list(breaches())
    for breach in found:
        print(breach)
    if found:
        sys.exit(f"{len(found)} breaches of the layering rules")
    print("layering rules hold")


if __name__ == "__main__":
    main()
