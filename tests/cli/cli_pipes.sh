#!/usr/bin/env bash
# tessera-cli in pipelines, GNU split as the oracle: cuts that keep records
# whole (--snap) against split -C, standard input cut as it is read, a join to
# standard output.
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

# same_parts OURS GNU: the parts OURS.000... hold what GNU's do, in order:
# the same sizes in the same order, and the same bytes end to end.
same_parts() {
  local ours=$1 gnu=$2
  [ "$(stat -c %s "$gnu".* 2>/dev/null)" = "$(stat -c %s "$ours".[0-9][0-9][0-9] 2>/dev/null)" ] ||
    { echo "the parts' sizes differ from $gnu.*'s"; return 1; }
  cmp -s <(cat "$gnu".* 2>/dev/null) <(cat "$ours".[0-9][0-9][0-9] 2>/dev/null) || { echo "the bytes differ"; return 1; }
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

# --- Standard input cut as it is read: the parts of split -b and -C --------------
mkdir stream
head -c 250000 /dev/urandom >stream/data
while read -r length piece; do
  rm -f stream/s.* stream/gnu.*
  head -c "$length" stream/data >stream/in
  (cd stream && split -a 3 -d -b "$piece" in gnu.)
  "$cli" split -q --size "$piece" - --name stream/s <stream/in || fail "stream of $length by $piece: exit $?"
  said=$(same_parts stream/s stream/gnu) || fail "stream of $length by $piece: $said"
done <<TABLE
0 100
100 100
101 100
250000 65536
2500 1000
TABLE
rm -f stream/s.* stream/gnu.*
text 5 300 900 >stream/t
(cd stream && split -a 3 -d -C 2000 t gnu.)
cat stream/t | "$cli" split -q --size 2000 --snap 0A - --name stream/s || fail "stream --snap 0A: exit $?"
said=$(same_parts stream/s stream/gnu) || fail "stream --snap 0A: $said"

# The checksum file and the set come from the one pass, and read back as such.
mkdir sums
head -c 200000 stream/data | "$cli" split -q --size 70000 --checksum - --name sums/b --into sums ||
  fail "stream --checksum: exit $?"
(cd sums && sha256sum --quiet -c b.sha256) || fail "stream checksums: sha256sum -c"
[ "$(wc -l <sums/b.sha256)" = 3 ] || fail "stream checksums: one line per part, none for the stream"
if command -v par2 >/dev/null; then
  rm -f sums/*
  head -c 200000 stream/data | "$cli" split -q --size 70000 --recovery 1part - --name sums/b || fail "stream --recovery: exit $?"
  (cd sums && par2 verify -q b.par2 >/dev/null) || fail "stream recovery set: par2 verify"
  rm sums/b.001
  (cd sums && par2 repair -q b.par2 >/dev/null) && cmp -s <(cat sums/b.00?) <(head -c 200000 stream/data) ||
    fail "stream recovery set: par2 repair of a lost part"
fi

# Only --size and --snap cut a stream; each refusal says why (exit 2).
while IFS='|' read -r args why; do
  # shellcheck disable=SC2086
  said=$("$cli" split $args </dev/null 2>&1 >/dev/null)
  code=$?
  [ $code = 2 ] && [[ $said == *"$why"* ]] || fail "split $args: exit $code, said: $said"
done <<'TABLE'
--pieces 3 - --name x|--pieces needs the source's size
--size 10 --at 5 - --name x|only --size and --snap cut a stream
--size 10 -|give --name NAME
--size 10 stream/t --name x|give - as the source
--size 10 --resume - --name x|standard input cannot be read again
--size 10 --recovery 10 --filter cat - --name x|with --filter there are none to read
TABLE

# Parts of an earlier run refuse a stream's split before it reads a byte.
said=$(echo more | "$cli" split --size 10 - --name stream/s 2>&1)
[ $? = 1 ] && [[ $said == *"stream/s.000' exists"* ]] || fail "stream over earlier parts: $said"

# Stopped mid-stream: the whole parts stay, the part begun is gone, and the
# message says what was written.
# The stream is read in blocks of 1 MiB: two of them make two parts, and the
# stop comes while the third waits to be filled.
mkdir stop
mkfifo stop/in
head -c 2621440 /dev/urandom >stop/data
"$cli" split --size 1M - --name stop/p <stop/in 2>stop/said &
cli_pid=$!
exec 3>stop/in
cat stop/data >&3
for _ in $(seq 300); do [ -e stop/p.001 ] && break; sleep 0.1; done
kill -INT $cli_pid
wait $cli_pid
code=$?
exec 3>&-
[ $code = 130 ] || fail "stream stopped by SIGINT: exit $code"
[ "$(ls -A stop | tr '\n' ' ')" = "data in p.000 p.001 said " ] || fail "stream stopped: left $(ls -A stop | tr '\n' ' ')"
cmp -s <(cat stop/p.000 stop/p.001) <(head -c 2097152 stop/data) || fail "stream stopped: the whole parts differ"
grep -q "read 2621440 bytes of standard input; 2 parts written: 'stop/p.000' to 'stop/p.001', which are whole" stop/said ||
  fail "stream stopped: said $(cat stop/said)"
# A writer that dies leaves the stream ended there: every part whole.
rm -f stop/p.*
code=$({ (head -c 150000 stream/data; kill -KILL $BASHPID) | "$cli" split --size 100000 - --name stop/p 2>stop/said
  echo "${PIPESTATUS[1]}"; } 2>/dev/null)
[ $code = 0 ] || fail "writer killed: exit $code"
cmp -s <(cat stop/p.000 stop/p.001) <(head -c 150000 stream/data) || fail "writer killed: parts"
grep -q "read 150000 bytes of standard input; 2 parts written" stop/said || fail "writer killed: said $(cat stop/said)"

# --- A join to standard output ----------------------------------------------------------
mkdir out
head -c 200000 stream/data | "$cli" split -q --size 70000 --checksum - --name out/j || fail "split for join: exit $?"
"$cli" join -q --series out/j.000 -o - | cmp -s - <(head -c 200000 stream/data) || fail "join -o - | cmp"
# A reader that goes away ends the join quietly, as cat ends.
said=$("$cli" join -q --series out/j.000 -o - 2>&1 | head -c 1 | wc -c)
[ "$said" = 1 ] || fail "join -o - | head -c 1: $said"
"$cli" join -q --series out/j.000 -o - 2>out/said | head -c 1 >/dev/null
code=${PIPESTATUS[0]}
[ $code = 141 ] && [ ! -s out/said ] || fail "join -o - | head: exit $code, said $(cat out/said)"
# A part that differs from its checksum: exit 1, naming it and what went out.
printf X | dd of=out/j.001 bs=1 seek=7 conv=notrunc 2>/dev/null
said=$("$cli" join -q --series out/j.000 -o - 2>&1 >/dev/null)
code=$?
[ $code = 1 ] && [[ $said == *"'out/j.001' does not match"*"already written to standard output"* ]] ||
  fail "join -o - mismatch: exit $code, said: $said"

# --- A command per part (--filter) ------------------------------------------------------
mkdir filter
head -c 100000 stream/data >filter/f
(cd filter && split -a 3 -d -b 30000 --filter='gzip >$FILE.gz' f gnu.)
"$cli" split -q --size 30000 --checksum --filter 'gzip >$FILE.gz' filter/f || fail "--filter on a file: exit $?"
head -c 100000 stream/data | "$cli" split -q --size 30000 --filter 'gzip >$FILE.gz' - --name filter/s ||
  fail "--filter on a stream: exit $?"
for i in 000 001 002 003; do
  zcat filter/gnu.$i.gz >filter/gnu.$i
  cmp -s <(zcat filter/f.$i.gz) filter/gnu.$i || fail "--filter on a file: part $i"
  cmp -s <(zcat filter/s.$i.gz) filter/gnu.$i || fail "--filter on a stream: part $i"
done
[ ! -e filter/f.000 ] && [ ! -e filter/f.004.gz ] || fail "--filter: a part written as a file, or one too many"
# The checksum file lists the parts by name, from the bytes handed over.
[ "$(cd filter && sha256sum gnu.00? | sed 's/ gnu\./ f./')" = "$(head -n 4 filter/f.sha256)" ] ||
  fail "--filter --checksum: $(cat filter/f.sha256)"
# A command that fails fails the split, named.
for source in "filter/f" "- --name filter/f"; do
  # shellcheck disable=SC2086
  said=$(head -c 100000 stream/data | "$cli" split --size 30000 --filter '[ "$FILE" != filter/f.001 ] && cat >/dev/null' \
    $source 2>&1 | grep -v "standard input;")
  [[ $said == *"the filter of 'filter/f.001' exited with status 1"* ]] || fail "a failing filter, $source: $said"
done
# A command that takes only what it wants is no failure.
"$cli" split -q --size 30000 --filter 'head -c 1 >$FILE.head' filter/f && [ "$(cat filter/f.003.head)" = "$(head -c 1 filter/gnu.003)" ] ||
  fail "a filter that stops reading"

# --- --resume: finish an interrupted split of the same plan ---------------------------
mkdir resume resume/ref
head -c 450000 /dev/urandom >resume/src
"$cli" split -q --size 100000 --checksum --into resume/ref resume/src || fail "reference split: exit $?"
# same_as_reference: the parts and the checksum file are the one-go split's.
same_as_reference() {
  local f
  for f in resume/ref/*; do cmp -s "$f" "resume/${f##*/}" || { echo "${f##*/} differs"; return 1; }; done
  [ "$(ls resume | grep -c '^src\.')" = 6 ] || { echo "left $(ls -A resume | tr '\n' ' ')"; return 1; }
}
# Stopped wherever a SIGINT finds it (paced: a part takes several blocks),
# then resumed: the same parts and checksum file as a split in one go.
"$cli" split -q --pace --size 100000 --checksum resume/src 2>/dev/null &
cli_pid=$!
for _ in $(seq 200); do [ -e resume/src.001 ] && break; sleep 0.05; done
kill -INT $cli_pid
wait $cli_pid
[ $? = 130 ] || fail "paced split not stopped by SIGINT"
said=$("$cli" split --size 100000 --checksum --resume resume/src 2>&1) || fail "resume after SIGINT: $said"
[[ $said == *"kept "*" of 5 parts, already whole"* ]] || fail "resume after SIGINT said: $said"
said=$(same_as_reference) || fail "resume after SIGINT: $said"
# Every part whole, the checksum file not yet written; a part cut short and
# the parts after it missing.
while IFS="|" read -r keep cut; do
  rm -f resume/src.*
  for i in $keep; do cp resume/ref/src.00$i resume/; done
  [ -z "$cut" ] || head -c 777 resume/ref/src.00$cut >resume/src.00$cut
  "$cli" split -q --size 100000 --checksum --resume resume/src || fail "resume of '$keep' '$cut': exit $?"
  said=$(same_as_reference) || fail "resume of '$keep' '$cut': $said"
done <<TABLE
0 1 2 3 4|
0 1 2|
0 1|2
|0
TABLE
# A part that differs is refused by its name, and nothing is written.
rm -f resume/src.*
cp resume/ref/src.00[0-2] resume/
printf X | dd of=resume/src.001 bs=1 seek=99999 conv=notrunc 2>/dev/null
before=$(ls -l --time-style=full-iso resume | md5sum)
said=$("$cli" split --size 100000 --checksum --resume resume/src 2>&1)
[ $? = 1 ] && [[ $said == *"'resume/src.001' is not its range of the source"*"nothing was written"* ]] ||
  fail "resume over a changed part: $said"
[ "$before" = "$(ls -l --time-style=full-iso resume | md5sum)" ] || fail "resume over a changed part changed files"
# So is a part the plan does not have.
rm -f resume/src.*
cp resume/ref/src.00[0-4] resume/
cp resume/ref/src.000 resume/src.005
said=$("$cli" split --size 100000 --resume resume/src 2>&1)
[ $? = 1 ] && [[ $said == *"'resume/src.005' is no part of this plan (5 parts)"* ]] || fail "resume past the plan: $said"
# Without --resume, the earlier parts are pointed out.
said=$("$cli" split --size 100000 resume/src 2>&1)
[[ $said == *"--resume finishes that split"* ]] || fail "split over earlier parts: $said"

[ $failures -eq 0 ] || { echo "$failures failures"; exit 1; }
echo "OK"
