#!/usr/bin/env bash
# Logins through the loaded module (quorvane-host login) against real servers
# and a real proxy, all on 127.0.0.1, with the service emulator on plain HTTP
# behind them:
#   - nginx terminating TLS, once with TLS 1.3 only and once with TLS 1.2
#     only, serving the chain leaf + intermediate of a throwaway PKI while the
#     client's CA file holds only the root; with an unrelated CA file the
#     login fails and the log names the certificate that was not accepted;
#   - tinyproxy as the proxy: HTTPS through CONNECT and plain HTTP, each seen
#     in the proxy's own log, and NO_PROXY going around it.
# Each server runs as the current user from its own configuration in a
# temporary folder (TMPDIR honoured), on a free port picked below the
# kernel's ephemeral range (retried when taken), and is stopped by its PID.
# Each check prints one line; any failure exits non-zero.
#   QUORVANE_BUILD_DIR      build tree to use (default build/; configured
#                           and the three targets built when needed)
#   QUORVANE_INTEROP_KEEP=1 keep the temporary folder (configurations, logs)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$here"
build=${QUORVANE_BUILD_DIR:-build}
case $build in
  /*) bin=$build/bin ;;
  *) bin=$here/$build/bin ;;
esac
templates=$here/tools/ci/interop

# shellcheck source=tools/ci/lib.sh
. "$here/tools/ci/lib.sh"
# The build's packages (those of ./dev, whose configuration of the build
# tree needs the test and benchmark libraries too); nginx and tinyproxy-bin,
# the servers under test (tinyproxy-bin is the program alone, without the
# tinyproxy package's system service); iproute2's ss, which tells when a
# server listens.
packages=$(packages_for build module devhost tools tests bench interop)

# The caller's proxy and client settings must not steer these logins; each
# check sets what it tests.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY all_proxy NO_PROXY no_proxy
unset QUORVANE_CA_FILE QUORVANE_SECRET_KEY QUORVANE_HOST_KEY

work=$(mktemp -d -t quorvane-interop.XXXXXX)
pids=()
policy_rc_d=/usr/sbin/policy-rc.d
our_policy_rc_d=
cleanup() {
  local pid
  for pid in "${pids[@]}"; do
    stop_pid "$pid"
  done
  [ -z "$our_policy_rc_d" ] || rm -f "$policy_rc_d"
  if [ "${QUORVANE_INTEROP_KEEP:-}" = 1 ]; then
    echo "kept $work" >&2
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

current=
fail() {
  echo "FAIL  ${current:-interop}: $*" >&2
  echo "interop check failed" >&2
  exit 1
}
pass() { echo "PASS  $current: $*"; }

# alive PID: the process exists and has not exited (an exited child stays a
# zombie until it is waited for, and kill -0 still finds it).
alive() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  [ "${stat:0:1}" != Z ]
}

# stop_pid PID: SIGTERM, then SIGKILL if it is still there after 10 s.
stop_pid() {
  local pid=$1 deadline=$((SECONDS + 10))
  kill -TERM "$pid" 2>/dev/null || true
  while alive "$pid" && [ "$SECONDS" -lt "$deadline" ]; do
    sleep 0.05
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

forget_pid() {
  local keep=() p
  for p in "${pids[@]}"; do
    [ "$p" = "$1" ] || keep+=("$p")
  done
  pids=("${keep[@]}")
}

# wait_listening PID PORT LOG TAKEN: 0 once PID listens on PORT; 2 when LOG
# matches the extended regular expression TAKEN (the server's words for a
# port in use) first; 1 when PID exits otherwise or 30 s pass.
wait_listening() {
  local pid=$1 port=$2 log=$3 taken=$4 deadline=$((SECONDS + 30))
  while [ "$SECONDS" -lt "$deadline" ]; do
    ss -Hltnp "sport = :$port" 2>/dev/null | grep -q "pid=$pid," && return 0
    grep -qE "$taken" "$log" && return 2
    alive "$pid" || break
    sleep 0.05
  done
  grep -qE "$taken" "$log" && return 2
  return 1
}

# free_port: a port below the ephemeral range (where the kernel's own picks
# for port 0 and outgoing connections cannot take it meanwhile) that no
# socket uses now, as far as 100 tries find one.  Neither nginx nor
# tinyproxy takes port 0, so the caller retries when the server finds the
# port taken after all.
free_port() {
  local low port try
  read -r low _ </proc/sys/net/ipv4/ip_local_port_range
  [ "$low" -gt 12000 ] || low=61000
  for try in $(seq 100); do
    port=$((10000 + RANDOM % (low - 10000)))
    [ -n "$(ss -Htan "sport = :$port" 2>/dev/null)" ] || break
  done
  echo "$port"
}

# start_server NAME LOG TAKEN CONFIGURE COMMAND...: picks a port, lets
# CONFIGURE PORT write the configuration, starts COMMAND in the background
# with its output in LOG and waits until it listens; retries with another
# port when LOG matches TAKEN (see wait_listening).  Sets server_pid and
# server_port.
start_server() {
  local name=$1 log=$2 taken=$3 configure=$4 try rc
  shift 4
  for try in 1 2 3 4 5 6 7 8; do
    server_port=$(free_port)
    "$configure" "$server_port"
    : >"$log"
    "$@" >>"$log" 2>&1 &
    server_pid=$!
    pids+=("$server_pid")
    rc=0
    wait_listening "$server_pid" "$server_port" "$log" "$taken" || rc=$?
    [ "$rc" -ne 0 ] || return 0
    stop_pid "$server_pid"
    forget_pid "$server_pid"
    [ "$rc" -eq 2 ] || fail "$name did not start on port $server_port: $(tail -n 5 "$log")"
  done
  fail "$name found no free port in $try tries"
}

begin "interop: packages and build"
if [ "$(id -u)" -eq 0 ] && [ ! -e "$policy_rc_d" ] &&
  ! dpkg-query -W -f='${Status}' nginx 2>/dev/null | grep -q 'install ok installed'; then
  # Installing nginx starts its system service on port 80 where services
  # run.  A policy-rc.d that refuses every start keeps it stopped while the
  # packages install, and goes with the cleanup.  One that is there already
  # belongs to the machine and is left alone.
  our_policy_rc_d=1
  printf '#!/bin/sh\n# quorvane interop check: no service starts while it installs packages\nexit 101\n' \
    >"$policy_rc_d"
  chmod 755 "$policy_rc_d"
fi
# shellcheck disable=SC2086 # package names are words
ensure_packages $packages
if [ -n "$our_policy_rc_d" ]; then
  rm -f "$policy_rc_d"
  our_policy_rc_d=
fi
# Configured as ./dev configures it, when ./dev has not.
[ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target quorvane quorvane-host quorvane-mock-service
end

begin "interop: logins through nginx and tinyproxy"

# A throwaway PKI: root -> intermediate -> leaf for 127.0.0.1 and localhost,
# and an unrelated root.  P-256 keys: quick to make.
pki=$work/pki
mkdir -p "$pki"
make_key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$pki/$1.key" 2>/dev/null; }
# issue NAME SUBJECT SECTION [ISSUER]: a certificate for NAME.key, signed by
# ISSUER (self-signed without one).
issue() {
  local name=$1 subject=$2 section=$3 issuer=${4:-}
  make_key "$name"
  if [ -z "$issuer" ]; then
    openssl req -new -x509 -key "$pki/$name.key" -subj "$subject" -days 2 -sha256 \
      -extensions "$section" -config "$templates/pki.cnf" -out "$pki/$name.pem" 2>/dev/null
  else
    openssl req -new -key "$pki/$name.key" -subj "$subject" -config "$templates/pki.cnf" -out "$pki/$name.csr" 2>/dev/null
    openssl x509 -req -in "$pki/$name.csr" -CA "$pki/$issuer.pem" -CAkey "$pki/$issuer.key" -CAcreateserial \
      -days 2 -sha256 -extfile "$templates/pki.cnf" -extensions "$section" -out "$pki/$name.pem" 2>/dev/null
  fi
}
current="test PKI"
issue root "/CN=Quorvane interop root CA" ca || fail "openssl could not make the root"
issue intermediate "/CN=Quorvane interop intermediate CA" intermediate root || fail "openssl could not make the intermediate"
issue leaf "/CN=127.0.0.1" leaf intermediate || fail "openssl could not make the leaf"
issue unrelated "/CN=Unrelated CA" ca || fail "openssl could not make the unrelated CA"
# What nginx serves: the leaf and the intermediate, not the root.
cat "$pki/leaf.pem" "$pki/intermediate.pem" >"$pki/served-chain.pem"
openssl verify -CAfile "$pki/root.pem" -untrusted "$pki/intermediate.pem" "$pki/leaf.pem" >/dev/null ||
  fail "the leaf does not verify against the root through the intermediate"

current="appliance key"
"$bin/quorvane-host" keygen --out "$work" >/dev/null || fail "quorvane-host keygen failed"

access_key=INTEROP-ACCESS-KEY
secret='interop check secret, longer than the inline buffer'
version=7.1.0

# The emulator on plain HTTP, behind the servers under test.
start_emulator() {
  # The secret goes in a file only this user can read, never on the command
  # line, where every local user could see it.
  (umask 077 && printf '%s' "$secret" >"$work/secret")
  exec 3< <(exec "$bin/quorvane-mock-service" --listen 127.0.0.1:0 --access-key "$access_key" \
    --secret-key-file "$work/secret" --version "$version" 2>"$work/mock.log")
  mock_pid=$!
  pids+=("$mock_pid")
  local listening
  read -r -t 30 listening <&3 || fail "the emulator did not start: $(cat "$work/mock.log")"
  exec 3<&-
  mock_port=${listening##*:}
}
current="emulator"
start_emulator

# fill TEMPLATE NAME=VALUE...: TEMPLATE with each @NAME@ replaced.
fill() {
  local template=$1 pair script=()
  shift
  for pair in "$@"; do
    script+=(-e "s|@${pair%%=*}@|${pair#*=}|g")
  done
  sed "${script[@]}" "$template"
}

# nginx, from tools/ci/interop/nginx.conf; -e names the log it opens before
# reading its configuration, -p its prefix, both in the temporary folder.
nginx_dir=$work/nginx
mkdir -p "$nginx_dir"
nginx_protocols=
nginx_config() {
  local user=
  [ "$(id -u)" -ne 0 ] || user="user $(id -un) $(id -gn);"
  fill "$templates/nginx.conf" >"$nginx_dir/nginx.conf" DIR="$nginx_dir" PORT="$1" PKI="$pki" \
    PROTOCOLS="$nginx_protocols" UPSTREAM_PORT="$mock_port" USER="$user"
}
nginx_pid=
start_nginx() {
  nginx_protocols=$1
  : >"$nginx_dir/access.log"
  start_server nginx "$nginx_dir/stderr.log" 'Address already in use' nginx_config \
    nginx -e "$nginx_dir/error.log" -p "$nginx_dir/" -c "$nginx_dir/nginx.conf"
  nginx_pid=$server_pid
  nginx_port=$server_port
}
stop_nginx() {
  stop_pid "$nginx_pid"
  forget_pid "$nginx_pid"
  nginx_pid=
}

# tinyproxy, from tools/ci/interop/tinyproxy.conf.
proxy_dir=$work/tinyproxy
mkdir -p "$proxy_dir"
proxy_log=$proxy_dir/tinyproxy.log
tinyproxy_config() {
  fill "$templates/tinyproxy.conf" >"$proxy_dir/tinyproxy.conf" DIR="$proxy_dir" PORT="$1"
  # Run as root, tinyproxy wants a user named (it warns, then stays root).
  [ "$(id -u)" -ne 0 ] || printf 'User %s\nGroup %s\n' "$(id -un)" "$(id -gn)" >>"$proxy_dir/tinyproxy.conf"
}
start_tinyproxy() {
  # tinyproxy says no more than this when its port is taken.
  start_server tinyproxy "$proxy_dir/stderr.log" 'Could not create listening sockets' tinyproxy_config \
    tinyproxy -d -c "$proxy_dir/tinyproxy.conf"
  proxy_port=$server_port
}

# login NAME [VAR=VALUE...] -- [OPTION...]: one login through the module,
# the secret on stdin; its reply goes to NAME.out, its log to NAME.err.
# Returns the program's status.
login() {
  local name=$1 vars=()
  shift
  while [ "$1" != -- ]; do
    vars+=("$1")
    shift
  done
  shift
  printf '%s\n' "$secret" | env "${vars[@]}" "$bin/quorvane-host" login --key "$work/appliance.key" \
    --access-key "$access_key" --timeout 30 "$@" >"$work/$name.out" 2>"$work/$name.err"
}

# expect_success NAME: the login's reply carries the emulator's version.
expect_success() {
  grep -q "\"version\": *\"${version//./\\.}\"" "$work/$1.out" ||
    fail "no version $version in the reply: $(cat "$work/$1.out" "$work/$1.err")"
}

# new_lines FILE OFFSET: what FILE gained after OFFSET bytes.
new_lines() { tail -c +"$(($2 + 1))" "$1"; }
size_of() { stat -c %s "$1"; }

# nginx_saw PROTOCOL: the last request nginx logged was the settings GET,
# answered 200 over PROTOCOL; prints its protocol and cipher.
nginx_saw() {
  local last
  last=$(tail -n 1 "$nginx_dir/access.log")
  case $last in
    "GET /fcc/v1/settings"*" HTTP/1.1 200 $1 "*) echo "${last##* 200 }" ;;
    *) fail "nginx logged '${last:-nothing}', not a GET /fcc/v1/settings answered 200 over $1" ;;
  esac
}

current="nginx TLS 1.3"
start_nginx TLSv1.3
login tls13 -- --host 127.0.0.1 --port "$nginx_port" --ssl --ca-file "$pki/root.pem" ||
  fail "login exited with $?: $(cat "$work/tls13.err")"
expect_success tls13
saw=$(nginx_saw TLSv1.3)
pass "login through the chain root -> intermediate -> leaf, --ca-file holding the root only ($saw)"

current="nginx, unrelated CA"
rc=0
login unrelated -- --host 127.0.0.1 --port "$nginx_port" --ssl --ca-file "$pki/unrelated.pem" || rc=$?
[ "$rc" -eq 1 ] || fail "login exited with $rc, expected 1: $(cat "$work/unrelated.out" "$work/unrelated.err")"
grep -q '"code": *-32603' "$work/unrelated.out" || fail "the reply is not error -32603: $(cat "$work/unrelated.out")"
line=$(grep -F "failed: the service's certificate was not accepted (CA bundle: '$pki/unrelated.pem')" \
  "$work/unrelated.err") || fail "no certificate verification failure in the log: $(cat "$work/unrelated.err")"
# The line names a certificate nginx served, with its issuer, its depth and
# OpenSSL's reason: the leaf at depth 0, or the intermediate at depth 1 when
# the chain is built as far as the root that the CA file does not hold.
named="certificate 'CN=127\.0\.0\.1' issued by 'CN=Quorvane interop intermediate CA' \(chain depth 0\)"
named+="|certificate 'CN=Quorvane interop intermediate CA' issued by 'CN=Quorvane interop root CA' \(chain depth 1\)"
grep -qE "\): ($named): [a-z]" <<<"$line" || fail "the log line does not name the refused certificate: $line"
pass "login refused, -32603; log: ${line#*failed: }"

current="tinyproxy"
start_tinyproxy
pass "listening on 127.0.0.1:$proxy_port"

current="tinyproxy HTTPS (CONNECT)"
mark=$(size_of "$proxy_log")
login via-connect https_proxy="http://127.0.0.1:$proxy_port" -- --host 127.0.0.1 --port "$nginx_port" --ssl \
  --ca-file "$pki/root.pem" || fail "login exited with $?: $(cat "$work/via-connect.err")"
expect_success via-connect
saw=$(nginx_saw TLSv1.3)
seen=$(new_lines "$proxy_log" "$mark" | grep -o "Request (file descriptor [0-9]*): CONNECT 127\.0\.0\.1:$nginx_port [^ ]*") ||
  fail "the proxy log shows no CONNECT 127.0.0.1:$nginx_port: $(new_lines "$proxy_log" "$mark")"
pass "login through the proxy to nginx; proxy log: ${seen#*: } ($saw)"

current="tinyproxy plain HTTP"
mark=$(size_of "$proxy_log")
login via-http http_proxy="http://127.0.0.1:$proxy_port" -- --host 127.0.0.1 --port "$mock_port" ||
  fail "login exited with $?: $(cat "$work/via-http.err")"
expect_success via-http
seen=$(new_lines "$proxy_log" "$mark" |
  grep -o "Request (file descriptor [0-9]*): GET http://127\.0\.0\.1:$mock_port/fcc/v1/settings[^ ]* [^ ]*") ||
  fail "the proxy log shows no GET of the settings: $(new_lines "$proxy_log" "$mark")"
pass "login through the proxy to the emulator; proxy log: ${seen#*: }"

current="NO_PROXY"
for scheme in https http; do
  mark=$(size_of "$proxy_log")
  if [ "$scheme" = https ]; then
    login no-proxy-https https_proxy="http://127.0.0.1:$proxy_port" NO_PROXY=127.0.0.1 -- --host 127.0.0.1 \
      --port "$nginx_port" --ssl --ca-file "$pki/root.pem" || fail "login exited with $?: $(cat "$work/no-proxy-https.err")"
  else
    login no-proxy-http http_proxy="http://127.0.0.1:$proxy_port" NO_PROXY=127.0.0.1 -- --host 127.0.0.1 \
      --port "$mock_port" || fail "login exited with $?: $(cat "$work/no-proxy-http.err")"
  fi
  expect_success "no-proxy-$scheme"
  ! new_lines "$proxy_log" "$mark" | grep -E '(Connect|Request) \(file descriptor' ||
    fail "the proxy saw the $scheme login"
done
pass "with NO_PROXY=127.0.0.1 both logins (HTTPS and HTTP) went around the proxy: it logged no connection"

current="nginx TLS 1.2"
stop_nginx
start_nginx TLSv1.2
login tls12 QUORVANE_CA_FILE="$pki/root.pem" -- --host localhost --port "$nginx_port" --ssl ||
  fail "login exited with $?: $(cat "$work/tls12.err")"
expect_success tls12
saw=$(nginx_saw TLSv1.2)
pass "login to localhost, QUORVANE_CA_FILE holding the root only ($saw)"

end

step_times
