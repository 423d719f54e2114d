#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and checks what a desktop
# needs from it: the program, a valid desktop entry that opens files and
# AppStream metainfo that name each other, the icon at 16, 32, 48 pixels and
# as a scalable image, the file manager's service menu, and the licence; and
# the command line with its manual page and bash completion.
set -euo pipefail
. "$(dirname "$0")/common.sh"

require desktop-file-validate desktop-file-utils
require appstreamcli appstream

prefix=$work/prefix
install_into "$prefix"

[ -x "$prefix/bin/tessera" ] || fail "bin/tessera missing or not executable"

shopt -s nullglob
entries=("$prefix"/share/applications/*.desktop)
[ ${#entries[@]} -eq 1 ] || fail "expected one desktop entry, found ${#entries[@]}"
entry=${entries[0]}
id=$(basename "$entry" .desktop)
case "$id" in
  *.*.*) ;;
  *) fail "desktop entry name '$id' is not a reverse-DNS application id" ;;
esac

desktop-file-validate "$entry" || fail "desktop-file-validate rejects $entry"

key() { sed -n "s/^$1=//p" "$entry" | head -n 1; }
[ "$(key Type)" = Application ] || fail "Type is '$(key Type)'"
[ "$(key Name)" = Tessera ] || fail "Name is '$(key Name)'"
[ -n "$(key Comment)" ] || fail "no Comment"
[ "$(key Icon)" = "$id" ] || fail "Icon '$(key Icon)' is not the application id '$id'"
exec_cmd=$(key Exec)
[ "${exec_cmd%% *}" = tessera ] || fail "Exec '$exec_cmd' does not start the installed tessera"
# "Open With" hands over the chosen files.
[ "$exec_cmd" = "tessera %F" ] || fail "Exec '$exec_cmd' does not take the files (tessera %F)"
case ";$(key MimeType)" in
  *";application/octet-stream;"*) ;;
  *) fail "MimeType '$(key MimeType)' lacks application/octet-stream" ;;
esac
case ";$(key Categories)" in
  *";Utility;"*) ;;
  *) fail "Categories '$(key Categories)' lack Utility" ;;
esac

metainfo=$prefix/share/metainfo/$id.metainfo.xml
[ -f "$metainfo" ] || fail "no metainfo named after the id: $metainfo"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli rejects $metainfo"
grep -q "<id>$id</id>" "$metainfo" || fail "metainfo id differs from '$id'"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" \
  || fail "metainfo does not launch $id.desktop"
grep -q "<binary>tessera</binary>" "$metainfo" || fail "metainfo does not provide the tessera binary"
grep -q "<project_license>MIT</project_license>" "$metainfo" || fail "metainfo does not name the MIT licence"

# The service menu: KDE's own type "Service", whose keys the validator only
# knows for applications; read as an application entry it must be valid.
menu=$prefix/share/kio/servicemenus/$id.desktop
[ -f "$menu" ] || fail "no service menu $menu"
grep -qx 'Type=Service' "$menu" || fail "service menu is not of type Service"
sed 's/^Type=Service$/Type=Application/' "$menu" >"$work/menu.desktop"
desktop-file-validate "$work/menu.desktop" || fail "desktop-file-validate rejects the service menu $menu"
action() { sed -n "/^\[Desktop Action $1\]/,/^\[/p" "$menu" | sed -n "s/^$2=//p"; }
[ "$(action split Name)" = "Tesseraで分割" ] || fail "split action named '$(action split Name)'"
[ "$(action split Exec)" = "tessera --split %f" ] || fail "split action runs '$(action split Exec)'"
[ "$(action join Name)" = "Tesseraで結合" ] || fail "join action named '$(action join Name)'"
[ "$(action join Exec)" = "tessera --join %F" ] || fail "join action runs '$(action join Exec)'"

# The licence in Debian's machine-readable copyright format.
copyright=$prefix/share/doc/tessera/copyright
[ -f "$copyright" ] || fail "no $copyright"
head -n 1 "$copyright" | grep -q '^Format: .*copyright-format/1.0/\?$' || fail "$copyright lacks the Format line"
grep -qx 'Files: \*' "$copyright" || fail "$copyright has no Files: * paragraph"
grep -qx 'Copyright: 2026 Tessera developers' "$copyright" || fail "$copyright lacks the copyright holder"
[ "$(grep -cx 'License: MIT' "$copyright")" -eq 2 ] || fail "$copyright does not state the MIT licence and its text"
grep -q '^ Permission is hereby granted, free of charge' "$copyright" || fail "$copyright lacks the licence text"

for size in 16 32 48; do
  icon=$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png
  [ -f "$icon" ] || fail "missing $icon"
  actual=$(png_size "$icon")
  [ "$actual" = "${size}x${size}" ] || fail "$icon is $actual pixels"
done
svg=$prefix/share/icons/hicolor/scalable/apps/$id.svg
[ -f "$svg" ] || fail "missing $svg"
grep -q "<svg" "$svg" || fail "$svg is no SVG image"

# The command line: no Qt linked, its manual page readable by man, its bash
# completion in the folder bash-completion looks in.
cli=$prefix/bin/tessera-cli
[ -x "$cli" ] || fail "bin/tessera-cli missing or not executable"
! ldd "$cli" | grep -qi qt || fail "tessera-cli links Qt: $(ldd "$cli" | grep -i qt)"
"$cli" --version | grep -q '^tessera-cli ' || fail "tessera-cli --version: $("$cli" --version)"
man=$prefix/share/man/man1/tessera-cli.1.gz
gzip -dc "$man" | grep -q '^\.TH "tessera-cli" "1"' || fail "no manual page at $man"
# The program's own manual page, which names its files and the command line.
man=$prefix/share/man/man1/tessera.1.gz
gzip -dc "$man" | sed 's/\\&//g' >"$work/tessera.1" || fail "no manual page at $man"
grep -q '^\.TH "tessera" "1"' "$work/tessera.1" || fail "$man is no manual page of tessera(1)"
for word in log.txt Tessera.conf tessera-cli "tessera-cli repair"; do
  grep -q "$word" "$work/tessera.1" || fail "$man does not mention $word"
done
completion=$prefix/share/bash-completion/completions/tessera-cli
bash -n "$completion" || fail "$completion is not valid bash"
grep -q 'complete -F _tessera_cli tessera-cli' "$completion" || fail "$completion completes nothing"

# Nothing else lands in the prefix: no libraries, headers or test files.
expected=$(printf '%s\n' \
  bin/tessera \
  bin/tessera-cli \
  share/man/man1/tessera.1.gz \
  share/man/man1/tessera-cli.1.gz \
  share/bash-completion/completions/tessera-cli \
  "share/applications/$id.desktop" \
  "share/metainfo/$id.metainfo.xml" \
  "share/icons/hicolor/16x16/apps/$id.png" \
  "share/icons/hicolor/32x32/apps/$id.png" \
  "share/icons/hicolor/48x48/apps/$id.png" \
  "share/icons/hicolor/scalable/apps/$id.svg" \
  "share/kio/servicemenus/$id.desktop" \
  share/doc/tessera/copyright | sort)
actual=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
[ "$actual" = "$expected" ] || fail "installed files differ:$(diff <(echo "$expected") <(echo "$actual") || true)"

echo "OK: $id installed and validated"
