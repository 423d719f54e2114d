#!/usr/bin/env bash
# The bash completion of tessera-cli, sourced into a bare bash, and loaded
# with the bash-completion package where that is installed: the same words
# complete the same way with and without it.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
script=$src/src/cli/tessera-cli.bash
work=$(mktemp -d "${TMPDIR:-/tmp}/tessera-completion.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

mkdir "$work/files" "$work/files/d"
touch "$work/files/a.sha256" "$work/files/b.txt" "$work/files/x.par2" "$work/files/:1"

# A line typed up to the cursor, then what is offered, one a line, sorted.
cases=(
  "tessera-cli |--help --version help join plan repair split verify"
  "tessera-cli help sp|split"
  "tessera-cli sp|split"
  "tessera-cli split --ch|--checksum"
  "tessera-cli join --o|--output"
  "tessera-cli verify |a.sha256 d"
  "tessera-cli repair |d x.par2"
  "tessera-cli join --check |a.sha256 d"
  "tessera-cli split --into |d"
  "tessera-cli split --plan |:1 a.sha256 b.txt d x.par2"
  "tessera-cli join --output=|:1 a.sha256 b.txt d x.par2"
  "tessera-cli join --output=b|b.txt"
  "tessera-cli join -o |:1 a.sha256 b.txt d x.par2"
  "tessera-cli split --extract 0x200:|"
  "tessera-cli split --range 0:1|"
  "tessera-cli split --size |"
  "tessera-cli split --recovery |"
  "tessera-cli split --res|--resume"
  "tessera-cli split --filter |"
  "tessera-cli split --size 1M |:1 a.sha256 b.txt d x.par2"
)

# Prints "line|offers" for every case, in a bash that has sourced the given
# files first.
offers() {
  (cd "$work/files" && bash --norc --noprofile -c '
    for f in "${@:2}"; do . "$f"; done
    complete -p tessera-cli >/dev/null || { echo "no completion for tessera-cli"; exit 1; }
    while IFS="|" read -r line _; do
      # Words as bash cuts them: at blanks, and "=" and ":" on their own;
      # right after "=" or ":" that is the word being completed.
      spaced=${line//=/ = }
      spaced=${spaced//:/ : }
      read -r -a COMP_WORDS <<<"$spaced"
      [[ $line == *" " ]] && COMP_WORDS+=("")
      COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
      COMP_LINE=$line
      COMP_POINT=${#line}
      COMPREPLY=()
      _tessera_cli tessera-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
      echo "$line|$(printf "%s\n" "${COMPREPLY[@]}" | sort -u | xargs)"
    done <<<"$1"
  ' bash "$(printf '%s\n' "${cases[@]}")" "$@") 2>&1
}

expected=$(printf '%s\n' "${cases[@]}")
got=$(offers "$script")
[ "$got" = "$expected" ] || fail "without bash-completion:$(diff <(echo "$expected") <(echo "$got") || true)"

helpers=/usr/share/bash-completion/bash_completion
if [ -f "$helpers" ]; then
  got=$(offers "$helpers" "$script")
  [ "$got" = "$expected" ] || fail "with bash-completion:$(diff <(echo "$expected") <(echo "$got") || true)"
  echo "PASS: with and without bash-completion"
else
  echo "PASS: without bash-completion (not installed here)"
fi
