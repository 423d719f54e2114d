#!/usr/bin/env bash
# Recovery sets from the shell, par2 as the oracle: verify reports the state
# of the set beside the manifest (intact, repairable, not repairable) after
# the checksums, and its exit status stays that of the checksums; repair
# rebuilds a deleted file and a damaged one byte for byte (par2 agrees after),
# refuses too much damage changing nothing, and uses a damaged volume's
# intact packets.
#   cli_repair.sh <path of tessera-cli>
set -uo pipefail

if ! command -v par2 >/dev/null 2>&1; then
  echo "par2 is not installed: the recovery set tests need it as their oracle"
  exit 77
fi
cli=$(realpath "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/tessera-repair-test.XXXXXX")
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

# --- verify's report on the recovery set beside the manifest ------------------------
# 4 parts of 8000 bytes under slices of 1000: 32 slices, 4 recovery slices.
head -c 32000 /dev/urandom >src.bin
"$cli" split -q --checksum --size 8000 src.bin || fail "split: exit $?"
par2 create -q -q -s1000 -c4 src.bin.par2 src.bin.00? >/dev/null || fail "par2 create: exit $?"

out=$("$cli" verify src.bin.sha256); status=$?
[ $status -eq 0 ] || fail "verify of an intact set: exit $status"
[ "$(tail -n1 <<<"$out")" = "src.bin.par2: recovery set OK (4 recovery slices): rebuilds up to 4 damaged slices, no lost part" ] ||
  fail "intact set reported as: $(tail -n1 <<<"$out")"
[ -z "$("$cli" verify -q src.bin.sha256)" ] || fail "verify -q prints an intact set"

flip_byte src.bin.002 1500
cp src.bin.001 keep.001
rm src.bin.001
out=$("$cli" verify src.bin.sha256 2>/dev/null); status=$?
[ $status -eq 1 ] || fail "verify with a part missing: exit $status"
grep -qx 'src.bin.par2: recovery set NOT REPAIRABLE (9 slices of 32 damaged or missing, 4 recovery slices: short by 5)' <<<"$out" ||
  fail "a set short of slices reported as: $out"
grep -qx 'src.bin.001: MISSING' <<<"$out" || fail "the missing part not named: $out"
grep -qx 'src.bin.002: DAMAGED (1 slice)' <<<"$out" || fail "the damaged part not named: $out"

mv keep.001 src.bin.001
out=$("$cli" verify src.bin.sha256 2>/dev/null); status=$?
[ $status -eq 1 ] || fail "verify with a part damaged: exit $status"
grep -qx 'src.bin.par2: recovery set REPAIRABLE (1 slice of 32 damaged or missing, 3 recovery slices to spare)' <<<"$out" ||
  fail "a repairable set reported as: $out"
par2 verify -q -q src.bin.par2 >/dev/null 2>&1 && fail "par2 finds the damaged set intact"

# A set that cannot be read at all is said so, after the checksums.
printf 'not a recovery set' >src.bin.par2
rm -f src.bin.vol*.par2
out=$("$cli" verify src.bin.sha256 2>/dev/null)
[ "$(tail -n1 <<<"$out")" = "src.bin.par2: recovery set UNREADABLE (no intact main packet or file description)" ] ||
  fail "an unreadable set reported as: $(tail -n1 <<<"$out")"

# --- repair ----------------------------------------------------------------------
mkdir rep && cd rep || exit 1
head -c 100000 /dev/urandom >one.bin
head -c 30001 /dev/urandom >two.bin
par2 create -q -q -s2048 -c20 -n2 set.par2 one.bin two.bin >/dev/null || fail "par2 create: exit $?"
cp one.bin one.orig
cp two.bin two.orig

out=$("$cli" repair set.par2); status=$?
[ $status -eq 0 ] || fail "repair of an intact set: exit $status"
[ "$out" = "2 files intact: nothing to repair" ] || fail "repair of an intact set says: $out"

rm two.bin
flip_byte one.bin 50000
cp one.bin one.damaged
out=$("$cli" repair set.par2); status=$?
[ $status -eq 0 ] || fail "repair of a deleted and a damaged file: exit $status"
grep -qx 'two.bin: created' <<<"$out" || fail "the deleted file not created: $out"
grep -qx "one.bin: repaired; the damaged file kept as 'one.bin.1'" <<<"$out" || fail "the damaged file not repaired: $out"
cmp -s one.bin one.orig || fail "the damaged file rebuilt otherwise"
cmp -s one.bin.1 one.damaged || fail "the damaged file not kept: $(ls)"
rm one.bin.1 one.damaged
cmp -s two.bin two.orig || fail "the deleted file rebuilt otherwise"
par2 verify -q -q set.par2 >/dev/null 2>&1 || fail "par2 finds the repaired set damaged"
[ -z "$(find . -name '.*tessera-*')" ] || fail "temporary files left: $(find . -name '.*tessera-*')"

# Too much damage: 15 slices of two.bin gone and 10 of one.bin damaged, for 20.
rm two.bin
for slice in 0 4 8 12 16 20 24 28 32 36; do
  flip_byte one.bin $((slice * 2048 + 9))
done
cp one.bin one.damaged
err=$("$cli" repair set.par2 2>&1 >/dev/null); status=$?
[ $status -eq 1 ] || fail "repair with too few recovery slices: exit $status"
grep -q 'needs 5 more recovery slices' <<<"$err" || fail "the refusal says: $err"
[ ! -e two.bin ] || fail "a refused repair created a file"
cmp -s one.bin one.damaged || fail "a refused repair changed a file"

# A volume with a packet's bytes changed: its other packets still count.
cp one.orig one.bin
rm -f one.damaged two.bin
volume=$(ls set.vol*.par2 | tail -n1)
size=$(stat -c %s "$volume")
printf 'XXXX' | dd of="$volume" bs=1 seek=$((size - 100)) conv=notrunc status=none
out=$("$cli" repair -q set.par2 2>/dev/null); status=$?
[ $status -eq 0 ] || fail "repair with a damaged volume: exit $status"
cmp -s two.bin two.orig || fail "the file rebuilt with a damaged volume differs"
cd .. || exit 1

# A set that names a file already in its folder, with other bytes: both
# tools rebuild it and keep the file it replaces under the same free name.
mkdir victim && cd victim || exit 1
head -c 4000 /dev/urandom >victim.txt
par2 create -q -q -s1000 -c4 set.par2 victim.txt >/dev/null || fail "par2 create for the victim: exit $?"
cp victim.txt made.txt
head -c 4000 /dev/urandom >users.txt
for tool in ours theirs; do
  cp users.txt victim.txt
  if [ $tool = ours ]; then
    out=$("$cli" repair set.par2 2>&1); status=$?
    [ $status -eq 0 ] || fail "repair over another file: exit $status: $out"
    grep -qx "victim.txt: repaired; the damaged file kept as 'victim.txt.1'" <<<"$out" ||
      fail "repair over another file said: $out"
  else
    par2 repair -q -q set.par2 >/dev/null 2>&1 || fail "par2 repair over another file: exit $?"
  fi
  cmp -s victim.txt made.txt || fail "$tool: the file not rebuilt"
  cmp -s victim.txt.1 users.txt || fail "$tool: the user's bytes not kept as victim.txt.1: $(ls)"
  rm -f victim.txt.1
done
cd .. || exit 1

out=$("$cli" repair 2>&1); status=$?
[ $status -eq 2 ] || fail "repair without a set: exit $status"
out=$("$cli" repair nowhere.par2 2>&1); status=$?
[ $status -eq 1 ] || fail "repair of a set that is not there: exit $status"

[ $failures -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all recovery set tests passed"
