#!/usr/bin/env bash
# The shape of a recovery set from the shell, par2 as the oracle: every grain
# from one slice to 32,768 verifies and repairs; a set asked to rebuild lost
# parts rebuilds them, with scattered damage besides; a split says what its
# set rebuilds, and warns before it begins when a percentage rebuilds no
# lost part, and only then; bad grains are refused with nothing written.
#   cli_recovery_layout.sh <path of tessera-cli>
set -uo pipefail

if ! command -v par2 >/dev/null 2>&1; then
  echo "par2 is not installed: the recovery set tests need it as their oracle"
  exit 77
fi
cli=$(realpath "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/tessera-layout-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# flip_byte FILE OFFSET: the byte at OFFSET changed, whatever it held.
flip_byte() {
  local old
  old=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  printf "\\$(printf '%03o' $((old ^ 0xFF)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# par2's own count of a set's input slices.
par2_slices() {
  par2 verify src.par2 2>/dev/null | tr '\r' '\n' | sed -n 's/^There are a total of \([0-9]*\) data blocks.*/\1/p'
}

# --- every grain: par2 verifies the set and repairs with it -----------------------
# name | bytes | split tools | recovery | grain | input slices par2 must count
# (a set that rebuilds a lost part loses one, the others a byte)
while IFS='|' read -r name bytes tools recovery grain slices; do
  mkdir "$name" && cd "$name" || exit 1
  head -c "$bytes" /dev/urandom >src
  # shellcheck disable=SC2086
  report=$("$cli" split --recovery "$recovery" $grain $tools src 2>&1) || fail "$name: split: $report"
  [ "$(par2_slices)" = "$slices" ] || fail "$name: par2 counts $(par2_slices) slices, not $slices"
  par2 verify -q -q src.par2 >/dev/null 2>&1 || fail "$name: par2 verify refuses the set"
  mkdir keep && cp src.0* keep/
  if grep -q 'rebuilds any [0-9]* lost part\|rebuilds its part\|rebuilds all' <<<"$report"; then
    rm src.000
  else
    flip_byte src.000 0
  fi
  par2 repair -q -q src.par2 >/dev/null 2>&1 || fail "$name: par2 repair refuses the set ($report)"
  for part in keep/*; do
    cmp -s "$part" "${part#keep/}" || fail "$name: par2 did not rebuild ${part#keep/}"
  done
  cd .. && rm -rf "$name"
done <<'EOF'
one-slice|1000|--pieces 1|10|--slices 1|1
two-slices|1000|--pieces 1|100|--slices 2|2
one-each|3000|--pieces 3|1part|--slices 3|3
default|100000|--size 30000|1part||54
at-2000|300000|--size 100000|10|--slices 2000|1974
most-slices|131072|--pieces 2|1|--slices 32768|32768
not-of-64|20000|--size 6000|10|--slice-size 12|1667
beyond-parts|5000|--size 1000|1part|--slice-size 1M|5
EOF

# --- tessera-cli repair at 2,000 slices: a lost part and scattered damage ---------
mkdir mend && cd mend || exit 1
head -c 450000 /dev/urandom >src
report=$("$cli" split --checksum --recovery 1part --slices 2000 --size 100000 src 2>&1) || fail "mend: split: $report"
[ "$report" = "tessera-cli: 'src.par2' rebuilds any 1 lost part (97.7 KiB) or up to 501 damaged slices" ] ||
  fail "mend: the split said: $report"
cp src original && rm src src.001
for at in 10 55555 99999; do flip_byte src.000 $at; done
flip_byte src.004 49999
"$cli" repair -q src.par2 >/dev/null || fail "mend: tessera-cli repair: exit $?"
cat src.000 src.001 src.002 src.003 src.004 | cmp -s - original || fail "mend: the parts are not rebuilt"
"$cli" verify -q src.sha256 || fail "mend: verify after repair: exit $?"
cd .. || exit 1

# --- the README's example, small: a lost part rebuilt as written ------------------
mkdir example && cd example || exit 1
head -c 3000000 /dev/urandom >big.iso
"$cli" split -q --checksum --recovery 1part --size 700K big.iso || fail "example: split: exit $?"
rm big.iso.002
"$cli" repair -q big.iso.par2 >/dev/null || fail "example: repair: exit $?"
"$cli" verify -q big.iso.sha256 || fail "example: verify: exit $?"
out=$("$cli" verify big.iso.sha256)
grep -qx 'big.iso.par2: recovery set OK (15 recovery slices): rebuilds any 1 lost part (700 KiB) or up to 15 damaged slices' <<<"$out" ||
  fail "example: verify said: $out"
cd .. || exit 1

# --- the warning: before the split, when a percentage rebuilds no lost part -------
# tools | recovery | what stderr says (\n between lines)
head -c 3000000 /dev/urandom >warn.bin
while IFS='|' read -r tools recovery said; do
  rm -f warn.bin.*
  # shellcheck disable=SC2086
  err=$("$cli" split --recovery "$recovery" $tools warn.bin 2>&1) || fail "warn $recovery: exit $?"
  [ "$err" = "$(printf '%b' "$said")" ] || fail "warn: --recovery $recovery $tools said: $err"
done <<'EOF'
--size 700K|10|tessera-cli: with 10 % no lost part can be rebuilt; one lost part needs 22 %\ntessera-cli: 'warn.bin.par2' rebuilds up to 6 damaged slices, no lost part
-q --size 700K|21|tessera-cli: with 21 % no lost part can be rebuilt; one lost part needs 22 %
-q --size 700K|22|
--size 700K|2parts|tessera-cli: 'warn.bin.par2' rebuilds any 2 lost parts (700 KiB each at most) or up to 28 damaged slices
-q --pieces 1|98|tessera-cli: with 98 % no lost part can be rebuilt; one lost part needs 99 %
--pieces 1|1part|tessera-cli: 'warn.bin.par2' rebuilds its part (2.9 MiB) or up to 64 damaged slices
EOF

# --- refusals ---------------------------------------------------------------------
# Wrong whatever the file: usage, exit 2.
while IFS='|' read -r options said; do
  # shellcheck disable=SC2086
  err=$("$cli" split $options --size 1000 warn.bin 2>&1); status=$?
  [ $status -eq 2 ] || fail "'$options': exit $status"
  grep -qF -- "$said" <<<"$err" || fail "'$options' said: $err"
done <<'EOF'
--recovery 10 --slices 0|--slices '0': not a whole number from 1 to 32768
--recovery 10 --slices 32769|--slices '32769': not a whole number from 1 to 32768
--recovery 10 --slices 2k|--slices '2k': not a whole number from 1 to 32768
--recovery 10 --slice-size 6|--slice-size '6': not a size in bytes that is a multiple of 4
--recovery 10 --slice-size 0|--slice-size '0': not a size in bytes that is a multiple of 4
--recovery 10 --slices 10 --slice-size 64|--slices and --slice-size both set the slices: give one of them
--slices 10|--slices cuts a recovery set: give --recovery too
--recovery 0parts|--recovery '0parts': not a whole percentage from 1 to 100, nor lost parts to rebuild
EOF
# Wrong for this plan: exit 1, before the first part.
while IFS='|' read -r options said; do
  rm -f warn.bin.*
  # shellcheck disable=SC2086
  err=$("$cli" split -q $options warn.bin 2>&1); status=$?
  [ $status -eq 1 ] || fail "'$options': exit $status"
  [ "$err" = "tessera-cli: $said" ] || fail "'$options' said: $err"
  ls warn.bin.* >/dev/null 2>&1 && fail "'$options' left files: $(ls warn.bin.*)"
done <<'EOF'
--recovery 10 --slices 4 --size 700K|--slices 4: the plan has 5 parts with bytes, and each takes a slice of its own
--recovery 10 --slice-size 64 --size 700K|--slice-size 64: the parts would be 46875 slices, more than 32768
--recovery 1part --slices 32768 --pieces 2|--recovery 1part: a lost part is 16305 slices, more than a repair rebuilds at once (8108): give fewer --slices or a larger --slice-size
EOF

if [ $failures -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "cli_recovery_layout: all passed"
