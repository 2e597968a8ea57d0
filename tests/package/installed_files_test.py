#!/usr/bin/env python3
"""What `cmake --install --prefix /usr` puts on a Debian system is what the
system's own tools accept, and the manual page says what the program does.

Installs the build into a scratch DESTDIR, then:
  - the menu entry passes desktop-file-validate, and its program and icon are
    among the installed files;
  - the AppStream metainfo passes `appstreamcli validate --no-net` (alone and
    with the tree it is installed in), and the menu entry and programs it
    names are installed;
  - the manual pages, installed gzip-compressed, pass groff's warnings and
    mandoc's lint, and vellumark-cli's page names every command, option and
    exit status that `vellumark-cli --help` lists (so that a status or option
    added to the program without its page fails here).

Usage: installed_files_test.py CMAKE BUILD_DIR
Exit status: 0 passed, 1 failed, 77 skipped (a tool missing; under
VELLUMARK_REQUIRE_TOOLS a missing tool fails instead).
"""

import glob
import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
TOOLS = ["desktop-file-validate", "appstreamcli", "groff", "mandoc"]

failures = []


def fail(what):
    failures.append(what)
    print("FAIL: " + what, file=sys.stderr)


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, **kwargs)


def check_tool(args, what):
    result = run(args)
    output = (result.stdout + result.stderr).strip()
    if result.returncode != 0:
        fail(f"{what}: exit status {result.returncode}\n{output}")
    return output


def installed(root, path):
    return os.path.join(root, path.lstrip("/"))


def check_desktop_entry(root):
    entries = glob.glob(installed(root, "/usr/share/applications/*.desktop"))
    if len(entries) != 1:
        fail(f"one menu entry expected, found {entries}")
        return None
    entry = entries[0]
    check_tool(["desktop-file-validate", entry], "desktop-file-validate")
    keys = dict(line.strip().split("=", 1) for line in open(entry, encoding="utf-8") if "=" in line)
    program = keys.get("Exec", "").split()[0] if keys.get("Exec") else ""
    if not os.access(installed(root, "/usr/bin/" + program), os.X_OK):
        fail(f"the menu entry starts '{program}', which is not installed in /usr/bin")
    icon = keys.get("Icon", "")
    if not glob.glob(installed(root, f"/usr/share/icons/hicolor/*/apps/{icon}.*")):
        fail(f"the menu entry's icon '{icon}' is not installed")
    for key in ["Name", "Comment", "Keywords"]:
        for language in ["zh_CN", "zh_TW"]:
            if f"{key}[{language}]" not in keys:
                fail(f"the menu entry has no {key}[{language}]")
    return os.path.basename(entry)


def check_metainfo(root, desktop_id):
    files = glob.glob(installed(root, "/usr/share/metainfo/*.metainfo.xml"))
    if len(files) != 1:
        fail(f"one metainfo file expected, found {files}")
        return
    metainfo = files[0]
    check_tool(["appstreamcli", "validate", "--no-net", metainfo], "appstreamcli validate")
    # The tree as a whole: the metainfo with the menu entry and icon it names.
    check_tool(["appstreamcli", "validate-tree", "--no-net", root], "appstreamcli validate-tree")
    text = open(metainfo, encoding="utf-8").read()
    launchable = re.findall(r'<launchable type="desktop-id">([^<]*)</launchable>', text)
    if launchable != [desktop_id]:
        fail(f"the metainfo launches {launchable}, the installed menu entry is {desktop_id}")
    for binary in re.findall(r"<binary>([^<]*)</binary>", text):
        if not os.access(installed(root, "/usr/bin/" + binary), os.X_OK):
            fail(f"the metainfo provides '{binary}', which is not installed in /usr/bin")
    component_id = re.search(r"<id>([^<]*)</id>", text).group(1)
    if os.path.basename(metainfo) != component_id + ".metainfo.xml":
        fail(f"{os.path.basename(metainfo)} is not named after its component id {component_id}")


def render(page):
    """The page as plain text, as a terminal shows it."""
    result = run(["groff", "-man", "-Tascii", "-ww", "-P-c", "-P-b", "-P-u"], input=page)
    if result.returncode != 0 or result.stderr.strip():
        fail(f"groff warns:\n{result.stderr.strip()}")
    return result.stdout


def section(text, title):
    match = re.search(r"^" + re.escape(title) + r"\n(.*?)(?=^\S|\Z)", text, re.M | re.S)
    return match.group(1) if match else ""


def check_manual_pages(root, cli):
    pages = {}
    for name in ["vellumark.1", "vellumark-cli.1"]:
        path = installed(root, "/usr/share/man/man1/" + name + ".gz")
        if not os.path.isfile(path):
            fail(f"{name}.gz is not installed in /usr/share/man/man1")
            continue
        with gzip.open(path, "rt", encoding="utf-8") as compressed:
            page = compressed.read()
        lint = run(["mandoc", "-T", "lint", "-W", "style"], input=page)
        if lint.returncode != 0 or lint.stdout.strip() or lint.stderr.strip():
            fail(f"mandoc -T lint on {name}:\n{lint.stdout}{lint.stderr}")
        pages[name] = render(page)

    text = pages.get("vellumark-cli.1")
    if text is None:
        return
    help_text = run([cli, "--help"], env={**os.environ, "LANG": "C", "LC_ALL": "C"}).stdout
    commands = re.findall(r"^  ([a-z]+) [A-Z]", section_of_help(help_text, "Commands:"), re.M)
    statuses = re.findall(r"^  (\d+) ", section_of_help(help_text, "Exit status:"), re.M)
    options = sorted(set(re.findall(r"(?<![\w-])(--[a-z][a-z-]*|-[a-z])\b", help_text)))
    if not commands or not statuses or not options:
        fail(f"cannot read the commands, options or exit statuses from --help:\n{help_text}")
        return
    listed_commands = section(text, "COMMANDS")
    for command in commands:
        if not re.search(r"^\s+" + command + r"\b", listed_commands, re.M):
            fail(f"the manual page's COMMANDS do not describe '{command}'")
    listed_options = section(text, "OPTIONS")
    for option in options:
        if not re.search(r"(?<![\w-])" + re.escape(option) + r"\b", listed_options):
            fail(f"the manual page's OPTIONS do not describe '{option}'")
    listed_statuses = section(text, "EXIT STATUS")
    for status in statuses:
        if not re.search(r"^\s+" + status + r"\s", listed_statuses, re.M):
            fail(f"the manual page's EXIT STATUS does not list {status}")
    extra = set(re.findall(r"^ {7}(\d+)\s", listed_statuses, re.M)) - set(statuses)
    if extra:
        fail(f"the manual page lists exit statuses {sorted(extra)} that --help does not")


def section_of_help(help_text, heading):
    match = re.search(r"^" + re.escape(heading) + r"\n(.*?)(?=^\S|\Z)", help_text, re.M | re.S)
    return match.group(1) if match else ""


def main():
    cmake, build = sys.argv[1], sys.argv[2]
    missing = [tool for tool in TOOLS if shutil.which(tool) is None]
    if missing:
        print("missing: " + ", ".join(missing) + " (apt-get install desktop-file-utils appstream groff mandoc)",
              file=sys.stderr)
        return 1 if os.environ.get("VELLUMARK_REQUIRE_TOOLS") else SKIP
    with tempfile.TemporaryDirectory(prefix="vellumark-install-") as root:
        result = run([cmake, "--install", build, "--prefix", "/usr"], env={**os.environ, "DESTDIR": root})
        if result.returncode != 0:
            fail(f"cmake --install failed:\n{result.stdout}{result.stderr}")
            return 1
        for path in ["/usr/bin/vellumark", "/usr/bin/vellumark-cli", "/usr/share/doc/vellumark/help.html",
                     "/usr/share/doc/vellumark/help.zh_CN.html", "/usr/share/doc/vellumark/help.zh_TW.html",
                     "/usr/share/doc/vellumark/copyright", "/usr/share/doc/vellumark/changelog.Debian.gz"]:
            if not os.path.isfile(installed(root, path)):
                fail(f"{path} is not installed")
        desktop_id = check_desktop_entry(root)
        check_metainfo(root, desktop_id)
        check_manual_pages(root, installed(root, "/usr/bin/vellumark-cli"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
