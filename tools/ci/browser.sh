#!/usr/bin/env bash
# The login page in a real browser, and /rpc through a JSON-RPC client that
# no one here wrote (web/test/):
#   1. Debian's chromium and Node.js, and the page's npm packages (npm ci in
#      web/, only when web/package-lock.json changed);
#   2. the module, quorvane-host, the emulator and the page, built into
#      build/ (or QUORVANE_BUILD_DIR);
#   3. Node's test runner on web/test/*.test.mjs: headless Chromium, driven
#      by playwright-core, logs in through `quorvane-host serve` to the
#      emulator, both on 127.0.0.1 ephemeral ports and stopped by their
#      PIDs; json-rpc-2.0 sends a login, a batch and a notification.
# --screenshot also saves the good login as docs/login-page.png, the
# picture in docs/running.md.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$here"
build=${QUORVANE_BUILD_DIR:-build}
# shellcheck source=tools/ci/lib.sh
. "$here/tools/ci/lib.sh"

# shellcheck disable=SC2046 # package names are words
ensure_packages $(packages_for browser)
web_modules
major=$(node -p 'process.versions.node.split(".")[0]')
if [ "$major" -lt 20 ]; then
  echo "the browser tests need Node.js 20 or later (playwright-core); this is $(node --version)" >&2
  exit 1
fi

[ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target quorvane quorvane-host quorvane-mock-service quorvane-login-page

export QUORVANE_BUILD_DIR
QUORVANE_BUILD_DIR=$(cd "$build" && pwd)
if [ "${1:-}" = --screenshot ]; then
  export QUORVANE_LOGIN_SCREENSHOT=$here/docs/login-page.png
fi
cd web
node --test --test-reporter=spec test/*.test.mjs
