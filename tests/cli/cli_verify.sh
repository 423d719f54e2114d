#!/usr/bin/env bash
# Checksum files and verify from the shell, GNU sha256sum as the oracle:
# names holding a backslash, a line feed or a carriage return go both ways
# between tessera-cli and sha256sum; a manifest that is a device or has an
# endless line is refused in bounded memory; the report stays one line a
# file, its failed write is an error, and a failed part leaves the source
# line unchecked rather than counted twice.
#   cli_verify.sh <path of tessera-cli>
set -uo pipefail

cli=$(realpath "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/tessera-verify-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# runs under a limit of virtual memory (KiB) that reading a whole device or
# a terabyte line would pass at once; a sanitized build, whose shadow memory
# alone passes any such limit, runs without it
limit=262144
if ! bash -c 'ulimit -v "$1" && "$2" --version; exit $?' probe $limit "$cli" >/dev/null 2>&1; then
  echo "note: $cli does not start under ulimit -v $limit (a sanitized build?): run without the limit"
  limit=unlimited
fi
limited() {
  (ulimit -v $limit && "$@")
}

# --- names sha256sum escapes, both ways ---------------------------------------------
mkdir ours gnu
name=$'back\\slash\nline\rends in cr\r'
head -c 2500 /dev/urandom >"ours/$name"
"$cli" split -q --checksum --size 1000 "ours/$name" || fail "split --checksum of an odd name: exit $?"
manifest="ours/$name.sha256"
[ "$(grep -c '' "$manifest")" -eq 4 ] || fail "the manifest of an odd name has $(grep -c '' "$manifest") lines"
(cd ours && sha256sum --quiet -c "$name.sha256") || fail "sha256sum -c rejects our manifest of escaped names"
got=$("$cli" verify "$manifest")
[ $? -eq 0 ] || fail "verify of our own escaped manifest: $got"
[ "$(wc -l <<<"$got")" -eq 5 ] || fail "a name split the report: $got"
grep -qxF '\back\\slash\nline\rends in cr\r.001: OK' <<<"$got" || fail "verify does not show names as sha256sum writes them: $got"
grep -qxF '\back\\slash\nline\rends in cr\r: OK' <<<"$got" || fail "the source itself: $got"
grep -qxF '\back\\slash\nline\rends in cr\r: OK (the parts joined)' <<<"$got" || fail "the source line: $got"

names=($'a\\b' $'c\nd' $'e\rf' $'ends in cr\r' plain $'tab\there' 'p (x) = y')
for n in "${names[@]}"; do
  head -c 100 /dev/urandom >"gnu/$n"
done
(cd gnu && sha256sum -- "${names[@]}" >gnu.sha256 && sha256sum --tag -- "${names[@]}" >tag.sha256)
for form in gnu tag; do
  got=$("$cli" verify gnu/$form.sha256)
  [ $? -eq 0 ] || fail "verify of sha256sum's $form manifest of escaped names: $got"
  [ "$(wc -l <<<"$got")" -eq 7 ] || fail "verify of sha256sum's $form manifest: $got"
done
printf x >>$'gnu/ends in cr\r'
got=$("$cli" verify -q gnu/gnu.sha256 2>/dev/null)
[ $? -eq 1 ] && [ "$got" = '\ends in cr\r: FAILED' ] || fail "verify -q of a changed file: $got"

# A plan that is not the source part after part lists no digest for it.
head -c 3000 /dev/urandom >ours/over
printf '0 100\n50 3000\n' >plan.txt
"$cli" split -q --checksum --plan plan.txt ours/over || fail "split --checksum --plan: exit $?"
(cd ours && sha256sum --quiet -c over.sha256) || fail "an overlapping plan lists a wrong digest for the source"

# --- manifests that are not checksum files ----------------------------------------------
got=$(limited "$cli" verify /dev/zero 2>&1)
[ $? -eq 1 ] && [ "$got" = "tessera-cli: cannot read '/dev/zero': it is a character device, not a regular file" ] || fail "verify /dev/zero: $got"
got=$(limited "$cli" join -q -o out --check /dev/zero ours/over.000 2>&1)
[ $? -eq 1 ] && [ "$got" = "tessera-cli: cannot read '/dev/zero': it is a character device, not a regular file" ] || fail "join --check /dev/zero: $got"
[ ! -e out ] || fail "join --check /dev/zero wrote its output"
got=$("$cli" verify ours 2>&1)
[ $? -eq 1 ] && [ "$got" = "tessera-cli: cannot read 'ours': it is a folder" ] || fail "verify of a folder: $got"
# a terabyte without a line feed, sparse
sha256sum ours/over >long.sha256 && truncate -s 1T long.sha256
got=$(limited "$cli" verify long.sha256 2>&1)
[ $? -eq 1 ] && [[ "$got" == "tessera-cli: long.sha256:2: no SHA-256 checksum line: longer than "*" bytes" ]] \
  || fail "an endless second line: $got"

# --- the report -----------------------------------------------------------------------------
got=$("$cli" verify "$manifest" 2>&1 >/dev/full)
[ $? -eq 1 ] && [ "$got" = "tessera-cli: cannot write the report: No space left on device" ] \
  || fail "verify > /dev/full: $got"

# One byte more in one part: that part failed, the source line is not checked.
mkdir grown
head -c 5000 /dev/urandom >grown/big
"$cli" split -q --checksum --size 1000 grown/big || fail "split --checksum: exit $?"
printf x >>grown/big.002
out=$("$cli" verify grown/big.sha256 2>err)
[ $? -eq 1 ] || fail "verify passed a grown part"
[ "$out" = "$(printf '%s\n' big.000:\ OK big.001:\ OK big.002:\ FAILED big.003:\ OK big.004:\ OK big:\ OK \
  'big: NOT CHECKED (a part failed)')" ] || fail "verify of a grown part said: $out"
[ "$(cat err)" = "tessera-cli: 1 of 7 checksums in 'grown/big.sha256' did not match" ] || fail "count: $(cat err)"
rm grown/big.001
out=$("$cli" verify -q grown/big.sha256 2>err)
[ $? -eq 1 ] && [ "$(head -n 1 <<<"$out")" = "big.001: FAILED open or read" ] || fail "a missing part: $out"
grep -qxF "tessera-cli: cannot read 'grown/big.001': No such file or directory" err \
  && grep -qxF "tessera-cli: 2 of 7 checksums in 'grown/big.sha256' did not match" err || fail "a missing part said: $(cat err)"

# --- the line named as the checksum file --------------------------------------------
# The commonest checksum file there is: the file itself, no parts. It is
# checked as sha256sum -c checks it, and nothing is joined.
mkdir plain && cd plain || exit 1
head -c 3000 /dev/urandom >data
sha256sum data >data.sha256
sha256sum --quiet -c data.sha256 || fail "sha256sum -c refuses its own checksum file"
out=$("$cli" verify data.sha256 2>&1); status=$?
[ $status -eq 0 ] && [ "$out" = "data: OK" ] || fail "sha256sum's own checksum file: exit $status: $out"
printf x >>data
out=$("$cli" verify data.sha256 2>/dev/null); status=$?
[ $status -eq 1 ] && [ "$out" = "data: FAILED" ] || fail "a changed file alone: exit $status: $out"
# With parts listed, both verdicts: the source's own and the parts joined.
rm data data.sha256
head -c 3000 /dev/urandom >data
"$cli" split -q --checksum --size 1000 data || fail "split --checksum: exit $?"
flip=$(od -An -tu1 -j 10 -N1 data | tr -d ' ')
printf "\\$(printf '%03o' $((flip ^ 0xFF)))" | dd of=data bs=1 seek=10 conv=notrunc status=none
out=$("$cli" verify data.sha256 2>/dev/null); status=$?
[ $status -eq 1 ] || fail "a damaged source beside intact parts: exit $status"
[ "$(tail -n 2 <<<"$out")" = "$(printf '%s\n' 'data: FAILED' 'data: OK (the parts joined)')" ] ||
  fail "a damaged source beside intact parts said: $out"
rm data
out=$("$cli" verify data.sha256 2>&1); status=$?
[ $status -eq 0 ] && [ "$(tail -n 1 <<<"$out")" = "data: OK (the parts joined)" ] && ! grep -q '^data: OK$' <<<"$out" ||
  fail "the parts of a source that is gone: exit $status: $out"
cd .. || exit 1

# A checksum file of 64 MB is streamed: under the limit that reading it whole
# (its lines, their paths, the report) would pass, every line is checked.
head -c 100 /dev/urandom >small
line="$(sha256sum small | cut -c1-64)  $(printf './%.0s' $(seq 2000))small"
yes "$line" | head -n 16000 >many.sha256
out=$(limited "$cli" verify -q many.sha256 2>&1); status=$?
[ $status -eq 0 ] && [ -z "$out" ] || fail "a checksum file of 64 MB: exit $status: $(head -c 300 <<<"$out")"
rm many.sha256

[ $failures -eq 0 ] || exit 1
echo "OK"
