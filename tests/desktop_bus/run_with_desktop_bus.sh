#!/usr/bin/env bash
# Runs a test program on a desktop of its own: a virtual X display (Xvfb)
# and a private session bus, which starts the accessibility bus by itself.
# DISPLAY is exported before the bus starts (the accessibility bus takes it
# from there). Without Xvfb or zenity the program is run with
# QUINDELO_DESKTOP_BUS_SKIP set to the reason, and skips.
set -u
program=$1
shift
missing=""
command -v Xvfb >/dev/null || missing="Xvfb is not installed"
command -v zenity >/dev/null || missing="${missing:+$missing; }zenity is not installed"
if [ -n "$missing" ]; then
  QUINDELO_DESKTOP_BUS_SKIP="$missing" exec "$program" "$@"
fi
command -v dbus-run-session >/dev/null || { echo "dbus-run-session is not installed" >&2; exit 1; }

runtime=$(mktemp -d "${TMPDIR:-/tmp}/quindelo-bus-XXXXXX")
cleanup() {
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$runtime"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number to the given fd.
exec 3>"$runtime/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$runtime/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 100); do
  [ -s "$runtime/display" ] && break
  sleep 0.1
done
if [ ! -s "$runtime/display" ]; then
  echo "Xvfb did not start:" >&2
  cat "$runtime/xvfb.log" >&2
  exit 1
fi
export DISPLAY=":$(head -n1 "$runtime/display")"
export XDG_RUNTIME_DIR="$runtime"
export LANG=C.UTF-8 LC_ALL=C.UTF-8
unset WAYLAND_DISPLAY AT_SPI_BUS_ADDRESS NO_AT_BRIDGE
# Under AddressSanitizer, whole stacks through the uninstrumented desktop
# libraries (their frames are matched by .ci/lsan.supp).
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}fast_unwind_on_malloc=0"
dbus-run-session -- "$program" "$@"
