#!/usr/bin/env bash
# tessera-cli from the shell, GNU coreutils as the oracle: parts equal to
# split -b, a join equal to cat, checksum files accepted by sha256sum -c; bad
# input refused with its message and exit status and nothing created; a stop
# signal in the middle of a part.
#   cli_commands.sh <path of tessera-cli>
set -uo pipefail

cli=$(realpath "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/tessera-cli-test.XXXXXX")
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# run EXPECTED-STATUS EXPECTED-STDERR-LINE args...: runs the program in a
# fresh folder holding src (1000 bytes) and checks that nothing else appears.
refused() {
  local status=$1 message=$2
  shift 2
  rm -rf case && mkdir case && (cd case && head -c 1000 /dev/urandom >src && mkdir folder)
  local got
  got=$(cd case && "$cli" "$@" 2>&1 >/dev/null)
  local rc=$?
  [ "$rc" -eq "$status" ] || fail "$*: exit $rc, expected $status ($got)"
  [ "$(head -n 1 <<<"$got")" = "$message" ] || fail "$*: said '$got', expected '$message'"
  [ "$(cd case && ls -A | tr '\n' ' ')" = "folder src " ] || fail "$*: left $(cd case && ls -A | tr '\n' ' ')"
}

# --- bad usage: exit 2 -------------------------------------------------------
# What was typed wrong is named, in the manner of GNU tools.
suffixes="(K, M, G, T, P, E, KiB, ... or kB, MB, ...)"
while IFS='|' read -r message args; do
  eval "refused 2 \"\$message\" $args"
done <<TABLE
tessera-cli: unrecognized option '--szie'; did you mean '--size'?|split --szie 1M src
tessera-cli: unrecognized option '--bogus'|split --bogus --size 1 src
tessera-cli: unknown command 'spilt'; did you mean 'split'?|spilt --size 1 src
tessera-cli: option '--size' requires a SIZE|split src --size
tessera-cli: option '-o' requires a FILE|join src -o
tessera-cli: --size '1m': 'm' is not a size suffix $suffixes|split --size 1m src
tessera-cli: --size '1.5M': '.5M' is not a size suffix $suffixes|split --size 1.5M src
tessera-cli: --size '16E': the number '16E' is too large (2^63 - 1 at most)|plan --size 16E src
tessera-cli: --hex '5 04B': ' ' is not a hex digit|split --hex '5 04B' src
tessera-cli: --hex '0d0': an odd number of hex digits|split --hex 0d0 src
tessera-cli: --range '10:5': the start lies after the end|plan --range 10:5 src
tessera-cli: --size '0': expected a piece size of at least 1 byte|split --size 0 src
tessera-cli: --sjis '😀': '😀' has no Shift_JIS (code page 932) form|split --sjis 😀 src
tessera-cli: --sjis '第󠀀一章': '󠀀' has no Shift_JIS (code page 932) form|plan --sjis $'\xe7\xac\xac\xf3\xa0\x80\x80\xe4\xb8\x80\xe7\xab\xa0' src
tessera-cli: no plan: give one or more of --extract, --range, --size, --pieces, --at, --hex, --sjis, --plan|split src
tessera-cli: source is required|split --size 1
tessera-cli: expected a command (plan, split, join, verify or repair) before '--size'|--size 1 src
tessera-cli: --check '': expected a file name|join --check '' -o out src
tessera-cli: --output '': expected a file name|join -o '' src
tessera-cli: --series '': expected a file name|join -o out --series ''
tessera-cli: --into '': expected a folder name|split --into '' --size 1 src
tessera-cli: --plan '': expected a file name (- for standard input)|plan --plan '' src
tessera-cli: --at '100,200': offsets are separated by white space, not commas|plan --at 100,200 src
tessera-cli: --recovery '150': not a whole percentage from 1 to 100, nor lost parts to rebuild (1part, 2parts, ...)|split --recovery 150 --size 1 src
tessera-cli: --series 'src': the first part must end in a dot and digits, as .000|join -o out --series src
tessera-cli: unrecognized option '--versoin'; did you mean '--version'?|--versoin
tessera-cli: unknown command 'spilt'; did you mean 'split'?|help spilt
tessera-cli: --size '9223372036854775808': the number '9223372036854775808' is too large (2^63 - 1 at most)|split --size 9223372036854775808 src
tessera-cli: --snap ends the pieces of --size; give --size too|split --snap 0a src
tessera-cli: --snap can be given only once|split --size 10 --snap 0a --snap 0d src
tessera-cli: --snap '0g': 'g' is not a hex digit|plan --size 10 --snap 0g src
tessera-cli: --at '18446744073709551616': the number '18446744073709551616' is too large (2^63 - 1 at most)|plan --at 18446744073709551616 src
TABLE
# Every refusal of bad usage ends with the pointer to the help.
got=$("$cli" split --recovery 150 --size 1 src 2>&1)
[ "$(tail -n 1 <<<"$got")" = "Try 'tessera-cli --help' for more information." ] || fail "--recovery 150 said '$got'"
# help, and help COMMAND, are --help.
cmp -s <("$cli" help) <("$cli" --help) && cmp -s <("$cli" help split) <("$cli" split --help) \
  || fail "help is not --help"
"$cli" help >/dev/null || fail "help: exit $?"
# Help and the version that cannot be written fail.
for args in --help --version "split --help"; do
  got=$("$cli" $args 2>&1 >/dev/full)
  rc=$?
  [ "$rc" -eq 1 ] && [[ $got == "tessera-cli: cannot write to standard output: "* ]] \
    || fail "$args > /dev/full: exit $rc, said '$got'"
done
# Each command's help says what its options do there.
"$cli" join --help | grep -q -- '--sync *Flush the output to the disk before the job ends' || fail "join --help --sync"
"$cli" verify --help | grep -q -- '-q,--quiet *Print only the files that fail' || fail "verify --help -q"
"$cli" verify --help | grep -q 'Sizes and offsets' && fail "verify --help shows the sizes footer"
"$cli" plan --help | grep -q 'Sizes and offsets' || fail "plan --help lacks the sizes footer"

# --- failures: exit 1 ----------------------------------------------------------
refused 1 "tessera-cli: cannot open 'missing': No such file or directory" split --size 1 missing
refused 1 "tessera-cli: cannot read 'folder': it is a folder" split --size 100 folder
refused 1 "tessera-cli: --extract '990:11': beyond the end of 'src' (1000 bytes)" split --extract 990:11 src
printf '0 10\n10 x\n' >"$work/plan.txt"
refused 1 "tessera-cli: $work/plan.txt:2: '10 x' is no \"start end\" line" split --plan "$work/plan.txt" src
: >"$work/plan.txt"
refused 1 "tessera-cli: --plan '$work/plan.txt': the plan is empty (no \"start end\" line)" split --plan "$work/plan.txt" src
# A plan through a named pipe waits for its writer, however late it comes.
mkfifo "$work/plan.fifo" && head -c 10 /dev/zero >"$work/ten"
got=$(timeout 20 "$cli" plan --plan "$work/plan.fifo" "$work/ten" 2>&1 & (sleep 0.3; printf '0 4\n4 10\n' >"$work/plan.fifo"); wait)
[ "$got" = "$(printf '0 4\n4 10')" ] || fail "--plan FIFO said '$got'"
rm -f "$work/plan.fifo" "$work/ten"
got=$("$cli" split --plan - "$work/plan.txt" </dev/null 2>&1)
[ $? -eq 1 ] && [ "$got" = "tessera-cli: --plan '-': the plan is empty (no \"start end\" line)" ] || fail "an empty --plan -: $got"
refused 1 "tessera-cli: cannot use 'nowhere': No such file or directory" split --into nowhere --size 100 src
refused 1 "tessera-cli: cannot open 'missing.000': No such file or directory" join -o out --series missing.000
# An output that is one of the inputs is said at once, never --force first.
refused 1 "tessera-cli: cannot join into 'src': it is one of the inputs" join -o src src
# With --force, a folder at the checksum file's or the recovery set's name is
# found before the first part.
for name in src.sha256 src.par2; do
  rm -rf case && mkdir case && (cd case && head -c 1000 /dev/urandom >src && mkdir "$name")
  got=$(cd case && "$cli" split --checksum --recovery 10 --force --size 100 src 2>&1)
  [ $? -eq 1 ] && [ "$got" = "tessera-cli: cannot write '$name': a folder stands at that name" ] \
    || fail "--force with a folder at $name: $got"
  [ "$(cd case && ls -A | tr '\n' ' ')" = "src $name " ] || fail "--force with a folder at $name left $(cd case && ls -A)"
done
head -c 1001 /dev/zero >"$work/1001"
refused 1 "tessera-cli: cannot split '$work/1001': too few of the part names .000 to .999 are free for the plan" \
  split --size 1 "$work/1001"
[ "$(ls "$work")" = "$(printf '1001\ncase\nplan.txt')" ] || fail "a plan beyond the part names left $(ls "$work")"
if command -v setpriv >/dev/null && [ "$(id -u)" -eq 0 ]; then
  # Root reads every file: the refusal is checked as nobody.
  rm -rf locked && mkdir locked && head -c 10 /dev/zero >locked/src && chmod 000 locked/src && chmod 777 locked
  got=$(cd locked && setpriv --reuid=65534 --regid=65534 --clear-groups "$cli" split --size 1 src 2>&1)
  rc=$?
  [ $rc -eq 1 ] && [ "$got" = "tessera-cli: cannot open 'src': Permission denied" ] || fail "unreadable: $rc $got"
  [ "$(ls locked)" = src ] || fail "unreadable source left $(ls locked)"
elif [ "$(id -u)" -ne 0 ]; then
  rm -rf locked && mkdir locked && head -c 10 /dev/zero >locked/src && chmod 000 locked/src
  got=$(cd locked && "$cli" split --size 1 src 2>&1)
  [ $? -eq 1 ] && [ "$got" = "tessera-cli: cannot open 'src': Permission denied" ] || fail "unreadable: $got"
fi

# --- files that are no regular files: refused by name, nothing written ----------
mkdir kinds && head -c 1000 /dev/urandom >kinds/a && mkfifo kinds/fifo && mkdir kinds/folder
python3 -c 'import socket,sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' kinds/socket 2>/dev/null || true
proc=/proc/self/status
for input in kinds/fifo /dev/zero kinds/folder kinds/socket "$proc"; do
  [ -e "$input" ] || continue
  # one wording, whichever command refuses it
  case $input in
    kinds/fifo) kind="it is a named pipe, not a regular file" ;;
    /dev/zero) kind="it is a character device, not a regular file" ;;
    kinds/folder) kind="it is a folder" ;;
    kinds/socket) kind="it is a socket, not a regular file" ;;
    "$proc") kind="it holds more than the 0 bytes its size says (a file that grows, or one such as /proc's)" ;;
  esac
  said="tessera-cli: cannot read '$input': $kind"
  got=$(timeout 10 "$cli" join -q -o kinds/out kinds/a "$input" 2>&1)
  [ $? -eq 1 ] && [ "$got" = "$said" ] || fail "join input $input: $got"
  [ "$(ls -A kinds | tr '\n' ' ')" = "a fifo folder $([ -e kinds/socket ] && echo 'socket ')" ] \
    || fail "join input $input left $(ls -A kinds)"
  got=$(timeout 10 "$cli" split -q --into kinds --size 100 "$input" 2>&1)
  [ $? -eq 1 ] && [ "$got" = "$said" ] || fail "split source $input: $got"
  [ "$(ls -A kinds | tr '\n' ' ')" = "a fifo folder $([ -e kinds/socket ] && echo 'socket ')" ] \
    || fail "split source $input left $(ls -A kinds)"
done
# A plan is never made against the size of a file that reads past it.
if [ -e "$proc" ]; then
  got=$("$cli" plan --size 100 "$proc" 2>&1)
  rc=$?
  [ $rc -eq 1 ] && [ "$got" = "tessera-cli: cannot read '$proc': it holds more than the 0 bytes its size says (a file that grows, or one such as /proc's)" ] \
    || fail "plan of $proc: exit $rc, said '$got'"
fi
# A part of a series replaced by a folder is named as a folder.
head -c 10 /dev/zero >kinds/p.000 && mkdir kinds/p.001
got=$("$cli" join -q -o kinds/out --series kinds/p.000 2>&1)
[ $? -eq 1 ] && [ "$got" = "tessera-cli: cannot read 'kinds/p.001': it is a folder" ] \
  || fail "series part that is a folder: $got"
[ ! -e kinds/out ] || fail "a refused series join wrote its output"
rm -rf kinds

# --- names the file system refuses are reported as such ----------------------------
long=$(printf 's%.0s' $(seq 253))
mkdir names && head -c 100 /dev/zero >"names/$long"
got=$("$cli" split -q --size 50 "names/$long" 2>&1)
[ $? -eq 1 ] && [ "$got" = "tessera-cli: cannot create 'names/$long.000': File name too long" ] \
  || fail "a source name too long for its parts: $got"
got=$("$cli" join -q -o "names/$long$long" "names/$long" 2>&1)
[ $? -eq 1 ] && [ "$got" = "tessera-cli: cannot create 'names/$long$long': File name too long" ] \
  || fail "an output name too long: $got"
[ "$(ls names)" = "$long" ] || fail "refused names left $(ls names)"
rm -rf names

# --- split and join against split -b and cat -----------------------------------
mkdir ours gnu
head -c 3000001 /dev/urandom >ours/data
(cd gnu && split -a 3 -d -b 1000000 ../ours/data data.)
"$cli" split -q --size 1000000 ours/data || fail "split --size: exit $?"
for part in gnu/data.*; do
  cmp -s "$part" "ours/$(basename "$part")" || fail "ours/$(basename "$part") differs from split -b"
done
[ "$(ls ours | wc -l)" -eq 5 ] || fail "split --size made $(ls ours)"
# A second split of the same source is refused before it writes anything: its
# parts would follow the first one's and be joined with them.
said=$("$cli" split -q --size 1000000 ours/data 2>&1)
[ $? -eq 1 ] && [ "$said" = "tessera-cli: cannot split 'ours/data': 'ours/data.000' exists (an earlier split's part?); --resume finishes that split; remove the earlier parts, or --after-existing numbers these after them" ] \
  || fail "a second split said '$said'"
[ "$(ls ours | wc -l)" -eq 5 ] || fail "a refused split left $(ls ours)"
# Asked to, it numbers its parts after the first one's, and says so, even
# with -q, without failing.
said=$("$cli" split -q --after-existing --size 1000000 ours/data 2>&1) && [ -f ours/data.004 ] && [ -f ours/data.007 ] \
  || fail "split --after-existing does not go to the next free names"
[ "$said" = "tessera-cli: 'ours/data.000' to 'ours/data.003' exist already; this split wrote 4 parts as 'ours/data.004' to 'ours/data.007': join them on their own" ] \
  || fail "a second split said '$said'"
said=$("$cli" split -q --size 1000000 gnu/data.000 2>&1)
[ $? -eq 0 ] && [ -z "$said" ] || fail "a split from .000 said '$said'"
rm -f gnu/data.000.000
cat ours/data.000 ours/data.001 ours/data.002 ours/data.003 >cat.out
"$cli" join -q -o joined ours/data.000 ours/data.001 ours/data.002 ours/data.003 || fail "join: exit $?"
cmp -s joined cat.out || fail "join differs from cat"
"$cli" join -q -o series --series ours/data.004 || fail "join --series: exit $?"
cmp -s series ours/data || fail "join --series differs from the source"
# A series join says where it stopped; past a missing number, even with -q.
said=$("$cli" join -o series2 --series ours/data.004 2>&1)
[ $? -eq 0 ] && [ "$said" = "tessera-cli: --series: joining 'ours/data.004' to 'ours/data.007' (4 parts): 'ours/data.008' does not exist" ] \
  || fail "join --series said '$said'"
mv ours/data.002 gap.002
said=$("$cli" join -q -o gapped --series ours/data.000 2>&1)
[ $? -eq 1 ] && [ "$said" = "tessera-cli: --series: 'ours/data.002' is missing, yet 'ours/data.003' exists: give the inputs by name to join the parts as they are" ] \
  || fail "join --series across a gap said '$said'"
[ ! -e gapped ] || fail "a series join refused for its gap wrote its output"
mv gap.002 ours/data.002
rm -f series2 gapped
got=$("$cli" join -q -o joined ours/data.000 2>&1)
[ $? -eq 1 ] && [ "$got" = "tessera-cli: 'joined' exists; --force replaces it" ] || fail "existing -o: $got"
"$cli" join -q --force -o joined ours/data.000 && cmp -s joined ours/data.000 || fail "join --force"
got=$("$cli" join -q --force -o ours/data.000 ours/data.001 ours/data.000 2>&1)
[ $? -eq 1 ] && [ "$got" = "tessera-cli: cannot join into 'ours/data.000': it is one of the inputs" ] \
  || fail "destination among the inputs: $got"
cmp -s ours/data.000 gnu/data.000 || fail "refused join changed its input"

# --- plan ------------------------------------------------------------------------
[ "$("$cli" plan --size 0x400K ours/data | tr '\n' ,)" = "0 1048576,1048576 2097152,2097152 3000001," ] \
  || fail "plan --size 0x400K"
printf 'ab\r\ncd\r\nef' >crlf
[ "$("$cli" plan --hex 0d0a --extract 0:1 crlf | tr '\n' ,)" = "0 1,0 2,2 6,6 10," ] || fail "plan order"
"$cli" plan --plan - crlf <<<"$(printf '0 4\n4 10')" | cmp -s - <(printf '0 4\n4 10\n') || fail "plan --plan -"
said=$("$cli" plan --hex 'ff fe' crlf 2>&1 >/dev/null)
[ "$said" = "tessera-cli: no occurrence of 'ff fe' found: one part, the whole file" ] || fail "a search that found nothing said '$said'"
if command -v python3 >/dev/null; then
  "$cli" plan --json --pieces 2 crlf | python3 -c 'import json,sys; assert json.load(sys.stdin) == [{"start": 0, "end": 5}, {"start": 5, "end": 10}]' \
    || fail "plan --json"
fi

# --- checksums -------------------------------------------------------------------
mkdir sums usb
head -c 2500000 /dev/urandom >sums/big
"$cli" split -q --checksum --size 1000000 sums/big || fail "split --checksum: exit $?"
[ "$(wc -l <sums/big.sha256)" -eq 4 ] || fail "manifest: $(cat sums/big.sha256)"
(cd sums && sha256sum --quiet -c big.sha256) || fail "sha256sum -c rejects the manifest"
"$cli" verify -q sums/big.sha256 || fail "verify: exit $?"
got=$("$cli" split -q --checksum --size 1000000 sums/big 2>&1)
[ $? -eq 1 ] && [ "$got" = "tessera-cli: 'sums/big.sha256' exists; --force replaces it" ] || fail "manifest kept: $got"
[ ! -e sums/big.003 ] || fail "a refused split wrote parts"
mkdir sums2 && cp sums/big sums2/ && printf 'old' >sums2/big.sha256
"$cli" split -q --checksum --force --pieces 2 sums2/big && (cd sums2 && sha256sum --quiet -c big.sha256) \
  || fail "split --checksum --force does not replace the checksum file"
"$cli" split -q --checksum --into usb --at 100 --range 5:7 sums/big || fail "split --into: exit $?"
[ "$(ls usb | tr '\n' ' ')" = "big.000 big.001 big.002 big.sha256 " ] || fail "--into made $(ls usb)"
[ "$(wc -l <usb/big.sha256)" -eq 3 ] || fail "a plan that is not the whole source in order lists the source"
(cd usb && sha256sum --quiet -c big.sha256) || fail "sha256sum -c rejects the --into manifest"

# A checksum file's name that links to the source is never written through.
mkdir linked && head -c 3000 /dev/urandom >linked/s && cp linked/s linked/s.orig && ln linked/s linked/s.sha256
got=$("$cli" split -q --checksum --force --size 1000 linked/s 2>&1)
[ $? -eq 1 ] && [ "$got" = "tessera-cli: cannot write 'linked/s.sha256': it is 'linked/s' itself, through a link" ] \
  || fail "hard-linked checksum file: $got"
cmp -s linked/s linked/s.orig || fail "the checksum file was written over the source"
[ ! -e linked/s.000 ] || fail "a refused split wrote parts"
rm linked/s.sha256 && ln -s s linked/s.sha256
"$cli" split -q --checksum --force --size 1000 linked/s >/dev/null 2>&1 && fail "symlinked checksum file accepted"
cmp -s linked/s linked/s.orig || fail "the checksum file was written through a symlink"
# Replaced with --force, the old checksum file's name is replaced, never its
# bytes: a hard link to it elsewhere keeps them.
rm linked/s.sha256 && printf 'old sums\n' >linked/old && ln linked/old linked/s.sha256
"$cli" split -q --checksum --force --size 1000 linked/s && (cd linked && sha256sum --quiet -c s.sha256) \
  || fail "split --checksum --force over a linked checksum file"
[ "$(cat linked/old)" = "old sums" ] || fail "the old checksum file was written through"
rm -rf linked

# Parts of several blocks, each block hashed for its part and for the source.
mkdir blocks
head -c $((40 * 1024 * 1024 + 5)) /dev/urandom >blocks/big
"$cli" split -q --checksum --size 20M blocks/big && (cd blocks && sha256sum --quiet -c big.sha256) \
  && [ "$(wc -l <blocks/big.sha256)" -eq 4 ] || fail "checksums of parts of several blocks"
"$cli" join -q -o blocks/joined --check blocks/big.sha256 --series blocks/big.000 && cmp -s blocks/joined blocks/big \
  || fail "join --check of parts of several blocks"
rm -rf blocks

"$cli" join -q -o checked --check sums/big.sha256 --series sums/big.000 && cmp -s checked sums/big \
  || fail "join --check of intact parts"
"$cli" join -q -o auto --series sums/big.000 && cmp -s auto sums/big || fail "automatic check of intact parts"
rm -f auto
printf 'X' | dd of=sums/big.001 bs=1 seek=4242 conv=notrunc status=none
got=$("$cli" join -q -o bad --check sums/big.sha256 --series sums/big.000 2>&1)
[ $? -eq 1 ] && [ "$got" = "tessera-cli: 'sums/big.001' does not match its checksum in 'sums/big.sha256'" ] \
  || fail "join --check of a corrupted part: $got"
got=$("$cli" verify sums/big.sha256 2>/dev/null)
[ $? -eq 1 ] || fail "verify passed a corrupted part"
grep -qx 'big.001: FAILED' <<<"$got" && grep -qx 'big.000: OK' <<<"$got" || fail "verify said: $got"
(cd sums && sha256sum --quiet -c big.sha256 >/dev/null 2>&1) && fail "the oracle passed a corrupted part"

# The checksum file beside the first part is checked by default: one changed
# byte fails the join, the old output untouched; --no-check joins anyway.
printf 'old output' >auto
got=$("$cli" join --force -o auto --series sums/big.000 2>&1)
[ $? -eq 1 ] && [ "$got" = "tessera-cli: --series: joining 'sums/big.000' to 'sums/big.002' (3 parts): 'sums/big.003' does not exist
tessera-cli: checking against 'sums/big.sha256' (--no-check joins unchecked)
tessera-cli: 'sums/big.001' does not match its checksum in 'sums/big.sha256'" ] \
  || fail "automatic check of a corrupted part: $got"
[ "$(cat auto)" = "old output" ] || fail "a failed automatic check replaced the old output"
got=$("$cli" join -q --force -o auto sums/big.000 sums/big.001 sums/big.002 2>&1)
[ $? -eq 1 ] && [ "$got" = "tessera-cli: 'sums/big.001' does not match its checksum in 'sums/big.sha256'" ] \
  || fail "automatic check of listed inputs: $got"
[ "$(cat auto)" = "old output" ] || fail "a failed automatic check of listed inputs replaced the old output"
"$cli" join -q --force --no-check -o auto --series sums/big.000 \
  && cat sums/big.000 sums/big.001 sums/big.002 | cmp -s - auto || fail "join --no-check"
# Inputs it does not list all, in order, are joined unchecked as before.
"$cli" join -q -o unlisted sums/big.001 sums/big.000 && cat sums/big.001 sums/big.000 | cmp -s - unlisted \
  || fail "a join of inputs the checksum file does not list in order"
got=$("$cli" join -q -o both --check sums/big.sha256 --no-check sums/big.000 2>&1)
[ $? -eq 2 ] && [ "$(head -n 1 <<<"$got")" = "tessera-cli: --check and --no-check cannot be given together" ] \
  || fail "--check with --no-check: $got"
rm -f auto unlisted

# A join that fails its check leaves no output, and with --force the old
# output survives untouched.
printf 'old output' >kept
got=$("$cli" join -q --force -o kept --check sums/big.sha256 --series sums/big.000 2>&1)
[ $? -eq 1 ] || fail "join --check --force of a corrupted part: $got"
[ "$(cat kept)" = "old output" ] || fail "a failed join --check --force replaced the old output"
[ ! -e bad ] || fail "a failed join --check left its output"
! compgen -G '.kept.tessera-*' >/dev/null && ! compgen -G '.bad.tessera-*' >/dev/null \
  || fail "a failed join left its temporary file"

# --- a stop signal in the middle of a part ----------------------------------------
mkdir stop
head -c $((48 * 1024 * 1024)) /dev/zero >stop/data
for signal in INT TERM; do
  rm -f stop/data.*
  "$cli" split -q --pace --checksum --at 1 stop/data 2>stop/said &
  pid=$!
  for _ in $(seq 600); do compgen -G 'stop/.data.001.tessera-*' >/dev/null && break; sleep 0.01; done
  sleep 0.3
  kill -s $signal $pid
  wait $pid
  rc=$?
  expected=$([ $signal = INT ] && echo 130 || echo 143)
  [ $rc -eq "$expected" ] || fail "SIG$signal: exit $rc"
  [ "$(cat stop/said)" = "tessera-cli: stopped by SIG$signal; 'stop/data.001' was cut short and removed" ] \
    || fail "SIG$signal said: $(cat stop/said)"
  [ "$(stat -c %s stop/data.000)" -eq 1 ] || fail "SIG$signal: the first part is not whole"
  [ ! -e stop/data.001 ] || fail "SIG$signal: the part cut short is left"
  ! compgen -G 'stop/.data.*' >/dev/null || fail "SIG$signal: a temporary part is left"
  [ ! -e stop/data.sha256 ] || fail "SIG$signal: a checksum file for a split that did not finish"
done
# The same split again is refused, and a series join takes the whole part
# left, nothing of the one cut short, and says where the series ends.
said=$("$cli" split -q --pace --checksum --at 1 stop/data 2>&1)
[ $? -eq 1 ] && [ "$said" = "tessera-cli: cannot split 'stop/data': 'stop/data.000' exists (an earlier split's part?); --resume finishes that split; remove the earlier parts, or --after-existing numbers these after them" ] \
  || fail "a stopped split run again said '$said'"
[ "$(ls stop)" = "$(printf 'data\ndata.000\nsaid')" ] || fail "the split run again left $(ls stop)"
said=$("$cli" join -o stop/again --series stop/data.000 2>&1) || fail "join --series after a stop: $said"
cmp -s stop/again stop/data.000 || fail "join --series after a stop joined more than the whole part"
[ "$said" = "tessera-cli: --series: joining 'stop/data.000' (1 part): 'stop/data.001' does not exist" ] \
  || fail "join --series after a stop said '$said'"
rm -f stop/again stop/data.*

# A source that shrinks under the split fails it, naming the part cut short,
# which is removed.
"$cli" split -q --pace --at 1 stop/data 2>stop/said &
pid=$!
for _ in $(seq 600); do compgen -G 'stop/.data.001.tessera-*' >/dev/null && break; sleep 0.01; done
head -c 2 /dev/zero >stop/data
wait $pid
rc=$?
[ $rc -eq 1 ] || fail "a source that shrank: exit $rc"
[ "$(cat stop/said)" = "tessera-cli: cannot read 'stop/data': it ended early; 'stop/data.001' was cut short and removed" ] \
  || fail "a source that shrank said: $(cat stop/said)"
[ ! -e stop/data.001 ] && ! compgen -G 'stop/.data.*' >/dev/null || fail "a source that shrank left its part"
rm -f stop/data.*
head -c $((48 * 1024 * 1024)) /dev/zero >stop/data

# Two splits of one source at once: one takes the names, the other is refused
# before it writes anything, and the series is the source.
mkdir twice
head -c $((5 * 1024 * 1024)) /dev/urandom >twice/data
"$cli" split -q --pace --size 1M twice/data 2>twice/said1 &
first=$!
"$cli" split -q --pace --size 1M twice/data 2>twice/said2 &
second=$!
wait $first
rc1=$?
wait $second
rc2=$?
[ $((rc1 + rc2)) -eq 1 ] || fail "two splits at once: exit $rc1 and $rc2"
grep -q "exists (an earlier split's part?)" twice/said1 twice/said2 || fail "two splits at once said $(cat twice/said*)"
"$cli" join -q -o twice/joined --series twice/data.000 || fail "join --series after two splits: exit $?"
cmp -s twice/joined twice/data || fail "join --series after two splits differs from the source"
[ ! -e twice/data.005 ] || fail "two splits at once wrote more than one run of parts"

# A join stopped in the middle names the input it was copying; the output,
# written under a temporary name, is removed and the old file left as it was.
printf 'old output' >stop/joined
"$cli" join -q --pace --force -o stop/joined stop/data 2>stop/said &
pid=$!
for _ in $(seq 600); do compgen -G 'stop/.joined.tessera-*' >/dev/null && break; sleep 0.01; done
sleep 0.3
kill -s INT $pid
wait $pid
rc=$?
[ $rc -eq 130 ] || fail "join SIGINT: exit $rc"
[ "$(cat stop/said)" = "tessera-cli: stopped by SIGINT in 'stop/data'; 'stop/joined' was not written" ] \
  || fail "join SIGINT said: $(cat stop/said)"
[ "$(cat stop/joined)" = "old output" ] || fail "join SIGINT: the old output was replaced"
! compgen -G 'stop/.joined.tessera-*' >/dev/null || fail "join SIGINT left its temporary file"

# --- the executable links no Qt ----------------------------------------------------
! ldd "$cli" | grep -qi 'libqt' || fail "tessera-cli links Qt"

[ $failures -eq 0 ] || { echo "$failures failures"; exit 1; }
echo "OK"
