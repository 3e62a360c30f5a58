#!/usr/bin/python3
"""Branch coverage of the module's code from a --coverage build's counts.

    tools/ci/branches.py ROOT BUILD_DIR FOLDER...

Reads every .gcda under BUILD_DIR with `gcov --json-format` and counts the
branches of the lines of ROOT/FOLDER/, each taken by some test or not; fails
unless every counted branch was taken.  gcovr's own branch figures are not
used: merging the counts of an inline function compiled into many objects,
it keeps the exception flag of whichever object it read first, so that the
exception edges of a call go uncounted in one run and counted in the next.

What is not counted:
- the exception edge of every call (gcov's "throw" flag): the compiler adds
  one wherever a call may throw; the allocation-failure sweep and the
  module's own tests of its catch clauses take the ones that can happen;
- the type dispatch of a catch clause (a line that begins with `catch`):
  its other edge passes on an exception of another type, and every throw
  the module can meet is a std::exception;
- a line marked GCOVR_EXCL_BR_LINE or GCOVR_EXCL_LINE, or between
  GCOVR_EXCL_START/GCOVR_EXCL_STOP or GCOVR_EXCL_BR_START/GCOVR_EXCL_BR_STOP,
  whose comment says why no test can take its branches.

The instantiations of a template count as one function: a branch counts as
taken when any instantiation took it."""

import glob
import json
import os
import re
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor


def gcov_documents(build):
    gcdas = [g for g in glob.glob(os.path.join(build, "**", "*.gcda"), recursive=True)
             if "/CMakeFiles/3." not in g]  # CMake's compiler checks

    def one(gcda):
        out = subprocess.run(["gcov", "--branch-probabilities", "--json-format", "--stdout",
                              "--object-directory", os.path.dirname(gcda), gcda],
                             cwd=build, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        return [json.loads(line) for line in out.stdout.splitlines() if line.startswith("{")]

    with ThreadPoolExecutor(os.cpu_count() or 2) as pool:
        for docs in pool.map(one, gcdas):
            yield from docs


def generic_names(mangled):
    """Each mangled function name, demangled without template arguments."""
    names = sorted(mangled)
    out = subprocess.run(["c++filt"], input="\n".join(names), stdout=subprocess.PIPE, text=True).stdout
    result = {}
    for name, plain in zip(names, out.splitlines()):
        previous = None
        while previous != plain:
            previous, plain = plain, re.sub(r"<[^<>]*>", "", plain)
        result[name] = plain
    return result


def excluded_lines(path):
    """The lines whose branches a marker excuses."""
    excluded, inside = set(), False
    with open(path, encoding="utf-8", errors="replace") as f:
        for number, text in enumerate(f, 1):
            if re.search(r"GCOVR_EXCL_(BR_)?START", text):
                inside = True
            if inside or re.search(r"GCOVR_EXCL_(BR_)?LINE", text) or text.lstrip().startswith("catch"):
                excluded.add(number)
            if re.search(r"GCOVR_EXCL_(BR_)?STOP", text):
                inside = False
    return excluded


def main():
    root, build, folders = os.path.realpath(sys.argv[1]), os.path.realpath(sys.argv[2]), sys.argv[3:]
    counts = {}  # (file, line, function, index) -> times taken
    for doc in gcov_documents(build):
        cwd = doc.get("current_working_directory", build)
        for f in doc["files"]:
            rel = os.path.relpath(os.path.realpath(os.path.join(cwd, f["file"])), root)
            if rel.split(os.sep)[0] not in folders:
                continue
            for line in f["lines"]:
                for index, b in enumerate(line["branches"]):
                    if not b["throw"]:
                        key = (rel, line["line_number"], line.get("function_name", ""), index)
                        counts[key] = counts.get(key, 0) + b["count"]
    generic = generic_names({k[2] for k in counts})
    merged = {}
    for (rel, line, function, index), n in counts.items():
        key = (rel, line, generic[function], index)
        merged[key] = merged.get(key, 0) + n
    markers = {}
    totals = {f: [0, 0] for f in folders}
    missed = {}
    for (rel, line, function, index), n in sorted(merged.items()):
        if rel not in markers:
            markers[rel] = excluded_lines(os.path.join(root, rel))
        if line in markers[rel]:
            continue
        t = totals[rel.split(os.sep)[0]]
        t[1] += 1
        if n > 0:
            t[0] += 1
        else:
            missed.setdefault((rel, line), []).append(f"{function} #{index}")
    all_ = [sum(t[0] for t in totals.values()), sum(t[1] for t in totals.values())]
    for name, (taken, total) in list(totals.items()) + [("all", all_)]:
        label = name + "/" if name != "all" else name
        print("%-12s branches %6.1f%% (%4d/%4d)" % (label, 100.0 * taken / total if total else 100.0, taken, total))
    if missed:
        print("branches no test took:")
        for (rel, line), which in sorted(missed.items()):
            with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as f:
                text = f.read().split("\n")[line - 1].strip()
            print(f"  {rel}:{line}: {text}\n      {', '.join(which)}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
