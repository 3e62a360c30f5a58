#!/usr/bin/python3
"""Mutation testing of the module and its support library.

    ./dev mutate [--again] [--sample N] [--files GLOB...] [--jobs N] [--list]

Lists the mutants of quorvane/, scrt/ and json_spirit/ (tools/ci/mutants.py),
copies the tree into build-mutate/src/ (never the work tree), builds it
there against the development host (build-mutate/full/), and runs the tests
twice unchanged: a test that fails without a mutant would make false kills,
so any failure stops the run.  The build against the contract-minimal host
(build-mutate/minimal/) is made and tested the same way once a mutant first
lives through the development host's tests.  A third build with --coverage
(build-mutate/coverage/) runs each test alone and records which lines of
the module each one runs.

Then, for each mutant, it writes the mutated file into the copy and runs
the tests that ran the mutated lines (every test the file reaches when the
lines hold no code of their own, a constant's value say), likeliest killer
first: the one that killed most mutants of the same file so far, then the
fastest.  Only what a test needs is rebuilt; ninja's dry run says what a
file reaches.  The first failure or timeout kills the mutant.  A mutant
that lives through the development host's tests gets the contract-minimal
host's too.  A mutant that does not compile is stillborn and not counted.

Results: build-mutate/mutants.json (every mutant's latest fate: a run of
some files replaces their records) and, once it holds every mutant of the
tree, docs/mutation.md; a sample goes to build-mutate/sample.json.  A survivor that tools/ci/mutation-equivalent.txt
lists (file, line, original and mutated text, and why no behaviour can
change) counts as equivalent; any other survivor is printed as a diff and
makes the exit status 1, as does a full run with a listed mutant that no
longer exists.

--again runs only the mutants that survived the last run and those without
a result yet (new or moved code).  --sample N runs N mutants chosen deterministically from the commit, half
of them from the files the last five commits changed, without the coverage
build: each runs every test its file reaches."""

import argparse
import difflib
import fnmatch
import glob
import hashlib
import json
import os
import random
import re
import shutil
import sys
import time
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mutants as mut  # noqa: E402
from mutate_builds import FOLDERS, HERE, SRC, WORK, Build, Coverage, run, say  # noqa: E402

EQUIVALENT = os.path.join(HERE, "tools", "ci", "mutation-equivalent.txt")
RESULTS = os.path.join(WORK, "mutants.json")
COPY_IGNORE = shutil.ignore_patterns(".git", "build*", "node_modules", "*.pyc", "__pycache__")


def copy_tree():
    """The copy, with every file's time kept, so that a second run rebuilds
    only what changed since.  After a run that stopped with a mutant in the
    copy, its objects may be newer than the restored sources: every file is
    touched then, and rebuilds (from ccache's cache, mostly)."""
    os.makedirs(WORK, exist_ok=True)
    shutil.copytree(HERE, SRC, ignore=COPY_IGNORE, dirs_exist_ok=True, copy_function=copy_if_changed)
    if os.path.exists(os.path.join(WORK, "dirty")):
        for folder, _, names in os.walk(SRC):
            for name in names:
                os.utime(os.path.join(folder, name))


def copy_if_changed(src, dst):
    if os.path.exists(dst):
        with open(src, "rb") as a, open(dst, "rb") as b:
            if a.read() == b.read():
                return dst
    return shutil.copy2(src, dst)


def source_files():
    files = []
    for folder in FOLDERS:
        for path in sorted(glob.glob(os.path.join(HERE, folder, "**", "*"), recursive=True)):
            if path.endswith((".cpp", ".h")):
                files.append(os.path.relpath(path, HERE))
    return files


def load_equivalent():
    """Lines "FILE:LINE:COLUMN | ORIGINAL -> MUTATED | why"; '#' starts a comment."""
    listed = {}
    if not os.path.exists(EQUIVALENT):
        return listed
    with open(EQUIVALENT, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            parts = [p.strip() for p in line.split(" | ")]
            m = re.fullmatch(r"(\S+):(\d+):(\d+)", parts[0])
            if len(parts) != 3 or not m or " -> " not in parts[1] or not parts[2]:
                sys.exit(f"{EQUIVALENT}:{number}: expected 'FILE:LINE:COLUMN | ORIGINAL -> MUTATED | why'")
            original, _, mutated = parts[1].partition(" -> ")
            listed[(m.group(1), int(m.group(2)), int(m.group(3)), json.loads(original), json.loads(mutated))] = parts[2]
    return listed


def git(*args):
    out = run(["git", "-C", HERE] + list(args))
    return out.stdout.strip() if out.returncode == 0 else ""


def choose_sample(all_mutants, n):
    commit = git("rev-parse", "HEAD") or "0"
    rng = random.Random(int(hashlib.sha256(commit.encode()).hexdigest(), 16))
    recent = set(git("diff", "--name-only", "HEAD~5", "HEAD").split())
    hot = [m for m in all_mutants if m.file in recent]
    chosen = rng.sample(hot, min(len(hot), n // 2))
    rest = [m for m in all_mutants if m not in chosen]
    chosen += rng.sample(rest, min(len(rest), n - len(chosen)))
    return sorted(chosen, key=mut.Mutant.order)


def diff_of(m):
    with open(os.path.join(HERE, m.file), "rb") as f:
        text = f.read()
    before = text.decode(errors="replace").splitlines(keepends=True)
    after = m.apply(text).decode(errors="replace").splitlines(keepends=True)
    return "".join(difflib.unified_diff(before, after, "a/" + m.file, "b/" + m.file, n=1))


def clock(seconds):
    seconds = int(seconds)
    return f"{seconds // 60}:{seconds % 60:02d}"


def host_builds(jobs):
    """The copy's build against the development host, and the one against
    the contract-minimal host that the first build makes, which is prepared
    only once a mutant lives through the first (most never do)."""
    full = Build("full", [], jobs, "the development host")
    host_lib = os.path.join(full.dir, "lib", "libquorvane-minimal-host.so")
    minimal = Build("minimal", [f"-DQUORVANE_HOST_INCLUDE_DIR={SRC}/devhost/minimal/include",
                                f"-DQUORVANE_HOST_LIBRARIES={host_lib}", "-DQUORVANE_HOST_HARNESS=ON"], jobs,
                    "the contract-minimal host")
    return [full, minimal]


def prepare(b, files):
    """Builds @a b from the unchanged copy and runs, twice, every test that
    the mutants' @a files reach; returns their names.  A test that fails
    without a mutant would make false kills.  Keeps each test's slower time
    (two tests run at a time, as under ctest -j2) for its timeout and its
    place in the order."""
    b.configure()
    say(f"building the copy against {b.host}")
    out = b.build()
    if out.returncode:
        sys.exit(f"mutate: the unchanged copy does not build against {b.host}:\n{out.stdout[-4000:]}")
    b.load_tests()
    needed = sorted({t for f in files for t in b.reached(f)[1]})
    for round_ in (1, 2):
        say(f"baseline {round_} of 2: {len(needed)} tests on the {b.name} build")
        with ThreadPoolExecutor(max_workers=2) as pool:
            results = list(pool.map(lambda t: b.run_test(t, 900), needed))
        for name, (code, took) in zip(needed, results):
            if code != 0:
                sys.exit(f"mutate: {name} fails ({code}) without a mutant on the {b.name} build: "
                         "a flaky test makes false kills; fix it first")
            b.tests[name]["seconds"] = max(b.tests[name]["seconds"], took)
    b.ready = True
    return needed


def try_mutant(m, original, builds, coverage, kills, files):
    """Builds and tests one mutant; sets its status and killer.  Only the
    tests that ran the mutated lines run (all that the file reaches when
    the lines hold no code of their own); the first failure or timeout
    kills the mutant."""
    covering = coverage.tests_for(m.file, m.line, m.line + m.original.count("\n")) if coverage else None
    m.status = "survived"
    ran = 0
    path = os.path.join(SRC, m.file)
    with open(path, "wb") as f:
        f.write(m.apply(original))
    for b in builds:
        if not b.ready:
            # Built and tested from the unchanged copy, as the first was.
            with open(path, "wb") as f:
                f.write(original)
            prepare(b, files)
            with open(path, "wb") as f:
                f.write(m.apply(original))
        targets, reached = b.reached(m.file)
        tests = [t for t in reached if covering is None or t in covering]
        if not tests:
            # The first build compiles it all the same: a mutant that does
            # not compile is stillborn, not untested.
            if b is builds[0] and b.build(targets).returncode:
                m.status = "stillborn"
                return
            continue
        tests.sort(key=lambda t: (-kills.get((m.file, t), 0), b.tests[t]["seconds"]))
        # The likeliest killer alone first, built alone; then the others,
        # two at a time.
        module = ["quorvane"] if "quorvane" in targets else []
        for batch in (tests[:1], tests[1:]):
            if not batch:
                continue
            if b.build(module + [b.executable(t) for t in batch]).returncode:
                m.status = "stillborn"
                return
            ran += len(batch)
            with ThreadPoolExecutor(max_workers=2) as pool:
                codes = list(pool.map(lambda t: b.run_test(t, max(30.0, 5 * b.tests[t]["seconds"] + 10))[0],
                                      batch))
            for t, code in zip(batch, codes):
                if code != 0:
                    m.status = "killed"
                    m.killer = f"{t} ({b.name}{', timeout' if code == 'timeout' else ''})"
                    kills[(m.file, t)] = kills.get((m.file, t), 0) + 1
                    return
    if not ran:
        m.extra["untested"] = "no test runs the mutated lines"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--sample", type=int, default=0, help="run N mutants chosen from the commit")
    ap.add_argument("--files", nargs="*", default=[], help="only files matching these globs")
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    ap.add_argument("--again", action="store_true",
                    help="only the mutants that survived the last run and those without a result yet")
    ap.add_argument("--list", action="store_true", help="list the mutants and stop")
    args = ap.parse_args()
    start = time.monotonic()

    files = [f for f in source_files() if not args.files or any(fnmatch.fnmatch(f, g) for g in args.files)]
    enum = mut.Enumerator(HERE)
    all_mutants = [m for f in files for m in enum.file_mutants(f)]
    if enum.errors:
        sys.exit("mutate: libclang could not parse:\n  " + "\n  ".join(enum.errors[:20]))
    chosen = choose_sample(all_mutants, args.sample) if args.sample else all_mutants
    equivalent = load_equivalent()
    if args.again:
        # A survivor listed as equivalent stays one: no test can kill it.
        last = {m.key(): m for m in load_results()}
        chosen = [m for m in chosen if m.key() not in last or
                  (last[m.key()].status == "survived" and m.key() not in equivalent)]
    if args.list:
        for m in chosen:
            print(m.describe())
        return 0
    say(f"{len(chosen)} mutants of {len(files)} files")

    copy_tree()
    builds = host_builds(args.jobs)
    files = {m.file for m in chosen}
    needed = prepare(builds[0], files)
    # A sample is too small to repay the coverage build: its mutants run
    # every test their file reaches.
    coverage = None
    if not args.sample:
        coverage = Coverage(args.jobs)
        coverage.measure(needed)

    kills = {}  # (file, test) -> mutants it killed
    with open(os.path.join(WORK, "dirty"), "w"):
        pass
    texts = {}
    mutant_start = time.monotonic()
    for n, m in enumerate(chosen, 1):
        if m.file not in texts:
            with open(os.path.join(SRC, m.file), "rb") as f:
                texts[m.file] = f.read()
        elapsed = time.monotonic() - mutant_start
        left = elapsed / (n - 1) * (len(chosen) - n + 1) if n > 1 else 0
        print(f"[mutant {n} of {len(chosen)}, {clock(time.monotonic() - start)} elapsed, "
              f"~{clock(left)} left] {m.describe()}", file=sys.stderr, flush=True)
        t0 = time.monotonic()
        try_mutant(m, texts[m.file], builds, coverage, kills, files)
        if m.status == "survived" and m.key() in equivalent:
            m.status = "equivalent"
            m.extra["why"] = equivalent[m.key()]
        m.seconds = time.monotonic() - t0
        print(f"    {m.status}{': ' + m.killer if m.killer else ''} ({m.seconds:.1f} s)", file=sys.stderr)
        with open(os.path.join(SRC, m.file), "wb") as f:
            f.write(texts[m.file])
        # The next file's dry run must see a clean tree.
        if n == len(chosen) or chosen[n].file != m.file:
            del texts[m.file]
            for b in builds:
                if b.ready:
                    b.build(b.reached(m.file)[0])
    os.remove(os.path.join(WORK, "dirty"))

    stale = []
    if args.sample:
        save(os.path.join(WORK, "sample.json"), chosen, args.sample)
    else:
        tree = merge_results(chosen, [] if args.again else files, enum, equivalent)
        if tree is not None:
            write_report(tree)
            known = {m.key() for m in tree}
            stale = [k for k in equivalent if k not in known]
            for k in stale:
                print(f"mutation-equivalent.txt names no mutant: {k[0]}:{k[1]}:{k[2]} | {json.dumps(k[3])} -> "
                      f"{json.dumps(k[4])}", file=sys.stderr)
    survivors = [m for m in chosen if m.status == "survived"]
    for m in survivors:
        print(f"\nsurvived: {m.describe()}\n{diff_of(m)}", file=sys.stderr)
    counted = [m for m in chosen if m.status != "stillborn"]
    killed = sum(m.status == "killed" for m in counted)
    live = len(counted) - sum(m.status == "equivalent" for m in counted)
    say(f"{killed} of {live} non-equivalent mutants killed, {len(survivors)} survived, "
        f"{len(chosen) - len(counted)} stillborn; {clock(time.monotonic() - start)}")
    return 1 if survivors or stale else 0


def save(path, mutants, sample=0):
    with open(path, "w") as f:
        json.dump({"commit": git("rev-parse", "HEAD"), "date": time.strftime("%Y-%m-%d"), "sample": sample,
                   "mutants": [vars(m) for m in mutants]}, f, indent=1)


def load_results():
    if not os.path.exists(RESULTS):
        return []
    with open(RESULTS) as f:
        return [mut.Mutant(**r) for r in json.load(f)["mutants"]]


def merge_results(chosen, files, enum, equivalent):
    """build-mutate/mutants.json keeps each mutant's latest fate: a run of
    some files replaces their records and keeps the others'.  Returns every
    mutant of the tree when the records cover them all (a file changed
    since its run must run again), else None."""
    records = {m.key(): m for m in load_results() if m.file not in files}
    for m in chosen:
        records[m.key()] = m
    save(RESULTS, sorted(records.values(), key=mut.Mutant.order))
    tree = [m for f in source_files() for m in enum.file_mutants(f)]
    missing = sorted({m.file for m in tree if m.key() not in records})
    if missing:
        say("docs/mutation.md not written: no results yet for the mutants of " + ", ".join(missing))
        return None
    merged = [records[m.key()] for m in tree]
    for m in merged:
        # The list may have changed since the mutant ran.
        if m.status in ("survived", "equivalent"):
            m.status = "equivalent" if m.key() in equivalent else "survived"
    return merged


def write_report(chosen):
    rows = {}
    for m in chosen:
        r = rows.setdefault(m.file, {"mutants": 0, "killed": 0, "survived": 0, "equivalent": 0, "stillborn": 0})
        r[m.status] += 1
        if m.status != "stillborn":
            r["mutants"] += 1
    total = {k: sum(r[k] for r in rows.values()) for k in ("mutants", "killed", "survived", "equivalent",
                                                             "stillborn")}

    def score(r):
        live = r["mutants"] - r["equivalent"]
        return f"{100.0 * r['killed'] / live:.1f}%" if live else "-"

    lines = [
        "# Mutation testing",
        "",
        f"`./dev mutate` on {time.strftime('%Y-%m-%d')}, commit {git('rev-parse', '--short', 'HEAD')}: "
        f"{total['killed']} of {total['mutants'] - total['equivalent']} non-equivalent mutants killed "
        f"({score(total)}); {total['equivalent']} equivalent ones are listed, each with its reason, in "
        "`tools/ci/mutation-equivalent.txt`. Mutants that do not compile (stillborn) are not counted. Each "
        "mutant's latest result counts: a run of some files, or `--again`, replaces only theirs.",
        "",
        "| file | mutants | killed | survived | equivalent | score | stillborn |",
        "|---|---:|---:|---:|---:|---:|---:|",
    ]
    for f in sorted(rows):
        r = rows[f]
        lines.append(f"| `{f}` | {r['mutants']} | {r['killed']} | {r['survived']} | {r['equivalent']} "
                     f"| {score(r)} | {r['stillborn']} |")
    lines.append(f"| all | {total['mutants']} | {total['killed']} | {total['survived']} | "
                 f"{total['equivalent']} | {score(total)} | {total['stillborn']} |")
    survivors = [m for m in chosen if m.status == "survived"]
    if survivors:
        lines += ["", "## Survivors", ""] + [f"- `{m.describe()}`" for m in survivors]
    with open(os.path.join(HERE, "docs", "mutation.md"), "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    sys.exit(main())
