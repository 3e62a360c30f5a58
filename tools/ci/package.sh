#!/usr/bin/env bash
# The amd64 Debian package, checked from an unpacked root: builds the module,
# the development host and the tools (Release, no tests) into build-pkg/ (or
# QUORVANE_PKG_BUILD_DIR), makes the package with CPack, unpacks it with
# dpkg -x into a temporary directory, and from there
#   - runs quorvane-host probe and checks that it reports Quorvane_Proxy,
#     with the development host and the module loaded from the unpacked tree
#     (not from the build tree, not from /usr);
#   - logs in through the unpacked module to the unpacked service emulator
#     (started on 127.0.0.1, stopped by its PID).
# Exits non-zero on any failure.  Each step prints its time.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$here"
build=${QUORVANE_PKG_BUILD_DIR:-build-pkg}
jobs=$(nproc)

packages=(
  build-essential dpkg-dev cmake ninja-build pkg-config
  libace-dev libssl-dev libcurl4-openssl-dev libcpp-httplib-dev nlohmann-json3-dev
)

# shellcheck source=tools/ci/lib.sh
. "$here/tools/ci/lib.sh"
fail() {
  echo "package check failed: $*" >&2
  exit 1
}



work=$(mktemp -d /tmp/quorvane-package.XXXXXX)
mock_pid=
cleanup() {
  if [ -n "$mock_pid" ]; then
    kill "$mock_pid" 2>/dev/null || true
    wait "$mock_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

begin "packages"
ensure_packages "${packages[@]}"
end

begin "build $build (Release, module, development host, tools)"
# Configured every time, so that an older build directory gets these settings.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DBUILD_TESTING=OFF -DQUORVANE_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j "$jobs"
end

begin "amd64 Debian package (CPack)"
rm -f "$build"/quorvane_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/quorvane_*_amd64.deb)
dpkg-deb -f "$deb" Package Version Architecture Depends
dpkg-deb -c "$deb" | awk '$6 !~ /\/$/ { print $3, $6 }'
ls -l "$deb"
end

begin "quorvane-host probe from the unpacked package"
root=$work/root
dpkg -x "$deb" "$root"
libdir=$(cd "$root/usr/lib" && ls -d */quorvane | head -n 1)
libdir=${libdir%/quorvane}
host=$root/usr/bin/quorvane-host
for f in usr/bin/quorvane-host usr/bin/quorvane-mock-service "usr/lib/$libdir/libquorvane-devhost.so" \
  "usr/lib/$libdir/quorvane/libquorvane.so"; do
  [ -f "$root/$f" ] || fail "the package has no /$f"
done
# LD_DEBUG=files names every object the loader opens: both ours must come
# from the unpacked tree.
LD_DEBUG=files "$host" probe >"$work/probe.out" 2>"$work/probe.err" ||
  fail "quorvane-host probe exited with $?: $(cat "$work/probe.err")"
cat "$work/probe.out"
grep -q '"name": *"Quorvane_Proxy"' "$work/probe.out" || fail "probe did not report Quorvane_Proxy"
loaded=$(grep -o '/[^ ]*/libquorvane[-a-z]*\.so' "$work/probe.err" | xargs -r realpath -m | sort -u)
expected=$(realpath -m "$root/usr/lib/$libdir/libquorvane-devhost.so" "$root/usr/lib/$libdir/quorvane/libquorvane.so" |
  sort -u)
[ "$loaded" = "$expected" ] || fail "probe loaded $(echo $loaded), not the unpacked $(echo $expected)"
printf 'loaded %s\n' $loaded
end

begin "login through the unpacked module to the unpacked emulator"
access_key=PACKAGE-CHECK-KEY
secret='package check secret, longer than a short string'
"$host" keygen --out "$work" >/dev/null
exec 3< <(exec "$root/usr/bin/quorvane-mock-service" --listen 127.0.0.1:0 --access-key "$access_key" \
  --secret-key "$secret" --version 7.1.0 2>"$work/mock.log")
mock_pid=$!
read -r -t 30 listening <&3 || fail "the emulator did not start: $(cat "$work/mock.log")"
port=${listening##*:}
reply=$(QUORVANE_SECRET_KEY=$secret "$host" login --key "$work/appliance.key" --host 127.0.0.1 \
  --port "$port" --access-key "$access_key") || fail "login exited with $?"
printf '%s\n' "$reply"
grep -q '"version": *"7\.1\.0"' <<<"$reply" || fail "the login reply does not carry the service version 7.1.0"
kill "$mock_pid"
wait "$mock_pid" || true
mock_pid=
exec 3<&-
end

say "package check passed; step times:"
step_times
