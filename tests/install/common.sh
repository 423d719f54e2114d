# Shared by the install checks: a temporary folder removed on every way out,
# failure reporting and installing the build tree into a prefix.
#   . common.sh <build-dir> <config>

build_dir=$(cd "$1" && pwd)
build_config=${2:-}

work=$(mktemp -d "${TMPDIR:-/tmp}/tessera-install.XXXXXX")
cleanup() {
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

skip() {
  echo "SKIPPED: $*"
  exit 77
}

require() {
  command -v "$1" >/dev/null 2>&1 || fail "$1 not found (Debian package $2)"
}

install_into() {
  local args=(--install "$build_dir" --prefix "$1")
  [ -n "$build_config" ] && args+=(--config "$build_config")
  cmake "${args[@]}" >"$work/install.log" 2>&1 || { cat "$work/install.log" >&2; fail "cmake --install failed"; }
}

# Width and height of a PNG file, from its header.
png_size() {
  od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d\n", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }'
}
