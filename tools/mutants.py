#!/usr/bin/env python3
"""Plants small, realistic faults in a scratch copy of the tree, one at a
time, and reports which of them the fast suite lets through.

Each fault is a text replacement anchored on a short piece of code that
must occur exactly once.  Files move while the code is reworked: when a
fault's file is gone, its anchor is looked for in every source file of
plugins/ and molv/; a fault whose anchor is found nowhere (or more than
once) is reported as "not applied" rather than planted somewhere else.

The fast suite is every GoogleTest case without the testmodels label, run
with ctest -j2 until the first failure.  A test that fails there but passes
alone (a timing test on a busy machine) is left out from then on, and named
under the table.  Not part of CI: a run builds the
tree once and then once per fault (about 20 to 30 minutes on two cores).

    tools/mutants.py                 # every fault; prints a Markdown table
    tools/mutants.py --list          # the faults and whether they apply
    tools/mutants.py --only 3,7      # some of them
    tools/mutants.py --keep          # keep the scratch copy (its path is printed)
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# (where, file, anchor, replacement, the fault in words)
FAULTS = [
    ("mesh writer", "plugins/xwriter/mesh.cpp",
     "const int32_t k = winding ? i : n - 1 - i;\n        out.integer(",
     "const int32_t k = winding ? n - 1 - i : i;\n        out.integer(",
     "faces of more than 8 corners in reversed order"),
    ("vertex table", "plugins/xwriter/vertex_table.cpp",
     "a->normal[1] == b->normal[1] && a->normal[2] == b->normal[2]) {",
     "a->normal[1] == b->normal[1]) {",
     "merge ignores the normal's z"),
    ("header", "plugins/xwriter/header.cpp",
     "if (*p == '\\n' && p[1] != '\\0') {",
     "if (*p == '\\n' && p[1] == '\\0') {",
     "model information: flipped test for a further line"),
    ("header patch", "plugins/export/save_command.cpp",
     "patch_header(out, s.written_vertex_total);",
     "patch_header(out, s.surface_vertex_total);",
     "header total patched with the surface vertices (wrong total)"),
    ("numbers", "plugins/xwriter/numbers.cpp",
     "if (e < -a || digits_zero) {",
     "if (e <= -a || digits_zero) {",
     "fixed form drops the last decimal place allowed (off by one)"),
    ("numbers", "plugins/xwriter/numbers.cpp",
     "if (e < -4 || e >= kSignificantDigits) {",
     "if (e < -4 || e > kSignificantDigits) {",
     "short form keeps 1e6 positional (flipped bound)"),
    ("names", "plugins/xwriter/names.cpp",
     "c == ',' || c == ';' || c == '\"'",
     "c == ',' || c == '\"'",
     "identifier keeps ';'"),
    ("names", "plugins/xwriter/names.cpp",
     "name[0] >= '0' && name[0] <= '9'",
     "name[0] >= '0' && name[0] < '9'",
     "no '_' before a leading 9 (off by one)"),
    ("target file", "plugins/export/target_file.cpp",
     "  if (kind_ == Kind::kReplace && !temp_.empty()) ::unlinkat(folder_fd_, temp_.c_str(), 0);\n  close_all();",
     "  close_all();",
     "discard leaves the named temporary file (skipped removal)"),
    ("target file", "plugins/export/target_file.cpp",
     "if (st.st_nlink > 1) return open_in_place",
     "if (st.st_nlink > 2) return open_in_place",
     "a target of two hard links is replaced (off by one)"),
    ("target file", "plugins/export/target_file.cpp",
     "copy_all(fd_, target_fd_) &&\n            ::ftruncate(target_fd_, run.st_size) == 0 &&",
     "copy_all(fd_, target_fd_) &&",
     "a copy into a longer target keeps its old tail"),
    ("options file", "plugins/binding/options.cpp",
     "write_all(fd, g_options, kOptionCount)",
     "write_all(fd, g_options, kOptionCount - 1)",
     "options file saved without its last character (off by one)"),
    ("options file", "plugins/binding/options.cpp",
     "if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {",
     "if (::fstat(fd, &st) != 0) {",
     "options read from a pipe or device as well"),
    ("host import", "molv/import/assimp_builder.cpp",
     "model == aiShadingMode_Flat)",
     "model != aiShadingMode_Flat)",
     "flat and smooth materials swapped (flipped comparison)"),
    ("host import", "molv/import/assimp_builder.cpp",
     "return std::to_string(place);",
     "return std::to_string(place + 1);",
     "unnamed meshes counted from 1 (off by one)"),
]

SEARCH_ROOTS = ("plugins", "molv")
SOURCE = re.compile(r"\.(cpp|h|cc|hpp)$")


def locate(tree, path, anchor):
    """The file that holds the anchor exactly once, or (None, why not)."""
    full = os.path.join(tree, path)
    if os.path.exists(full):
        count = open(full, encoding="utf-8").read().count(anchor)
        if count == 1:
            return full, ""
        return None, "anchor gone" if count == 0 else "anchor not unique"
    found = []
    for root in SEARCH_ROOTS:
        for folder, _, names in os.walk(os.path.join(tree, root)):
            for name in names:
                if SOURCE.search(name):
                    candidate = os.path.join(folder, name)
                    count = open(candidate, encoding="utf-8").read().count(anchor)
                    found += [candidate] * count
    if len(found) == 1:
        return found[0], ""
    return None, "file and anchor gone" if not found else "anchor not unique"


def run(command, cwd, log, timeout=None):
    with open(log, "a") as out:
        out.write("\n$ " + " ".join(command) + "\n")
        out.flush()
        try:
            return subprocess.run(command, cwd=cwd, stdout=out, stderr=subprocess.STDOUT,
                                  timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            return -1


def copy_tree(destination):
    files = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                           cwd=TOP, check=True, capture_output=True).stdout.split(b"\0")
    for name in files:
        if not name:
            continue
        name = name.decode()
        source = os.path.join(TOP, name)
        if not os.path.isfile(source):
            continue  # deleted but not yet committed
        target = os.path.join(destination, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(source, target)


def build(tree, log):
    env = dict(os.environ, BUILD_DIR=os.path.join(tree, "build"))
    with open(log, "a") as out:
        return subprocess.run([os.path.join(tree, "tools", "build.sh")], cwd=tree, env=env,
                              stdout=out, stderr=subprocess.STDOUT).returncode


def fast_suite(tree, log, flaky):
    """(passed, the first test that failed)."""
    skip = "|".join(["^dialog_script$"] + ["^" + re.escape(name) + "$" for name in sorted(flaky)])
    before = os.path.getsize(log)
    rc = run(["ctest", "--test-dir", os.path.join(tree, "build"), "-j2", "-LE", "testmodels",
              "-E", skip, "--stop-on-failure", "--output-on-failure"], tree, log, timeout=1800)
    with open(log) as f:
        f.seek(before)
        text = f.read()
    summary = text[text.rfind("The following tests FAILED:"):] if "FAILED:" in text else ""
    failed = re.findall(r"^\s+\d+ - (\S+) \(", summary, re.M)
    return rc == 0, (failed[0] if failed else "")


def passes_alone(tree, log, name):
    return run(["ctest", "--test-dir", os.path.join(tree, "build"), "-R", "^" + re.escape(name) + "$",
                "--output-on-failure"], tree, log, timeout=600) == 0


def judge(tree, log, flaky):
    """(passed, the test that failed).  A test that fails in the suite but
    passes alone (a timing test on a busy machine) joins `flaky`, and the
    suite runs again without it."""
    for _ in range(4):
        passed, first = fast_suite(tree, log, flaky)
        if passed or not first or not passes_alone(tree, log, first):
            return passed, first
        flaky.add(first)
    return False, first


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--only", help="comma-separated fault numbers (from 1)")
    parser.add_argument("--list", action="store_true", help="list the faults and exit")
    parser.add_argument("--keep", action="store_true", help="keep the scratch copy")
    args = parser.parse_args()

    chosen = range(1, len(FAULTS) + 1)
    if args.only:
        chosen = [int(n) for n in args.only.split(",")]
    if args.list:
        for n in chosen:
            where, path, anchor, _, what = FAULTS[n - 1]
            file, why = locate(TOP, path, anchor)
            state = os.path.relpath(file, TOP) if file else "not applied: " + why
            print(f"{n:2}  {where:13} {what}  [{state}]")
        return 0

    scratch = tempfile.mkdtemp(prefix="qel_mutants_")
    log = os.path.join(scratch, "mutants.log")
    tree = os.path.join(scratch, "tree")
    print(f"scratch copy in {tree}, log in {log}", file=sys.stderr)
    rows = []
    try:
        copy_tree(tree)
        if build(tree, log) != 0:
            args.keep = True
            print("the unchanged tree does not build; see " + log, file=sys.stderr)
            return 2
        flaky = set()
        ok, first = judge(tree, log, flaky)
        if not ok:
            args.keep = True
            print(f"the unchanged tree fails the fast suite ({first}); see {log}", file=sys.stderr)
            return 2
        for n in chosen:
            where, path, anchor, replacement, what = FAULTS[n - 1]
            file, why = locate(tree, path, anchor)
            if file is None:
                rows.append((n, where, what, "not applied (" + why + ")", ""))
                print(rows[-1], file=sys.stderr)
                continue
            original = open(file, encoding="utf-8").read()
            started = time.time()
            try:
                with open(file, "w", encoding="utf-8") as f:
                    f.write(original.replace(anchor, replacement, 1))
                with open(log, "a") as out:
                    out.write(f"\n==== fault {n}: {what} ({os.path.relpath(file, tree)})\n")
                if build(tree, log) != 0:
                    result, by = "does not build", ""
                else:
                    passed, by = judge(tree, log, flaky)
                    result = "SURVIVED" if passed else "caught"
            finally:
                with open(file, "w", encoding="utf-8") as f:
                    f.write(original)
            rows.append((n, where, what, result, by))
            print(rows[-1], f"{time.time() - started:.0f} s", file=sys.stderr)
    finally:
        if args.keep:
            print("kept " + scratch, file=sys.stderr)
        else:
            shutil.rmtree(scratch, ignore_errors=True)

    print("| # | where | fault | result | first test that failed |")
    print("|---|---|---|---|---|")
    for n, where, what, result, by in rows:
        print(f"| {n} | {where} | {what} | {result} | {by} |")
    survived = sum(1 for row in rows if row[3] == "SURVIVED")
    print(f"\n{survived} of {len(rows)} survived.")
    if flaky:
        print("Left out after failing in the suite but passing alone: " + ", ".join(sorted(flaky)))
    return 1 if survived else 0


if __name__ == "__main__":
    sys.exit(main())
