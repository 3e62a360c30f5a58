#!/usr/bin/env bash
# ./dev lint: the static analysers over every product and tool source
# (quorvane/, scrt/, json_spirit/, host/, devhost/, tools/; the headers
# through the sources that include them):
#   clang-tidy with the checks of .clang-tidy, each finding an error;
#   cppcheck's warning, performance and portability checks, with the ACE
#   macros of tools/ci/lint/ace.cfg.
# Both read the compile commands of a clang configuration in build-lint/
# (configured, not built).  A suppression stands on the line it excuses,
# with its reason: NOLINT(check) for clang-tidy, cppcheck-suppress for
# cppcheck.
#
#   tools/ci/lint.sh [BUILD_DIR]     (default build-lint)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$here"
# shellcheck source=tools/ci/lib.sh
. "$here/tools/ci/lib.sh"
# shellcheck disable=SC2046 # package names are words
ensure_packages $(packages_for lint)

dir=${1:-build-lint}
jobs=$(nproc)
if [ ! -f "$dir/compile_commands.json" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUORVANE_BENCHMARKS=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
fi
# The product's and the tools' sources only, each once.
mkdir -p "$dir/lint"
python3 - "$dir/compile_commands.json" "$dir/lint/compile_commands.json" "$here" <<'PY'
import json, os, sys
source, target, root = sys.argv[1:]
folders = ("quorvane", "scrt", "json_spirit", "host", "devhost", "tools")
seen, kept = set(), []
for e in json.load(open(source)):
    rel = os.path.relpath(e["file"], root)
    if rel.split(os.sep)[0] in folders and rel not in seen:
        seen.add(rel)
        kept.append(e)
json.dump(kept, open(target, "w"), indent=1)
print(f"{len(kept)} sources", file=sys.stderr)
PY

say "clang-tidy"
status=0
run-clang-tidy -p "$dir/lint" -quiet -j "$jobs" >"$dir/lint/clang-tidy.log" 2>&1 || status=1
# Only the findings and the lines that show them; not the counts of
# warnings suppressed in system headers.
grep -v -E '^([0-9]+ warnings? (and [0-9]+ errors? )?generated|Suppressed [0-9]+ warnings|Use -header-filter|clang-tidy-[0-9]+ .*-p=)' \
  "$dir/lint/clang-tidy.log" | sed 's/\x1b\[[0-9;]*m//g' >&2 || true

say "cppcheck"
cppcheck --project="$dir/lint/compile_commands.json" --library="$here/tools/ci/lint/ace.cfg" \
  --enable=warning,performance,portability --inline-suppr --error-exitcode=1 -j "$jobs" --quiet || status=1
[ "$status" -eq 0 ] && say "lint: clang-tidy and cppcheck clean"
exit "$status"
