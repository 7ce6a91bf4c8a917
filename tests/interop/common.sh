# shellcheck shell=bash
# Helpers shared by the interop test scripts; sourced, never run on its own.
# Every script is called as: script BIN_DIR CIDPEER [ARGS...]
#   BIN_DIR  the build's bin folder with our programs
#   CIDPEER  path of the spandsp bridge program, or "none" when spandsp was not found
# A check whose program or peer is missing exits 77, which CTest reports as skipped.

BIN_DIR=${1:?bin folder}
CIDPEER=${2:?cidpeer path or none}
shift 2
# shellcheck disable=SC2034  # read by the sourcing script
ARGS=("$@")

WORK=$(mktemp -d "${TMPDIR:-/tmp}/interop.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

skip() {
    echo "SKIPPED: $*"
    exit 77
}

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

need_program() {
    [[ -x "$BIN_DIR/$1" ]] || skip "$1 is not built"
}

need_command() {
    command -v "$1" >/dev/null 2>&1 || skip "$1 is not installed"
}

need_spandsp() {
    [[ "$CIDPEER" != none && -x "$CIDPEER" ]] || skip "spandsp (cidpeer) is not available"
}

# write_data FILE KEY VALUE [KEY VALUE ...]: a generator data file, one "Key value" per line.
write_data() {
    local file=$1
    shift
    : >"$file"
    while (($# >= 2)); do
        printf '%s %s\n' "$1" "$2" >>"$file"
        shift 2
    done
}

# shellcheck source=bytes.sh
source "$(dirname "${BASH_SOURCE[0]}")/bytes.sh"
