#!/usr/bin/env bash
# split --recovery from the shell, par2 as the oracle: the set it writes
# verifies for sources of every shape, par2 and tessera-cli each rebuild a
# deleted part and a damaged one from it, and both refuse more damage than
# it can mend. Bad percentages, a set already there and a stopped split
# leave nothing behind.
#   cli_recovery.sh <path of tessera-cli>
set -uo pipefail

if ! command -v par2 >/dev/null 2>&1; then
  echo "par2 is not installed: the recovery set tests need it as their oracle"
  exit 77
fi
cli=$(realpath "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/tessera-recovery-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# flip_byte FILE OFFSET: the byte at OFFSET changed, whatever it held (a
# fixed byte written over random data would leave it as it was once in 256).
flip_byte() {
  local old
  old=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  printf "\\$(printf '%03o' $((old ^ 0xFF)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# --- sets that par2 finds intact -------------------------------------------------
# name | bytes | split tools | percent
while IFS='|' read -r name bytes tools percent; do
  mkdir "$name"
  head -c "$bytes" /dev/urandom >"$name/src"
  # shellcheck disable=SC2086
  "$cli" split -q --recovery "$percent" $tools "$name/src" || fail "$name: split exit $?"
  [ -f "$name/src.par2" ] || { fail "$name: no src.par2"; continue; }
  ls "$name"/src.vol*.par2 >/dev/null 2>&1 || fail "$name: no volume"
  (cd "$name" && par2 verify -q -q src.par2 >/dev/null 2>&1) || fail "$name: par2 verify refuses the set"
done <<'EOF'
one-byte|1|--pieces 1|10
slice-less-one|63|--pieces 1|100
odd-parts|100001|--size 30000|10
many-parts|65536|--size 1000|5
uneven-plan|50000|--range 0:1 --range 10:10 --range 1:49999 --extract 100:7|50
EOF

# Parts of a sparse source across and above 4 GiB: offsets past 32 bits.
mkdir sparse
truncate -s 5G sparse/src
head -c 100000 /dev/urandom | dd of=sparse/src bs=1000 seek=4294917 conv=notrunc status=none
"$cli" split -q --recovery 20 --extract 4294917296:100000 --extract 4294967296:1234 sparse/src ||
  fail "sparse: split exit $?"
(cd sparse && par2 verify -q -q src.par2 >/dev/null 2>&1) || fail "sparse: par2 verify refuses the set"
rm -rf sparse

# The percentage comes in whole slices, rounded up; the volumes double.
head -c 10000 /dev/urandom >names.bin
"$cli" split -q --recovery 10% --size 100 names.bin || fail "split --recovery 10%: exit $?"
[ "$(ls names.bin*.par2 | tr '\n' ' ')" = "names.bin.par2 names.bin.vol00+1.par2 names.bin.vol01+2.par2 names.bin.vol03+4.par2 names.bin.vol07+3.par2 " ] ||
  fail "volumes named: $(ls names.bin*.par2 | tr '\n' ' ')"

# --- repair: one part deleted, one byte changed in another ---------------------------
# 4 parts of 30000 bytes (the last 10000), 54 slices, 40 %: 22 recovery slices,
# more than the 16 slices of a part.
mkdir mend && cd mend || exit 1
head -c 100000 /dev/urandom >src
"$cli" split -q --checksum --recovery 40 --size 30000 src || fail "split for repair: exit $?"
cp src original && rm src
damage() {
  rm -f src.001
  flip_byte src.002 4321
}
join_equals() {
  rm -f joined
  "$cli" join -q --no-check -o joined src.000 src.001 src.002 src.003 && cmp -s joined original
}
damage
par2 repair -q -q src.par2 >/dev/null 2>&1 || fail "par2 repair refuses the set"
join_equals || fail "par2 repair did not rebuild the parts"
rm -f src.00?.1 src.*.par2.1
damage
"$cli" repair -q src.par2 >/dev/null || fail "tessera-cli repair: exit $?"
join_equals || fail "tessera-cli repair did not rebuild the parts"
"$cli" verify -q src.sha256 || fail "verify after repair: exit $?"

# Two whole parts lost (32 slices): more than the set holds; both tools
# refuse and change nothing.
rm src.000 src.001
par2 repair -q -q src.par2 >/dev/null 2>&1 && fail "par2 repairs two lost parts"
"$cli" repair -q src.par2 >/dev/null 2>&1 && fail "tessera-cli repairs two lost parts"
[ ! -e src.000 ] && [ ! -e src.001 ] || fail "a refused repair wrote a part"
cd .. || exit 1

# --- a stale set ----------------------------------------------------------------
# A set left from an earlier split of a source since changed: verify calls it
# stale rather than repairable, and repair changes none of the new parts.
mkdir stale && cd stale || exit 1
head -c 30000 /dev/urandom >src
"$cli" split -q --checksum --recovery 10 --size 10000 src || fail "stale: first split: exit $?"
flip_byte src 15000
rm src.00? src.sha256
"$cli" split -q --checksum --size 10000 src 2>/dev/null || fail "stale: second split: exit $?"
cp src.001 new.001
out=$("$cli" verify src.sha256 2>&1); status=$?
[ $status -eq 0 ] || fail "stale: verify of the new parts: exit $status: $out"
grep -q '^src.par2: recovery set STALE' <<<"$out" || fail "stale: the set reported as: $out"
grep -qx 'src.001: STALE (intact by its checksum)' <<<"$out" || fail "stale: the new part reported as: $out"
grep -q 'REPAIRABLE' <<<"$out" && fail "stale: the set called repairable: $out"
err=$("$cli" repair src.par2 2>&1 >/dev/null); status=$?
[ $status -eq 1 ] || fail "stale: repair: exit $status"
grep -q 'the set is older than the files; nothing changed' <<<"$err" || fail "stale: repair said: $err"
cmp -s src.001 new.001 || fail "stale: repair changed the new part"
[ "$(ls -A | grep -c '^src\.001\.')" -eq 0 ] || fail "stale: repair left files: $(ls -A)"
cd .. || exit 1

# --- refusals --------------------------------------------------------------------
head -c 5000 /dev/urandom >bad.bin
for percent in 0 101 abc 10.5 -5 1000% %; do
  msg=$("$cli" split -q --recovery "$percent" --size 1000 bad.bin 2>&1); status=$?
  [ $status -eq 2 ] || fail "--recovery '$percent': exit $status"
  grep -q 'not a whole percentage from 1 to 100' <<<"$msg" || fail "--recovery '$percent' said: $msg"
done
ls bad.bin.* >/dev/null 2>&1 && fail "a refused --recovery left files: $(ls bad.bin.*)"

# A set already there is kept, and no part is written; --force replaces it.
printf 'mine' >bad.bin.par2
msg=$("$cli" split -q --recovery 10 --size 1000 bad.bin 2>&1) && fail "a set in the way was overwritten"
grep -q "bad.bin.par2' exists; --force replaces it" <<<"$msg" || fail "a set in the way said: $msg"
[ "$(cat bad.bin.par2)" = mine ] || fail "the file in the way changed"
ls bad.bin.0* >/dev/null 2>&1 && fail "parts written although the set's name was taken"
"$cli" split -q --force --recovery 10 --size 1000 bad.bin || fail "--force: exit $?"
par2 verify -q -q bad.bin.par2 >/dev/null 2>&1 || fail "the replacing set does not verify"
rm -f bad.bin.*

# --into puts the set beside the parts.
mkdir into
"$cli" split -q --recovery 10 --into into --size 1000 bad.bin || fail "--into: exit $?"
(cd into && par2 verify -q -q bad.bin.par2 >/dev/null 2>&1) || fail "the set in --into does not verify"
rm -rf into

# A split stopped by SIGTERM leaves no recovery file, not even a temporary one.
head -c $((3 << 20)) /dev/urandom >slow.bin
"$cli" split -q --pace --recovery 10 --size 1M slow.bin 2>/dev/null &
pid=$!
# A loaded or instrumented build may take a while to start: wait for its
# first part, by which time every name must be taken.
for _ in $(seq 1000); do compgen -G '.slow.bin.000*' >/dev/null || [ -e slow.bin.000 ] && break; sleep 0.01; done
[ -e slow.bin.par2 ] || fail "the set's name is not taken while the split runs"
kill -TERM $pid
wait $pid; status=$?
[ $status -eq 143 ] || fail "stopped split: exit $status"
leftovers=$(ls -A | grep -E '^(slow\.bin\.par2|slow\.bin\.vol|\.slow\.bin.*tessera-)' || true)
[ -z "$leftovers" ] || fail "a stopped split left: $leftovers"

# An empty source has nothing to protect: said, and no set.
: >empty.bin
msg=$("$cli" split -q --recovery 10 --size 1000 empty.bin 2>&1) || fail "empty source: exit $?"
[ ! -e empty.bin.par2 ] || fail "a set for an empty source"

if [ $failures -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "cli_recovery: all passed"
