#!/usr/bin/env bash
# Checks the kit as a driver writer meets it. Builds the "kit" preset (for
# /usr), installs it into a staging prefix, builds examples/ against that
# prefix alone in a fresh build directory and runs the example against the
# staged kivstandin on a private desktop; then builds the Debian packages,
# runs lintian on them, installs them with dpkg, runs the installed
# kivstandin and man, and removes the packages again.
# Installing the packages needs root (CI runs as root).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset kit >/dev/null
cmake --build --preset kit --parallel "$(nproc)"

work="$(mktemp -d)"
hub_pid=""
installed=()
cleanup() {
  [ -n "$hub_pid" ] && kill "$hub_pid" 2>/dev/null || true
  [ ${#installed[@]} -gt 0 ] && dpkg -r "${installed[@]}" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "kit-test.sh: $*" >&2; exit 1; }

echo "== staging install"
stage="$work/stage"
cmake --install build/kit --prefix "$stage" >/dev/null
for header in "$stage"/include/telm/*.h; do
  case "$(basename "$header")" in
    rkDriver.h|decodeTELMString.h|telmwm32.h|rkConfig.h|rkCheck.h|rkwin.h) ;;
    *) fail "a private header was installed: $header" ;;
  esac
done

echo "== the example against the staged kit"
cmake -S examples -B "$work/example" -DCMAKE_PREFIX_PATH="$stage" >/dev/null
cmake --build "$work/example" >/dev/null
PKG_CONFIG_PATH="$(dirname "$(find "$stage" -name rkdriver.pc)")" pkg-config --exists rkdriver \
  || fail "pkg-config does not know rkdriver"

export RK_DESKTOP="$work/desktop"
mkdir -m 700 "$RK_DESKTOP"
mkfifo "$work/hub.in"
"$stage/bin/kivstandin" --quiet --ready "$work/ready" <"$work/hub.in" >"$work/hub.out" 2>"$work/hub.err" &
hub_pid=$!
exec 3>"$work/hub.in"
for _ in $(seq 100); do [ -s "$work/ready" ] && break; sleep 0.1; done
[ -s "$work/ready" ] || fail "the staged hub did not start: $(cat "$work/hub.err")"

"$work/example/exampleDriver" 21 >"$work/example.out" 2>"$work/example.err" &
example_pid=$!
# hub_says TEXT: waits until the hub has printed a line starting with TEXT.
hub_says() {
  for _ in $(seq 200); do grep -q "^$1" "$work/hub.out" && return 0; sleep 0.05; done
  fail "the hub never said \"$1\": $(cat "$work/hub.out")"
}
example_says() {
  for _ in $(seq 200); do grep -qF "$1" "$work/example.out" && return 0; sleep 0.05; done
  fail "the example never printed \"$1\": $(cat "$work/example.out" "$work/example.err")"
}
example_says "sent IR 21 3 'hello' 0: KIV answered 1"
echo "ns 21 NS 21 0 'lamp on' 3 'word one' two" >&3
hub_says "ok ns 21"
echo "text 21 7 hello driver" >&3
hub_says "ok text 21"
echo "ask 21 2180" >&3
hub_says "ok ask 21 2180 1"
echo "close" >&3
hub_says "ok close 1"
wait "$example_pid" || fail "the example ended with exit code $?"
# With its last driver gone after closing, the hub ends by itself.
exec 3>&-
wait "$hub_pid" || fail "the staged hub ended with exit code $?"
hub_pid=""
for line in "registered as the driver of device 21" "NS for workstation 3 device 21: lamp on [word one] [two]" \
            "text: hello driver" \
            "state: 2" "KIV let go of device 21"; do
  grep -qF "$line" "$work/example.out" || fail "the example did not print \"$line\": $(cat "$work/example.out")"
done
cat "$work/example.out"

echo "== Debian packages"
(cd build/kit && cpack -G DEB -B "$work/packages" >/dev/null)
packages=("$work"/packages/telm-*.deb)
[ -e "${packages[0]}" ] || fail "cpack built no package"
ls -1 "${packages[@]}"
lintian --fail-on error "${packages[@]}"

for package in "${packages[@]}"; do installed+=("$(dpkg-deb -f "$package" Package)"); done
dpkg -i "${packages[@]}"
PATH=/usr/bin:/bin kivstandin --help >"$work/help.txt"
head -n 1 "$work/help.txt"
man -w kivstandin
man -w skerrowDriver
dpkg -r "${installed[@]}"
installed=()
command -v kivstandin >/dev/null && fail "kivstandin is still installed after dpkg -r"
echo "kit-test.sh: ok: the staged kit builds and runs the example; the packages pass lintian, install and remove"
