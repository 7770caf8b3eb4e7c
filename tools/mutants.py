#!/usr/bin/env python3
"""Plants small, realistic faults in a scratch copy of the tree, one at a
time, runs a suite after each, and reports what caught each fault.

Each fault is a text replacement anchored on a short piece of code that
must occur exactly once in the file the fault names.  An anchor that is
gone or no longer unique (the code moved or changed) ends the run before
anything is built, with exit status 2: the list is then out of date and
must be mended, never skipped.

The verdict comes from the whole suite (every ctest test: the unit and
end-to-end tests, the dialog script, the test-model set, the DirectX
runtime's readers), as CI runs it.  --suite fast leaves out the labels
testmodels and runtime for a quicker look; --tests REGEX runs only the
ctest tests that match.  The unchanged tree must pass the chosen suite
first, or the run stops with exit status 2.

What each fault did to the suite, one word in the table:
  caught         tests failed on it; each one is named, and at least one
                 of them failed again when run alone
  flaky          tests failed in the suite but every one passed alone
  crashed        no test failed, but test processes ended by a signal
  timed out      no test failed, but tests ran past their time-out
  unexplained    ctest failed without naming a failed test, or the suite
                 ran past --suite-timeout
  does not build the fault broke the build (the fault is ill-made)
  SURVIVED       the suite passed with the fault in place
  survived, accepted   the same, for a fault whose entry gives the reason
                 no test can tell it apart
Tests that timed out or crashed beside failures are named in the last
column.  The exit status is 0 only when every fault was caught (or is an
accepted survivor), 1 otherwise, 2 when the run could not start.

A run builds the tree once, runs the suite on it, then per fault builds
again (only what the planted file touches) and runs the suite.  On the
shared two-core machine that is 3.5 to 7 minutes for the first build, then
per fault 5 to 90 s of build and 70 to 170 s of the whole suite: about 70
minutes for the whole list when the machine is quiet, up to 2.5 hours
beside other builds.  Every ctest process runs with an address-space limit
(--memory-limit) so that a fault that makes a test eat memory fails that
test instead of the machine.

    tools/mutants.py                 # every fault, the whole suite
    tools/mutants.py --list          # the faults and whether they apply
    tools/mutants.py --only 3,7      # some of them
    tools/mutants.py --suite fast    # without the test models and the runtime
    tools/mutants.py --tests Import  # only the ctest tests matching a regex
    tools/mutants.py --keep          # keep the scratch copy (its path is printed)
"""
import argparse
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# (where, file, anchor, replacement, the fault in words[, why a survivor
# is accepted])
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
     "patch_header(run, run.written_vertex_total);",
     "patch_header(run, run.surface_vertex_total);",
     "header total patched with the surface vertices (wrong total)"),
    ("numbers", "plugins/xwriter/numbers.cpp",
     "if (e < -a || digits_zero) {",
     "if (e <= -a || digits_zero) {",
     "fixed form drops the last decimal place allowed (off by one)"),
    ("numbers", "plugins/xwriter/numbers.cpp",
     "if (e < -4 || e >= kSignificantDigits) {",
     "if (e < -4 || e > kSignificantDigits) {",
     "short form keeps 1e6 positional (flipped bound)"),
    ("names", "plugins/core/x_name.h",
     "c == '_' || c == '-';",
     "c == '_' || c == '-' || c == '.';",
     "a .x name keeps '.'"),
    ("names", "plugins/core/x_name.h",
     "name[0] >= '0' && name[0] <= '9'",
     "name[0] >= '0' && name[0] < '9'",
     "no '_' before a leading 9 (off by one)"),
    ("target file", "plugins/export/target_file.cpp",
     "  if (kind_ == Kind::kReplace && !temp_.empty()) ::unlinkat(folder_fd_, temp_.c_str(), 0);\n"
     "  close_all();",
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
    ("host import", "molv/import/assimp_builder.cpp",
     "if (is_root || holder != parent) taken.insert(",
     "if (is_root) taken.insert(",
     "a light's mesh may take the light's name"),
    ("host import", "molv/import/mesh_corners.cpp",
     "std::isfinite(position.p[1]) &&\n         std::isfinite(position.p[2]);",
     "std::isfinite(position.p[1]);",
     "a corner whose z alone is not finite is kept"),
    ("reader's plan", "molv/import/plan_wire.cpp",
     "if (child <= i || child >= plan.objects.size()) return false;",
     "if (child < i || child >= plan.objects.size()) return false;",
     "an object may be its own child"),
    ("reader's plan", "molv/import/plan_wire.cpp",
     "static_cast<size_t>(vertex) >= vertices) return false;",
     "static_cast<size_t>(vertex) > vertices) return false;",
     "a corner may name one vertex past the last (off by one)"),
    ("reader's bounds", "molv/import/model_plan.h",
     "if (!other.empty) add(other.low, other.high);",
     "add(other.low, other.high);",
     "an empty subtree's box (at the origin) widens its parent's"),
    ("duplication", "plugins/xwriter/mesh.cpp",
     "first_written.count());",
     "first_written.length());",
     "original-vertex count written as the index list's length"),
    ("run's files", "molv/common/run_files.cpp",
     "return (!a.name.empty() && a.name == b.name) ||\n         (a.exists",
     "return (a.exists",
     "clashes by device and inode only (a file yet to be made clashes with nothing)"),
    ("run's files", "molv/common/run_files.cpp",
     "for (const std::vector<Entry> *list : {&reads_, &writes_}) {",
     "for (const std::vector<Entry> *list : {&reads_}) {",
     "two files the run writes are not held against each other"),
    ("run's files", "molv/common/run_files.cpp",
     "  for (const std::string &path : plan.extracted)\n"
     "    if (!files->writes(path, false, \"the extracted texture \" + path, error)) return false;\n",
     "",
     "extracted textures are not held against the run's other files"),
    ("textures copied", "molv/common/run_files.cpp",
     "    if (files->copied_already(target, source)) continue;\n",
     "",
     "a texture two models of a batch share is copied twice"),
    ("textures copied", "molv/common/run_files.cpp",
     "folder + \"/\" + (strip ? texture_base_name(texture) : texture);",
     "folder + \"/\" + texture;",
     "a copy keeps the model's folders under strip_texture_path"),
    ("report", "molv/cli/report.cpp",
     "  if (contains(text, \"which is not there\")) return \"texture-missing\";\n",
     "",
     "texture-missing reported as texture"),
    ("report", "molv/cli/report.cpp",
     "  if (contains(text, \"differ in letter case\")) return \"texture-letter-case\";\n",
     "",
     "texture-letter-case reported as texture"),
    ("depfile", "molv/cli/depfile.cpp",
     "else if (std::strchr(\" #:*?[|\", c) != nullptr)",
     "else if (std::strchr(\" #*?[|\", c) != nullptr)",
     "a ':' in a name is written as it is"),
    ("depfile", "molv/cli/depfile.cpp",
     "      escaped += '$';",
     "      escaped += '\\\\';",
     "a '$' in a name written as \\$, which make does not read"),
    ("--jobs signals", "molv/cli/jobs.cpp",
     "    sigaction(SIGHUP, &pass_on, &old_hup_);\n",
     "",
     "SIGHUP no longer passed on to the workers"),
    ("--jobs signals", "molv/cli/jobs.cpp",
     "(info->si_code != SI_USER && info->si_code != SI_QUEUE)",
     "(info->si_code != SI_QUEUE)",
     "a SIGINT sent to molv alone is not passed on"),
    ("--jobs signals", "molv/cli/jobs.cpp",
     "if (signal == SIGINT || signal == SIGTERM || signal == SIGHUP) {",
     "if (signal == SIGINT || signal == SIGTERM) {",
     "a worker ended by a SIGHUP passed on is named as if it had crashed"),
    ("--quiet", "molv/cli/batch.cpp",
     "if (!warning.empty() && !args.quiet) error_line(warning);",
     "if (!warning.empty()) error_line(warning);",
     "the -o NAME.ext warning shows under --quiet"),
    ("--quiet", "molv/cli/batch_files.cpp",
     "  if (!args.quiet)\n    for (const std::string &note : notes)",
     "  for (const std::string &note : notes)",
     "the note of a texture not copied shows under --quiet"),
]

SUITES = {
    "whole": [],
    "fast": ["-LE", "testmodels|runtime"],
}


def locate(tree, path, anchor):
    """(the file, "") when the anchor occurs exactly once in it, else
    (None, why not)."""
    full = os.path.join(tree, path)
    if not os.path.exists(full):
        return None, "file gone"
    count = open(full, encoding="utf-8").read().count(anchor)
    if count == 1:
        return full, ""
    return None, "anchor gone" if count == 0 else f"anchor found {count} times"


def limit_memory(gib):
    def limit():
        os.setsid()  # one process group, to end a suite that runs too long
        if gib > 0:
            size = int(gib * (1 << 30))
            resource.setrlimit(resource.RLIMIT_AS, (size, size))
    return limit


def run(command, cwd, log, timeout=None, memory_gib=0):
    """(exit status, the text the command wrote, whether it ran too long)."""
    with open(log, "a") as out:
        out.write("\n$ " + " ".join(command) + "\n")
        out.flush()
        start = out.tell()
        process = subprocess.Popen(command, cwd=cwd, stdout=out, stderr=subprocess.STDOUT,
                                   preexec_fn=limit_memory(memory_gib))
        try:
            rc, late = process.wait(timeout=timeout), False
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            rc, late = process.wait(), True
    with open(log) as f:
        f.seek(start)
        return rc, f.read(), late


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


class Suite:
    def __init__(self, tree, log, args):
        self.tree, self.log, self.args = tree, log, args
        self.select = SUITES[args.suite] + (["-R", args.tests] if args.tests else [])

    def ctest(self, extra, timeout):
        return run(["ctest", "--test-dir", os.path.join(self.tree, "build"), "--output-on-failure"]
                   + extra, self.tree, self.log, timeout, self.args.memory_limit)

    def run(self):
        """(ctest's exit status, {test: how it did not pass}, ran too long)."""
        rc, text, late = self.ctest(["-j2"] + self.select, self.args.suite_timeout)
        summary = text[text.rfind("The following tests FAILED:"):] if "FAILED:" in text else ""
        outcome = dict(re.findall(r"^\s*\d+ - (.*?) \(([^()]*)\)\s*$", summary, re.M))
        return rc, outcome, late

    def fails_alone(self, name):
        rc, _, _ = self.ctest(["-R", "^" + re.escape(name) + "$"], 900)
        return rc != 0


def short(name):
    """A test's name without the parameter ctest shows after it."""
    return re.sub(r"\s+# GetParam\(\) = .*$", "", name)


def judge(suite):
    """(result, the tests that failed, other tests that did not pass)."""
    rc, outcome, late = suite.run()
    failed = sorted(n for n, kind in outcome.items() if kind == "Failed")
    timed_out = sorted(short(n) for n, kind in outcome.items() if kind == "Timeout")
    crashed = sorted(f"{short(n)} ({kind})" for n, kind in outcome.items()
                     if kind not in ("Failed", "Timeout"))
    others = ", ".join([n + " (time-out)" for n in timed_out] + crashed)
    named = ", ".join(short(n) for n in failed)
    if late:
        return "unexplained", named, f"the suite ran past {suite.args.suite_timeout} s"
    if rc == 0 and not outcome:
        return "passed", "", ""
    if failed:
        # A failure that passes alone may be the machine's load, not the
        # fault: at least one failed test must fail again by itself.
        confirmed = any(suite.fails_alone(name) for name in failed[:3])
        return ("caught" if confirmed else "flaky"), named, others
    if crashed:
        return "crashed", "", others
    if timed_out:
        return "timed out", "", others
    return "unexplained", "", f"ctest exit status {rc} without a failed test"


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--only", help="comma-separated fault numbers (from 1)")
    parser.add_argument("--list", action="store_true", help="list the faults and exit")
    parser.add_argument("--keep", action="store_true", help="keep the scratch copy")
    parser.add_argument("--suite", choices=sorted(SUITES), default="whole",
                        help="the suite that judges (default: whole)")
    parser.add_argument("--tests", help="only the ctest tests that match this regex")
    parser.add_argument("--memory-limit", type=float, default=8,
                        help="address space of each ctest process and its tests, GiB "
                             "(default 8; 0: none)")
    parser.add_argument("--suite-timeout", type=int, default=3600,
                        help="seconds one suite run may take (default 3600)")
    args = parser.parse_args()

    chosen = list(range(1, len(FAULTS) + 1))
    if args.only:
        chosen = [int(n) for n in args.only.split(",")]
        if any(n < 1 or n > len(FAULTS) for n in chosen):
            parser.error(f"faults are numbered 1 to {len(FAULTS)}")
    gone = []
    for n in chosen:
        where, path, anchor, _, what = FAULTS[n - 1][:5]
        file, why = locate(TOP, path, anchor)
        if args.list:
            print(f"{n:2}  {where:15} {what}  [{path if file else 'NOT APPLICABLE: ' + why}]")
        if file is None:
            gone.append(f"fault {n} ({what}): {path}: {why}")
    if gone:
        print("\n".join(["The fault list is out of date:"] + gone), file=sys.stderr)
        return 2
    if args.list:
        return 0

    scratch = tempfile.mkdtemp(prefix="qel_mutants_")
    log = os.path.join(scratch, "mutants.log")
    tree = os.path.join(scratch, "tree")
    print(f"scratch copy in {tree}, log in {log}", file=sys.stderr)
    rows = []
    began = time.time()
    try:
        copy_tree(tree)
        if build(tree, log) != 0:
            args.keep = True
            print("the unchanged tree does not build; see " + log, file=sys.stderr)
            return 2
        suite = Suite(tree, log, args)
        started = time.time()
        result, failed, others = judge(suite)
        if result != "passed":
            args.keep = True
            print(f"the unchanged tree does not pass the suite: {result} {failed} {others}; "
                  f"see {log}", file=sys.stderr)
            return 2
        print(f"the unchanged tree built in {started - began:.0f} s and passed the suite in "
              f"{time.time() - started:.0f} s", file=sys.stderr)
        for n in chosen:
            where, path, anchor, replacement, what = FAULTS[n - 1][:5]
            accepted = FAULTS[n - 1][5] if len(FAULTS[n - 1]) > 5 else ""
            file = os.path.join(tree, path)
            original = open(file, encoding="utf-8").read()
            started = time.time()
            try:
                with open(file, "w", encoding="utf-8") as f:
                    f.write(original.replace(anchor, replacement, 1))
                with open(log, "a") as out:
                    out.write(f"\n==== fault {n}: {what} ({path})\n")
                built = build(tree, log) == 0
                build_seconds = time.time() - started
                if not built:
                    result, failed, others = "does not build", "", ""
                else:
                    result, failed, others = judge(suite)
                    if result == "passed":
                        result = "survived, accepted: " + accepted if accepted else "SURVIVED"
            finally:
                with open(file, "w", encoding="utf-8") as f:
                    f.write(original)
            seconds = f"{build_seconds:.0f} + {time.time() - started - build_seconds:.0f} s"
            rows.append((n, where, what, result, failed, others, seconds))
            print(f"fault {n}: {result}, build + suite {seconds}", file=sys.stderr)
        # The last build is of a planted tree: nothing to keep it for.
    finally:
        if args.keep:
            print("kept " + scratch, file=sys.stderr)
        else:
            shutil.rmtree(scratch, ignore_errors=True)

    suite_name = args.suite + (f", tests matching {args.tests}" if args.tests else "")
    print(f"Suite: {suite_name}.  {len(rows)} faults in {(time.time() - began) / 60:.0f} min.\n")
    print("| # | where | fault | result | tests that failed | also did not pass | build + suite |")
    print("|---|---|---|---|---|---|---|")
    for n, where, what, result, failed, others, seconds in rows:
        print(f"| {n} | {where} | {what} | {result} | {failed} | {others} | {seconds} |")
    bad = [row for row in rows if row[3] != "caught" and not row[3].startswith("survived,")]
    print(f"\n{len(rows) - len(bad)} of {len(rows)} caught or accepted.")
    for n, _, what, result, *_ in bad:
        print(f"fault {n} ({what}): {result}")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
