#!/usr/bin/env bash
# Installs a built tree into a temporary prefix and checks that every file of
# the desktop integration is in its place and reads as its kind: the program,
# the menu entry (starting the program with the file it is given, for the
# saved-find type), the icons, the help page, the file type that maps
# *.qnd files to Quindelo (compiled with update-mime-database when present),
# and the command-line finder with the user unit of its find service.
# Usage: scripts/check_install.sh <build folder> [1 when the program is built]
set -euo pipefail
build=${1:?build folder}
check_program=${2:-1}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
need_file() {
  [ -f "$prefix/$1" ] && [ -s "$prefix/$1" ] || fail "missing or empty: $1"
}

if [ "$check_program" = 1 ]; then
  need_file bin/quindelo
  [ -x "$prefix/bin/quindelo" ] || fail "bin/quindelo is not executable"
fi
need_file bin/quindelo-find
[ -x "$prefix/bin/quindelo-find" ] || fail "bin/quindelo-find is not executable"
unit=share/systemd/user/quindelo-find.service
need_file "$unit"
if [ -f "$prefix/$unit" ]; then
  grep -qx "ExecStart=$prefix/bin/quindelo-find --serve" "$prefix/$unit" ||
    fail "$unit: ExecStart does not run the installed quindelo-find --serve"
  grep -qx 'Type=simple' "$prefix/$unit" || fail "$unit: Type is not simple"
  grep -qx 'Restart=on-failure' "$prefix/$unit" || fail "$unit: Restart is not on-failure"
fi
desktop=share/applications/quindelo.desktop
need_file "$desktop"
need_file share/icons/hicolor/scalable/apps/quindelo.svg
need_file share/icons/hicolor/64x64/apps/quindelo.png
need_file share/quindelo/help/index.html
need_file share/mime/packages/quindelo.xml

if [ -f "$prefix/$desktop" ]; then
  grep -qx 'Exec=quindelo %f' "$prefix/$desktop" || fail "$desktop: Exec is not 'quindelo %f'"
  grep -qx 'Icon=quindelo' "$prefix/$desktop" || fail "$desktop: Icon is not quindelo"
  grep -qx 'MimeType=application/x-quindelo-find;' "$prefix/$desktop" ||
    fail "$desktop: MimeType is not the saved-find type"
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$prefix/$desktop" || fail "$desktop does not validate"
  fi
fi
grep -q '<svg' "$prefix/share/icons/hicolor/scalable/apps/quindelo.svg" || fail "icon is no SVG"
head -c 8 "$prefix/share/icons/hicolor/64x64/apps/quindelo.png" | od -An -tx1 |
  grep -q '89 50 4e 47' || fail "64x64 icon is no PNG"
for anchor in quick-start look-in browse named containing containing-syntax results saved-finds keys; do
  grep -q "id=\"$anchor\"" "$prefix/share/quindelo/help/index.html" ||
    fail "help page has no section #$anchor"
done

if command -v update-mime-database >/dev/null; then
  update-mime-database "$prefix/share/mime" >/dev/null 2>&1 || fail "update-mime-database failed"
  grep -q '^50:application/x-quindelo-find:\*\.qnd$' "$prefix/share/mime/globs2" 2>/dev/null ||
    fail "*.qnd does not map to application/x-quindelo-find"
  grep -q 'Pemblet Software Quindelo File' "$prefix/share/mime/magic" 2>/dev/null ||
    fail "the saved-find signature is not in the compiled magic"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed under $prefix"
  exit 1
fi
echo "install into a temporary prefix: every file in place"
