#!/usr/bin/env bash
# tessera-cli against GNU coreutils on the same file in one run: medians of
# several runs, ratios side by side, the copy path each run took (system calls
# counted with strace) and the peak resident memory. As root, and where a loop
# image can be mounted, the same on XFS with shared extents (reflink).
#   bench/cli/run.sh [size in MiB, default 1024] [runs, default 5] [build folder]
# BENCH_ONLY=checksums runs only the checksum cases; BENCH_ONLY=repair only
# the repair case, BENCH_ONLY=recovery only the recovery set cases (par2
# needed for both), BENCH_ONLY=streams only standard input, standard output
# and --resume; BENCH_SLICES=N cuts the recovery sets into at most N
# slices (split --slices N, and par2 create -b of the same count).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
size=${1:-1024}
runs=${2:-5}
build=${3:-$root/build-bench}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target tessera-cli -j2 >/dev/null
cli=$build/src/cli/tessera-cli

scratch=$(mktemp -d "${TMPDIR:-/var/tmp}/tessera-cli-bench-XXXXXX")
mnt=$scratch/xfs
cleanup() {
  mountpoint -q "$mnt" 2>/dev/null && umount "$mnt"
  rm -rf "$scratch"
}
trap cleanup EXIT

now() { date +%s%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
seconds() { awk -v ns="$1" 'BEGIN { printf "%.3f", ns / 1e9 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# measure CLEAN COMMAND: nanoseconds of one run of COMMAND after CLEAN.
measure() {
  eval "$1"
  local t0 t1
  t0=$(now)
  eval "$2"
  t1=$(now)
  echo $((t1 - t0))
}

# compare NAME TARGET CLEAN OURS THEIRS: runs both, interleaved, and prints
# the medians and their ratio.
compare() {
  local name=$1 target=$2 clean=$3 ours=$4 theirs=$5 a=() b=() i
  for ((i = 0; i < runs; i++)); do
    a+=("$(measure "$clean" "$ours")")
    b+=("$(measure "$clean" "$theirs")")
  done
  local ma mb
  ma=$(printf '%s\n' "${a[@]}" | median)
  mb=$(printf '%s\n' "${b[@]}" | median)
  printf '%-44s %9s s %9s s %7s   %s\n' "$name" "$(seconds "$ma")" "$(seconds "$mb")" "$(ratio "$ma" "$mb")" "$target"
}

# The system calls that moved the bytes of one run.
copy_path() {
  strace -f -c -e trace=copy_file_range,read,write,pread64,pwrite64 -o "$scratch/strace" "$@" >/dev/null 2>&1 || true
  awk '$NF ~ /^(copy_file_range|read|write|pread64|pwrite64)$/ { n[$NF] = $4 }
       END { printf "copy_file_range %d, read %d, write %d, pread64 %d, pwrite64 %d\n",
             n["copy_file_range"], n["read"], n["write"], n["pread64"], n["pwrite64"] }' "$scratch/strace"
}

peak() {
  /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1 | awk '{ printf "%.1f MiB", $1 / 1024 }'
}

header() {
  printf '\n== %s\n%-44s %11s %11s %7s   %s\n' "$1" case tessera-cli coreutils ratio target
}

# --- page-cached file on the build's disk ------------------------------------
bench() {
  local dir=$1 kind=$2
  mkdir -p "$dir/ours" "$dir/gnu"
  local data=$dir/data
  local clean_parts="rm -f $dir/ours/data.* $dir/gnu/data.*"
  local split_ours="$cli split -q --into $dir/ours --size 64M $data"
  local split_gnu="split -a 3 -d -b 64M $data $dir/gnu/data."
  # The file system under test is synced (sync -f), not every file system of
  # a machine that others write to as well.
  local sync=""
  [ "$kind" = xfs ] && sync="; sync -f $dir"

  header "$kind: $size MiB"
  compare "split --size 64M${sync:+; sync} / split -b 64M${sync:+; sync}" "$([ "$kind" = xfs ] && echo '<= 0.20' || echo '<= 1.00')" \
    "$clean_parts; sync" "$split_ours$sync" "$split_gnu$sync"
  eval "$clean_parts"; eval "$split_ours"; eval "$split_gnu"
  for p in "$dir"/gnu/data.*; do
    cmp -s "$p" "$dir/ours/$(basename "$p")" || { echo "FAIL: $(basename "$p") differs from split -b"; exit 1; }
  done
  echo "   parts byte-identical to split -b: $(ls "$dir/gnu" | wc -l) parts"
  compare "join${sync:+; sync} / cat parts > out${sync:+; sync}" "$([ "$kind" = xfs ] && echo '<= 1.50' || echo '<= 1.00')" \
    "rm -f $dir/out; sync" "$cli join -q -o $dir/out $dir/ours/data.*$sync" "cat $dir/ours/data.* > $dir/out$sync"
  cmp -s "$dir/out" "$data" || { echo "FAIL: join differs from the source"; exit 1; }
  if [ "$kind" != xfs ]; then
    compare "split --checksum / split -b + sha256sum" "<= 0.50" \
      "$clean_parts; rm -f $dir/ours/data.sha256; sync" "$split_ours --checksum" \
      "$split_gnu && sha256sum $dir/gnu/data.* >/dev/null"
  fi

  eval "$clean_parts"
  echo "   copy path, split:            $(copy_path $split_ours)"
  echo "   copy path, join:             $(rm -f "$dir/out"; copy_path "$cli" join -q -o "$dir/out" "$dir"/ours/data.*)"
  echo "   copy path, cat:              $(rm -f "$dir/out"; copy_path sh -c "cat $dir/ours/data.* > $dir/out")"
  if [ "$kind" != xfs ]; then
    echo "   copy path, split --checksum: $(eval "$clean_parts"; rm -f "$dir/ours/data.sha256"; copy_path $split_ours --checksum)"
    echo "   copy path, split -b:         $(eval "$clean_parts"; copy_path $split_gnu)"
    eval "$clean_parts"; rm -f "$dir/ours/data.sha256" "$dir/out"
    echo "   peak resident memory: split $(peak $split_ours), split --checksum $(eval "$clean_parts"; peak $split_ours --checksum), join $(peak "$cli" join -q -o "$dir/out" "$dir"/gnu/data.*)"
  else
    eval "$clean_parts"; rm -f "$dir/out"; sync -f "$dir"
    local before after
    before=$(df -B1 --output=used "$dir" | tail -n 1)
    eval "$split_ours"; sync -f "$dir"
    after=$(df -B1 --output=used "$dir" | tail -n 1)
    echo "   space taken by the parts of split --size 64M: $(awk -v a="$after" -v b="$before" -v s="$size" 'BEGIN { printf "%.1f %% of the source (target < 10 %%)", (a - b) * 100 / (s * 1048576) }')"
  fi
}

# --- checksums against the hash's own limit ----------------------------------
# L: the time SHA-256 takes over the file's bytes in 1 MiB blocks, from
# `openssl speed` in this run (median of three); each job's ratio is to its
# own limit. CPU seconds (user + system) stand beside the wall time: two
# threads make the wall time shorter, not the CPU time.
# timed COMMAND...: "wall_ns cpu_s peak_kib" of one run.
timed() {
  local t0 t1
  t0=$(now)
  /usr/bin/time -f '%U %S %M' -o "$scratch/time" "$@" >/dev/null 2>&1 || { echo "FAIL: $*" >&2; exit 1; }
  t1=$(now)
  awk -v ns=$((t1 - t0)) '{ printf "%.0f %.3f %d\n", ns, $1 + $2, $3 }' "$scratch/time"
}
column_median() { awk -v c="$1" '{ print $c }' | median; }

checksums() {
  local dir=$1 data=$1/data out=$1/ours
  mkdir -p "$out"
  # The source beside its parts, as verify and sha256sum -c look for it.
  ln -s "$data" "$out/data"
  local parts="$out/data.[0-9]*"
  local rates=() i
  for i in 1 2 3; do
    rates+=("$(openssl speed -evp sha256 -bytes 1048576 -seconds 1 2>/dev/null | awk '$1 == "sha256" { sub(/k$/, "", $2); print $2 * 1000 }')")
  done
  local rate
  rate=$(printf '%s\n' "${rates[@]}" | median)
  local L
  L=$(awk -v b=$((size * 1048576)) -v r="$rate" 'BEGIN { printf "%d", b / r * 1e9 }')
  local split=() splitsum=() join=() joincheck=() verify=() version=() catnull=()
  for ((i = 0; i < runs; i++)); do
    rm -f $out/data.* "$dir/out"; sync
    split+=("$(timed $cli split -q --into "$out" --size 64M "$data")")
    rm -f $out/data.*; sync
    splitsum+=("$(timed $cli split -q --into "$out" --size 64M --checksum "$data")")
    rm -f "$dir/out"; sync
    join+=("$(eval timed $cli join -q --no-check -o "$dir/out" $parts)")
    rm -f "$dir/out"; sync
    joincheck+=("$(eval timed $cli join -q -o "$dir/out" --check "$out/data.sha256" $parts)")
    verify+=("$(timed $cli verify -q "$out/data.sha256")")
    # Start-up: 200 starts each, interleaved, per run.
    local t0 t1 n
    t0=$(now); for n in $(seq 200); do "$cli" --version >/dev/null; done; t1=$(now)
    version+=("$(((t1 - t0) / 200)) 0 0")
    t0=$(now); for n in $(seq 200); do cat /dev/null; done; t1=$(now)
    catnull+=("$(((t1 - t0) / 200)) 0 0")
  done
  cmp -s "$dir/out" "$data" || { echo "FAIL: join --check differs from the source"; exit 1; }
  (cd "$out" && sha256sum -c --quiet data.sha256) || { echo "FAIL: sha256sum -c of the checksum file"; exit 1; }
  med() { printf '%s\n' "${@:2}" | column_median "$1"; }
  local sp sc jn jc vf vs cn
  sp=$(med 1 "${split[@]}"); sc=$(med 1 "${splitsum[@]}"); jn=$(med 1 "${join[@]}")
  jc=$(med 1 "${joincheck[@]}"); vf=$(med 1 "${verify[@]}"); vs=$(med 1 "${version[@]}"); cn=$(med 1 "${catnull[@]}")
  local max_sL max_jL
  max_sL=$((sp > L ? sp : L)); max_jL=$((jn > L ? jn : L))
  printf '\n== checksums: %s MiB page-cached, L = %s s (openssl speed: %s MB/s), medians of %s runs\n' \
    "$size" "$(seconds "$L")" "$(awk -v r="$rate" 'BEGIN { printf "%.0f", r / 1e6 }')" "$runs"
  printf '%-34s %9s %9s %10s %16s %7s %s\n' case wall CPU "peak RSS" "limit" ratio goal
  row() {
    printf '%-34s %7s s %7s s %6.1f MiB %9s s (%s) %7s %s\n' "$1" "$(seconds "$2")" "$3" "$(awk -v k="$4" 'BEGIN { print k / 1024 }')" \
      "$(seconds "$5")" "$6" "$(ratio "$2" "$5")" "$7"
  }
  row "split --checksum --size 64M" "$sc" "$(med 2 "${splitsum[@]}")" "$(med 3 "${splitsum[@]}")" "$max_sL" "max(split, L)" "<= 1.2"
  row "join --check MANIFEST parts" "$jc" "$(med 2 "${joincheck[@]}")" "$(med 3 "${joincheck[@]}")" "$max_jL" "max(join, L)" "<= 1.2"
  row "verify (parts + source line)" "$vf" "$(med 2 "${verify[@]}")" "$(med 3 "${verify[@]}")" $((2 * L)) "2L" "<= 0.6"
  printf '%-34s %7s ms %28s %9s ms (%s) %7s %s\n' "--version" "$(awk -v n="$vs" 'BEGIN { printf "%.2f", n / 1e6 }')" "" \
    "$(awk -v n="$cn" 'BEGIN { printf "%.2f", n / 1e6 }')" "cat /dev/null" "$(ratio "$vs" "$cn")" "<= 1.3"
  printf '   plain split %s s, plain join %s s; CPU of split/join without checksums %s / %s s\n' "$(seconds "$sp")" "$(seconds "$jn")" \
    "$(med 2 "${split[@]}")" "$(med 2 "${join[@]}")"
  echo "   copy path, split --checksum: $(rm -f $out/data.*; copy_path $cli split -q --into "$out" --size 64M --checksum "$data")"
  echo "   threads started by split --checksum: $(rm -f $out/data.*; strace -f -c -e trace=clone,clone3 -o "$scratch/strace" $cli split -q --into "$out" --size 64M --checksum "$data" >/dev/null 2>&1; awk '$NF ~ /^clone3?$/ { n += $4 } END { print n + 0 }' "$scratch/strace")"
  echo "   libcrypto loaded by --version: $(LD_DEBUG=files "$cli" --version 2>&1 >/dev/null | grep -c 'file=libcrypto' || true) times"
  rm -rf "$out" "$dir/out"
}

# --- repair against par2 -----------------------------------------------------
# The source cut into 64 MiB parts, a recovery set of 10 % over them from
# par2 (1 MiB slices), one part deleted: tessera-cli repair against par2
# repair, wall and CPU seconds, the part rebuilt byte for byte each time.
repair_case() {
  local dir=$1/repair
  if ! command -v par2 >/dev/null; then
    echo; echo "== repair: skipped, par2 is not installed"
    return
  fi
  mkdir -p "$dir"
  $cli split -q --into "$dir" --size 64M "$1/data"
  (cd "$dir" && par2 create -q -q -r10 -s1048576 data.par2 data.[0-9]* >/dev/null)
  local lost=$dir/data.002 keep=$1/keep.002
  cp "$lost" "$keep"
  local ours=() theirs=() i
  for ((i = 0; i < runs; i++)); do
    rm -f "$lost"; sync
    ours+=("$(timed $cli repair -q "$dir/data.par2")")
    cmp -s "$lost" "$keep" || { echo "FAIL: tessera-cli repair rebuilt the part otherwise"; exit 1; }
    rm -f "$lost"; sync
    theirs+=("$(cd "$dir" && timed par2 repair -q -q data.par2)")
    cmp -s "$lost" "$keep" || { echo "FAIL: par2 repair rebuilt the part otherwise"; exit 1; }
    rm -f "$dir"/data.[0-9]*.[0-9]*  # par2 keeps the damaged files' old copies
  done
  med() { printf '%s\n' "${@:2}" | column_median "$1"; }
  printf '\n== repair: %s MiB in 64 MiB parts, 10 %% recovery in 1 MiB slices, one part deleted, medians of %s runs\n' "$size" "$runs"
  printf '%-34s %9s %9s %10s\n' case wall CPU "peak RSS"
  printf '%-34s %7s s %7s s %6.1f MiB\n' "tessera-cli repair" "$(seconds "$(med 1 "${ours[@]}")")" "$(med 2 "${ours[@]}")" \
    "$(awk -v k="$(med 3 "${ours[@]}")" 'BEGIN { print k / 1024 }')"
  printf '%-34s %7s s %7s s %6.1f MiB\n' "par2 repair" "$(seconds "$(med 1 "${theirs[@]}")")" "$(med 2 "${theirs[@]}")" \
    "$(awk -v k="$(med 3 "${theirs[@]}")" 'BEGIN { print k / 1024 }')"
  echo "   wall ratio tessera-cli / par2: $(ratio "$(med 1 "${ours[@]}")" "$(med 1 "${theirs[@]}")")"
  rm -rf "$dir" "$keep"
}

# --- recovery sets against par2 ------------------------------------------------
# The source cut into 64 MiB parts with 10 % recovery: split --recovery against
# a plain split followed by par2 create of the same slice count (read back from
# the set with par2 verify), and against split --checksum; then one part of
# that set deleted, tessera-cli repair against par2 repair. Wall and CPU
# seconds, peak resident memory; every set verified by par2.
recovery_case() {
  local data=$1/data dir=$1/recovery
  if ! command -v par2 >/dev/null; then
    echo; echo "== recovery: skipped, par2 is not installed"
    return
  fi
  fresh() { rm -rf "$dir"; mkdir -p "$dir"; sync; }
  local ours=() plain=() theirs=() i slices grain=()
  [ -z "${BENCH_SLICES:-}" ] || grain=(--slices "$BENCH_SLICES")
  fresh
  $cli split -q --into "$dir" --size 64M --recovery 10 "${grain[@]}" "$data"
  slices=$(cd "$dir" && par2 verify data.par2 2>/dev/null | awk '/total of .* data blocks/ { print $(NF - 2) }')
  [ -n "$slices" ] || { echo "FAIL: par2 verify does not read the set"; exit 1; }
  for ((i = 0; i < runs; i++)); do
    fresh
    ours+=("$(timed $cli split -q --into "$dir" --size 64M --recovery 10 "${grain[@]}" "$data")")
    (cd "$dir" && par2 verify -q -q data.par2 >/dev/null) || { echo "FAIL: par2 verify refuses the set"; exit 1; }
    fresh
    plain+=("$(timed $cli split -q --into "$dir" --size 64M --checksum "$data")")
    fresh
    theirs+=("$(timed sh -c "$cli split -q --into '$dir' --size 64M '$data' && cd '$dir' && par2 create -q -q -r10 -b$slices data.par2 data.[0-9]*")")
  done
  med() { printf '%s\n' "${@:2}" | column_median "$1"; }
  printf '\n== recovery: %s MiB in 64 MiB parts, 10 %% recovery, %s slices, medians of %s runs\n' "$size" "$slices" "$runs"
  printf '%-44s %9s %9s %10s\n' case wall CPU "peak RSS"
  row() {
    local name=$1; shift
    printf '%-44s %7s s %7s s %6.1f MiB\n' "$name" "$(seconds "$(med 1 "$@")")" "$(med 2 "$@")" \
      "$(awk -v k="$(med 3 "$@")" 'BEGIN { print k / 1024 }')"
  }
  row "tessera-cli split --recovery 10" "${ours[@]}"
  row "tessera-cli split --checksum" "${plain[@]}"
  row "split, then par2 create -r10 -b$slices" "${theirs[@]}"
  echo "   --recovery / (split + par2 create): $(ratio "$(med 1 "${ours[@]}")" "$(med 1 "${theirs[@]}")") (goal <= 0.15, <= 0.08 at 2,000 slices)"
  echo "   --recovery / --checksum: $(ratio "$(med 1 "${ours[@]}")" "$(med 1 "${plain[@]}")") (goal <= 3)"

  # The set with its checksum file, as the README makes it: verify against
  # par2 verify, then one part deleted: tessera-cli repair against par2 repair.
  fresh
  $cli split -q --into "$dir" --size 64M --checksum --recovery 10 "${grain[@]}" "$data"
  local check=() theircheck=()
  for ((i = 0; i < runs; i++)); do
    check+=("$(timed $cli verify -q "$dir/data.sha256")")
    theircheck+=("$(cd "$dir" && timed par2 verify -q -q data.par2)")
  done
  row "tessera-cli verify (SHA-256 + the set)" "${check[@]}"
  row "par2 verify (the same set)" "${theircheck[@]}"
  echo "   verify / par2 verify: $(ratio "$(med 1 "${check[@]}")" "$(med 1 "${theircheck[@]}")") (goal <= 0.5)"
  local lost=$dir/data.002 keep=$1/keep.002 mend=() theirmend=()
  cp "$lost" "$keep"
  for ((i = 0; i < runs; i++)); do
    rm -f "$lost"; sync
    mend+=("$(timed $cli repair -q "$dir/data.par2")")
    cmp -s "$lost" "$keep" || { echo "FAIL: tessera-cli repair rebuilt the part otherwise"; exit 1; }
    rm -f "$lost"; sync
    theirmend+=("$(cd "$dir" && timed par2 repair -q -q data.par2)")
    cmp -s "$lost" "$keep" || { echo "FAIL: par2 repair rebuilt the part otherwise"; exit 1; }
    rm -f "$dir"/data.[0-9]*.[0-9]*
  done
  row "tessera-cli repair (one part deleted)" "${mend[@]}"
  row "par2 repair (the same)" "${theirmend[@]}"
  echo "   repair / par2 repair: $(ratio "$(med 1 "${mend[@]}")" "$(med 1 "${theirmend[@]}")") (goal <= 0.1 at 2,000 slices)"
  rm -rf "$dir" "$keep"
}

# --- standard input, standard output, --snap, --resume -------------------------
# A stream split against split -b reading the same pipe; with --checksum
# against the larger of that and openssl's SHA-256 of the same bytes; --snap
# 0A on text against split -C; join -o - and a --resume that finds every part
# whole against cat of the parts.
streams_case() {
  local data=$1/data dir=$1/stream text=$1/text
  mkdir -p "$dir/ours" "$dir/gnu"
  # base64 dies of SIGPIPE once head has its bytes: that is not a failure.
  { base64 -w 100 "$data" || true; } | head -c $((size * 1024 * 1024)) >"$text"
  cat "$text" >/dev/null
  local clean="rm -f $dir/ours/* $dir/gnu/*; sync"
  header "streams: $size MiB page-cached"
  compare "cat | split --size 64M - / cat | split -b 64M -" "<= 1.00" "$clean" \
    "cat $data | $cli split -q --size 64M - --name $dir/ours/data" "cat $data | split -a 3 -d -b 64M - $dir/gnu/data."
  local a=() b=() c=() i
  for ((i = 0; i < runs; i++)); do
    a+=("$(measure "$clean" "cat $data | $cli split -q --size 64M --checksum - --name $dir/ours/data")")
    b+=("$(measure "$clean" "cat $data | $cli split -q --size 64M - --name $dir/ours/data")")
    c+=("$(measure ":" "openssl dgst -sha256 $data >/dev/null")")
  done
  local ma mb mc
  ma=$(printf '%s\n' "${a[@]}" | median); mb=$(printf '%s\n' "${b[@]}" | median); mc=$(printf '%s\n' "${c[@]}" | median)
  printf '%-44s %9s s %9s s %7s   %s\n' "the same --checksum / max(that, openssl)" "$(seconds "$ma")" \
    "$(seconds $((mb > mc ? mb : mc)))" "$(ratio "$ma" $((mb > mc ? mb : mc)))" "<= 1.20"
  # Each timed run cleans both folders first: make the checksum file again.
  eval "$clean"
  cat "$data" | $cli split -q --size 64M --checksum - --name "$dir/ours/data"
  (cd "$dir/ours" && sha256sum -c --quiet data.sha256) || { echo "FAIL: sha256sum -c of the stream's checksums"; exit 1; }
  compare "--snap 0A on text / split -C 64M" "<= 1.00" "$clean" \
    "$cli split -q --size 64M --snap 0A --into $dir/ours $text" "split -a 3 -d -C 64M $text $dir/gnu/text."
  # Each timed run cleans both folders first: make ours again to compare.
  $cli split -q --size 64M --snap 0A --into "$dir/ours" "$text"
  for p in "$dir"/gnu/text.*; do
    cmp -s "$p" "$dir/ours/$(basename "$p")" || { echo "FAIL: $(basename "$p") differs from split -C"; exit 1; }
  done
  eval "$clean"
  cat "$data" | $cli split -q --size 64M - --name "$dir/ours/data"
  compare "join -o - > /dev/null / cat parts > /dev/null" "<= 1.00" ":" \
    "$cli join -q --no-check -o - $dir/ours/data.* >/dev/null" "cat $dir/ours/data.* >/dev/null"
  compare "--resume, every part whole / cat parts | cmp" "<= 1.00" ":" \
    "$cli split -q --size 64M --resume --into $dir/ours $data" "cat $dir/ours/data.* | cmp - $data"
  echo "   peak resident memory: cat | split --size 64M - $(eval "$clean"; peak sh -c "cat $data | $cli split -q --size 64M - --name $dir/ours/data"), with --snap 0A and no line feed at all $(eval "$clean"; peak sh -c "head -c $((size * 1048576)) /dev/zero | $cli split -q --size 64M --snap 0A - --name $dir/ours/data")"
  rm -rf "$dir" "$text"
}

mkdir "$scratch/disk"
head -c $((size * 1024 * 1024)) /dev/urandom >"$scratch/disk/data"
cat "$scratch/disk/data" >/dev/null
echo "tessera-cli $("$cli" --version | cut -d' ' -f2), $(split --version | head -n 1), medians of $runs runs, $(nproc) cores"
echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg) (other work shares the machine)"
if [ "${BENCH_ONLY:-}" = repair ]; then
  repair_case "$scratch/disk"
  rm -rf "$scratch/disk"
  exit 0
fi
if [ "${BENCH_ONLY:-}" = streams ]; then
  streams_case "$scratch/disk"
  rm -rf "$scratch/disk"
  exit 0
fi
if [ "${BENCH_ONLY:-}" = recovery ]; then
  recovery_case "$scratch/disk"
  rm -rf "$scratch/disk"
  exit 0
fi
if [ "${BENCH_ONLY:-}" != checksums ]; then
  bench "$scratch/disk" "page-cached file, $(df --output=fstype "$scratch" | tail -n 1)"
fi
checksums "$scratch/disk"
repair_case "$scratch/disk"
recovery_case "$scratch/disk"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
rm -rf "$scratch/disk"

# --- XFS with shared extents on a loop image -----------------------------------
[ "${BENCH_ONLY:-}" = checksums ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo; echo "== xfs: skipped, mounting a loop image needs root"
  exit 0
fi
if ! command -v mkfs.xfs >/dev/null; then
  if command -v apt-get >/dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends xfsprogs >/dev/null 2>&1 || true
  fi
fi
mkdir "$mnt"
if ! command -v mkfs.xfs >/dev/null || ! truncate -s $((size * 4 + 1024))M "$scratch/xfs.img" ||
   ! mkfs.xfs -q -m reflink=1 "$scratch/xfs.img" || ! mount -o loop "$scratch/xfs.img" "$mnt" 2>/dev/null; then
  echo; echo "== xfs: skipped, no XFS loop image could be made and mounted here"
  exit 0
fi
head -c $((size * 1024 * 1024)) /dev/urandom >"$mnt/data"
sync
cat "$mnt/data" >/dev/null
bench "$mnt" xfs
