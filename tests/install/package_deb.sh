#!/usr/bin/env bash
# Builds the Debian package with CPack into a temporary folder and inspects it
# with dpkg-deb: its control data (name, dependencies on the Qt 6 libraries,
# the platform plugins and the Japanese font, the Wayland plugin and
# bash-completion recommended, the descriptive fields) and its file list.
set -euo pipefail
. "$(dirname "$0")/common.sh"

require cpack cmake
require dpkg-deb dpkg
require dpkg-shlibdeps dpkg-dev

out=$work/out
mkdir -p "$out"
(cd "$work" && cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$out") >"$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log" >&2; fail "cpack -G DEB failed"; }

shopt -s nullglob
debs=("$out"/tessera_*.deb)
[ ${#debs[@]} -eq 1 ] || fail "expected one tessera_*.deb, found ${#debs[@]}"
deb=${debs[0]}

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tessera ] || fail "Package is '$(field Package)'"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
for f in Version Maintainer Section Priority Description; do
  [ -n "$(field "$f")" ] || fail "empty $f field"
done
# The description names what the command line adds, recovery sets among it.
for word in tessera-cli checksum "recovery sets" repair; do
  grep -q "$word" <<<"$(field Description)" || fail "the description does not mention $word"
done

# One name per line, without version constraints or alternatives.
depends=$(field Depends | tr ',|' '\n\n' | sed 's/(.*)//; s/[[:space:]]//g' | grep -v '^$' | sort -u)
for pkg in libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins fonts-ipafont-gothic qt6-translations-l10n libssl3; do
  grep -qx "$pkg" <<<"$depends" || fail "Depends lacks $pkg: $(field Depends)"
done
# The libraries found by dpkg-shlibdeps carry the minimum version they need.
field Depends | grep -q 'libqt6widgets6 (>= ' || fail "libqt6widgets6 without a version: $(field Depends)"
for pkg in qt6-wayland bash-completion; do
  field Recommends | tr ',' '\n' | sed 's/[[:space:]]//g' | grep -qx "$pkg" \
    || fail "Recommends lacks $pkg: $(field Recommends)"
done

files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $NF }' | sed 's|^\./||' | sort)
grep -qx usr/bin/tessera <<<"$files" || fail "usr/bin/tessera not packaged"
ids=$(grep '^usr/share/applications/.*\.desktop$' <<<"$files" | sed 's|.*/||; s|\.desktop$||')
[ "$(wc -w <<<"$ids")" -eq 1 ] || fail "expected one desktop entry, found: $ids"
id=$ids
expected=$(printf '%s\n' \
  usr/bin/tessera \
  usr/bin/tessera-cli \
  usr/share/man/man1/tessera.1.gz \
  usr/share/man/man1/tessera-cli.1.gz \
  usr/share/bash-completion/completions/tessera-cli \
  "usr/share/applications/$id.desktop" \
  "usr/share/metainfo/$id.metainfo.xml" \
  "usr/share/icons/hicolor/16x16/apps/$id.png" \
  "usr/share/icons/hicolor/32x32/apps/$id.png" \
  "usr/share/icons/hicolor/48x48/apps/$id.png" \
  "usr/share/icons/hicolor/scalable/apps/$id.svg" \
  "usr/share/kio/servicemenus/$id.desktop" \
  usr/share/doc/tessera/copyright | sort)
[ "$files" = "$expected" ] || fail "packaged files differ:$(diff <(echo "$expected") <(echo "$files") || true)"

# The removal script takes along the log file the program may have left
# beside itself, and nothing else.
dpkg-deb -e "$deb" "$work/control"
postrm=$work/control/postrm
[ -x "$postrm" ] || fail "no executable postrm"
sh -n "$postrm" || fail "postrm is not valid shell"
grep -q '"/usr/bin/log.txt"' "$postrm" || fail "postrm does not name /usr/bin/log.txt"

# The packaged program runs without a run path into the build tree.
dpkg-deb -x "$deb" "$work/root"
if command -v readelf >/dev/null 2>&1; then
  ! readelf -d "$work/root/usr/bin/tessera" | grep -Eq 'RPATH|RUNPATH' \
    || fail "packaged tessera carries a run path: $(readelf -d "$work/root/usr/bin/tessera" | grep -E 'RPATH|RUNPATH')"
fi

echo "OK: $(basename "$deb"): Depends: $(field Depends)"
