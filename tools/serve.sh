#!/usr/bin/env bash
# The login as the appliance's users make it, off the appliance: the service
# emulator with a throwaway account, and the development host's web service
# agent (quorvane-host serve) with a throwaway appliance key, both on
# loopback ports, until Ctrl-C.  Prints the page's address and the account
# to type into it.  Arguments after the build folder go to serve (for
# example --listen 127.0.0.1:8080).
set -euo pipefail
build=${1:-build}
[ $# -gt 0 ] && shift
bin="$build/bin"
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-serve.XXXXXX")
mock_pid=
serve_pid=
cleanup() {
  trap - EXIT INT TERM
  for pid in $serve_pid $mock_pid; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in $serve_pid $mock_pid; do
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'echo; echo "stopping"; exit 0' INT TERM

# port_of LINE: the port of "listening on HOST:PORT".
port_of() { printf '%s\n' "${1##*:}"; }

access_key=DEMO-ACCESS-KEY
# A fresh secret for this run's emulator only; it may be shown, nothing
# else takes it.  It reaches the emulator in a file, never on a command line.
secret="demo-$(od -An -N9 -tx1 /dev/urandom | tr -d ' \n')"
(umask 077 && printf '%s\n' "$secret" >"$work/secret")

exec 3< <(exec "$bin/quorvane-mock-service" --listen 127.0.0.1:0 --access-key "$access_key" \
  --secret-key-file "$work/secret" --version 7.1.0)
mock_pid=$!
read -r -t 30 listening <&3 || { echo "the emulator did not start" >&2; exit 1; }
mock_port=$(port_of "$listening")

"$bin/quorvane-host" keygen --out "$work/key" >/dev/null

exec 4< <(exec "$bin/quorvane-host" serve --key "$work/key/appliance.key" "$@")
serve_pid=$!
read -r -t 30 listening <&4 || { echo "quorvane-host serve did not start" >&2; exit 1; }
address=${listening#listening on }
scheme=http
for arg in "$@"; do
  [ "$arg" = --tls-cert ] && scheme=https
done

cat <<EOF

  The login page:  $scheme://$address/

  Type this account into it (a throwaway one, for this run only):
    Host        127.0.0.1
    Port        $mock_port
    TLS         off
    Access key  $access_key
    Secret key  $secret

  The service emulator and the agent log below.  Ctrl-C stops both.

EOF
wait "$serve_pid"
