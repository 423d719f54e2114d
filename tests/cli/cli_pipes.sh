#!/usr/bin/env bash
# tessera-cli in pipelines, GNU split as the oracle: cuts that keep records
# whole (--snap) against split -C.
#   cli_pipes.sh <path of tessera-cli>
set -uo pipefail

cli=$(realpath "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/tessera-pipes-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# same_parts OURS GNU: the parts OURS.000... hold what GNU's do, in order.
same_parts() {
  local ours=$1 gnu=$2 i=0 part
  for part in "$gnu".*; do
    [ -e "$part" ] || break
    cmp -s "$part" "$ours.$(printf %03d $i)" || { echo "$ours.$(printf %03d $i) differs from $part"; return 1; }
    i=$((i + 1))
  done
  [ ! -e "$ours.$(printf %03d $i)" ] || { echo "$ours.$(printf %03d $i) is one part too many"; return 1; }
}

# Lines of random lengths, some longer than a part, the last without its
# line feed: text SEED LINES LONGEST.
text() {
  awk -v seed="$1" -v lines="$2" -v longest="$3" 'BEGIN { srand(seed);
    pool = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"
    while (length(pool) < 2 * longest + 2) pool = pool pool
    for (i = 0; i < lines; i++) {
      n = int(rand() * longest)
      printf "%s%s", substr(pool, 1 + int(rand() * longest), n), (i < lines - 1 ? "\n" : "") } }'
}

# --- --snap on a file: the parts of split -C --------------------------------------
mkdir snap
while read -r seed lines longest size; do
  rm -f snap/*
  text "$seed" "$lines" "$longest" >snap/t
  (cd snap && split -a 3 -d -C "$size" t gnu.)
  "$cli" split -q --size "$size" --snap 0a snap/t || fail "split --snap 0a of $lines lines, $size: exit $?"
  said=$(same_parts snap/t snap/gnu) || fail "--size $size --snap 0a: $said"
done <<TABLE
1 200 40 100
2 300 500 400
3 20 8 3
4 1000 3000 70000
TABLE
# An empty file has no parts, as with split -C.
: >snap/empty
"$cli" split -q --size 10 --snap 0a snap/empty && [ ! -e snap/empty.000 ] || fail "--snap of an empty file"
# A pattern of several bytes ends each part after its last whole occurrence.
printf 'ab\r\ncd\r\n\r\nefgh' >snap/crlf
[ "$("$cli" plan --size 5 --snap '0d 0a' snap/crlf | tr '\n' ,)" = "0 4,4 8,8 10,10 14," ] || fail "--snap 0d0a"

[ $failures -eq 0 ] || { echo "$failures failures"; exit 1; }
echo "OK"
