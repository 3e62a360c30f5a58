#!/usr/bin/env bash
# The main job, off the appliance: the development host loads the module as
# the appliance's host does, probes its instance provider, and logs in to the
# service emulator through the module's login handler, once with the right
# secret key and once with a wrong one.
set -euo pipefail
build=${1:-build}
bin="$build/bin"
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-demo.XXXXXX")
mock_pid=
cleanup() {
  [ -n "$mock_pid" ] && kill "$mock_pid" 2>/dev/null && wait "$mock_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

access_key=DEMO-ACCESS-KEY
secret='demo secret key, known to the service only'

# The secret goes to the emulator in a file and to the login in its
# environment, never on a command line, where ps shows it to every user.
# (printf is a shell builtin: no process of its own.)
(umask 077 && printf '%s\n' "$secret" >"$work/secret")

step "Starting the service emulator on a loopback port"
exec 3< <(exec "$bin/quorvane-mock-service" --listen 127.0.0.1:0 --access-key "$access_key" \
  --secret-key-file "$work/secret" --version 7.1.0 2>"$work/mock.log")
mock_pid=$!
read -r -t 10 listening <&3 || { echo "the emulator did not start:" >&2; cat "$work/mock.log" >&2; exit 1; }
port=${listening##*:}
echo "$listening"

step "Making a throwaway appliance key (quorvane-host keygen)"
"$bin/quorvane-host" keygen --out "$work"

step "Probing the module's instances (quorvane-host probe)"
"$bin/quorvane-host" probe

step "Logging in with the account's secret key (quorvane-host login)"
QUORVANE_SECRET_KEY=$secret "$bin/quorvane-host" login --key "$work/appliance.key" \
  --host 127.0.0.1 --port "$port" --access-key "$access_key"

step "Logging in with a wrong secret key: the service refuses the signature"
set +e
QUORVANE_SECRET_KEY='not the secret' "$bin/quorvane-host" login --key "$work/appliance.key" \
  --host 127.0.0.1 --port "$port" --access-key "$access_key"
rc=$?
set -e
[ "$rc" -eq 1 ] || { echo "expected the login to fail with status 1, got $rc" >&2; exit 1; }

step "What the emulator saw"
cat "$work/mock.log"
