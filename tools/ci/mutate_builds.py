"""The builds of tools/ci/mutate.py: the copy of the tree configured against
one host, its tests, what each source file reaches, and which tests run
which lines."""

import glob
import hashlib
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.realpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
WORK = os.path.join(HERE, "build-mutate")
SRC = os.path.join(WORK, "src")
FOLDERS = ("quorvane", "scrt", "json_spirit")
# What a test's sources use when the test loads the built module (or a
# program that does) at run time rather than linking its objects.
# The soak logs in many times over at native speed and measures time and
# memory; each of its logins is one the login tests make too.
NOT_RUN = {"fault_soak_test"}
LOADS_MODULE = re.compile(r"QUORVANE_MODULE_PATH|QUORVANE_HOST_PATH|login_fixture\.h")


def say(text):
    print(f"\033[1m==> {text}\033[0m", file=sys.stderr, flush=True)


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)


class Build:
    """One CMake build of the copy, its tests and what each file reaches."""

    def __init__(self, name, cmake_args, jobs, host=None):
        self.name = name
        self.host = host  # the host it is built against, for messages
        self.ready = False  # built from the unchanged copy, its baseline run
        self.dir = os.path.join(WORK, name)
        self.cmake_args = cmake_args
        self.jobs = jobs
        self.tests = {}  # name -> {"command", "env", "cwd", "loads_module", "seconds"}
        self.reach = {}  # file -> (targets, test names)

    def configure(self):
        if not os.path.exists(os.path.join(self.dir, "build.ninja")):
            args = ["cmake", "-S", SRC, "-B", self.dir, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
                    "-DCMAKE_CXX_FLAGS_DEBUG=-O0", "-DQUORVANE_BENCHMARKS=OFF"] + self.cmake_args
            if shutil.which("ccache"):
                args += ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"]
            out = run(args)
            if out.returncode:
                sys.exit(f"mutate: cannot configure {self.dir}:\n{out.stdout}")

    def build(self, targets=None):
        cmd = ["ninja", "-C", self.dir, "-j", str(self.jobs)] + (targets or [])
        return run(cmd)

    def load_tests(self):
        out = run(["ctest", "--test-dir", self.dir, "--show-only=json-v1"])
        for t in json.loads(out.stdout)["tests"]:
            if t["name"] in NOT_RUN:
                continue
            props = {p["name"]: p["value"] for p in t.get("properties", [])}
            env = dict(os.environ)
            for assignment in props.get("ENVIRONMENT", []):
                k, _, v = assignment.partition("=")
                env[k] = v
            env["GTEST_FAIL_FAST"] = "1"
            self.tests[t["name"]] = {
                "command": t["command"],
                "env": env,
                "cwd": props.get("WORKING_DIRECTORY", self.dir),
                "loads_module": self._loads_module(t["name"]),
                "seconds": 0.0,
            }

    def _loads_module(self, test):
        objs = glob.glob(os.path.join(self.dir, "tests", "*", "CMakeFiles", test + ".dir", "*.o"))
        for o in objs:
            folder = os.path.relpath(os.path.dirname(os.path.dirname(os.path.dirname(o))), self.dir)
            source = os.path.join(SRC, folder, os.path.basename(o)[: -len(".o")])
            try:
                with open(source, encoding="utf-8", errors="replace") as f:
                    if LOADS_MODULE.search(f.read()):
                        return True
            except OSError:
                pass
        return False

    def executable(self, test):
        return os.path.basename(self.tests[test]["command"][0])

    def executables(self):
        return sorted({self.executable(t) for t in self.tests})

    def reached(self, rel):
        """The targets that a change of @a rel rebuilds, and the tests to
        run for it: ninja's dry run after touching the file."""
        if rel in self.reach:
            return self.reach[rel]
        # The file's time goes back after the dry run: its text is the
        # same, and another file's dry run must not see it as changed.
        path = os.path.join(SRC, rel)
        st = os.stat(path)
        os.utime(path)
        targets = ["quorvane"] + self.executables()
        out = run(["ninja", "-C", self.dir, "-n"] + targets)
        os.utime(path, ns=(st.st_atime_ns, st.st_mtime_ns))
        linked = set(re.findall(r"Linking CXX \S+(?: \S+)? (\S+)", out.stdout))
        names = {os.path.basename(p) for p in linked}
        module = "libquorvane.so" in names
        tests = [n for n, t in self.tests.items()
                 if os.path.basename(t["command"][0]) in names or (module and t["loads_module"])]
        built = [t for t in targets if t in names or (t == "quorvane" and module)]
        self.reach[rel] = (built, tests)
        return self.reach[rel]

    def run_test(self, name, timeout):
        t = self.tests[name]
        start = time.monotonic()
        proc = subprocess.Popen(t["command"], cwd=t["cwd"], env=t["env"], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, start_new_session=True)
        try:
            code = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            code = "timeout"
        finally:
            # The test's own servers and children go with it.
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            proc.wait()
        return code, time.monotonic() - start


class Coverage:
    """Which tests run which lines of the module: the copy built once more
    with --coverage, each test run alone and gcovr's counts read after it.
    The map is kept beside the build, keyed by the copy's sources."""

    def __init__(self, jobs):
        # Atomic counters: the tests run servers and clients on threads of
        # one process (as in tools/ci/coverage.sh).
        flags = "--coverage -fprofile-update=atomic"
        self.build = Build("coverage", [f"-DCMAKE_C_FLAGS={flags}", f"-DCMAKE_CXX_FLAGS={flags}",
                                        "-DCMAKE_EXE_LINKER_FLAGS=--coverage",
                                        "-DCMAKE_SHARED_LINKER_FLAGS=--coverage",
                                        "-DCMAKE_MODULE_LINKER_FLAGS=--coverage"], jobs)
        self.jobs = jobs
        self.runs = {}  # test -> {file: [lines it ran]}
        self.code = {}  # file -> [lines that hold code]

    def measure(self, tests):
        key = sources_digest()
        cache = os.path.join(self.build.dir, "lines.json")
        if os.path.exists(cache):
            with open(cache) as f:
                saved = json.load(f)
            if saved.get("key") == key and set(tests) <= set(saved["runs"]):
                self.runs, self.code = saved["runs"], saved["code"]
                self._index()
                return
        self.build.configure()
        out = self.build.build()
        if out.returncode:
            sys.exit(f"mutate: the coverage build fails:\n{out.stdout[-4000:]}")
        self.build.load_tests()
        start = time.monotonic()
        for n, name in enumerate(tests, 1):
            say(f"coverage: test {n} of {len(tests)}, {name} ({time.monotonic() - start:.0f} s)")
            for gcda in glob.glob(os.path.join(self.build.dir, "**", "*.gcda"), recursive=True):
                os.remove(gcda)
            self.build.run_test(name, 900)
            self.runs[name] = self._read_counts()
        with open(cache, "w") as f:
            json.dump({"key": key, "runs": self.runs, "code": self.code}, f)
        self._index()

    def _index(self):
        """The line lists as sets, once, for the lookup of every mutant."""
        self.code_lines = {file: set(lines) for file, lines in self.code.items()}
        self.run_lines = {t: {file: set(lines) for file, lines in files.items()} for t, files in self.runs.items()}

    def _read_counts(self):
        report = os.path.join(self.build.dir, "lines-of-one-test.json")
        folders = "|".join(FOLDERS)
        out = run(["gcovr", "--root", SRC, "--object-directory", self.build.dir, "-j", str(self.jobs),
                   "--filter", f"{SRC}/({folders})/", "--exclude-directories",
                   f"{self.build.dir}/CMakeFiles/[0-9]", "--json", report])
        if out.returncode:
            sys.exit(f"mutate: gcovr fails:\n{out.stdout[-4000:]}")
        with open(report) as f:
            data = json.load(f)
        ran = {}
        for entry in data["files"]:
            lines = [ln for ln in entry["lines"] if not ln.get("gcovr/noncode")]
            code = set(self.code.get(entry["file"], []))
            code.update(ln["line_number"] for ln in lines)
            self.code[entry["file"]] = sorted(code)
            ran[entry["file"]] = sorted({ln["line_number"] for ln in lines if ln["count"] > 0})
        return ran

    def tests_for(self, file, first, last):
        """The tests that ran a line from @a first to @a last of @a file, or
        None when none of those lines holds code of its own (a constant's
        value, a declaration): the caller then runs every test the file
        reaches."""
        span = set(range(first, last + 1))
        if not self.code_lines.get(file, set()) & span:
            return None
        return [t for t, files in self.run_lines.items() if span & files.get(file, set())]


def sources_digest():
    """A digest of every file the builds compile: the coverage map holds
    while it is unchanged."""
    h = hashlib.sha256()
    for folder, dirs, names in os.walk(SRC):
        dirs[:] = sorted(d for d in dirs if d not in ("web", "docs", "debian"))
        for name in sorted(names):
            if name.endswith((".cpp", ".h", ".cmake", ".map")) or name == "CMakeLists.txt":
                path = os.path.join(folder, name)
                h.update(path.encode())
                with open(path, "rb") as f:
                    h.update(f.read())
    return h.hexdigest()
