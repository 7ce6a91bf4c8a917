#!/usr/bin/env bash
# installed_tree.sh BUILD SOURCE CMAKE GXX [FLAGS...]: installs the build into a fresh
# prefix, checks what lands there, then compiles and links against the
# installed tree alone (pkg-config sigtools) the consumer program beside this
# script and every examples/*.cpp, and runs the consumer. FLAGS go to every
# compile and link (the sanitizers of a sanitized build).
set -euo pipefail
build=$1 source=$2 cmake=$3 cxx=$4
shift 4
extra=("$@")

command -v pkg-config >/dev/null || { echo "pkg-config is not installed"; exit 77; }
command -v "$cxx" >/dev/null || { echo "no C++ compiler $cxx"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/sigtools-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log"

fail() { echo "FAIL: $*" >&2; exit 1; }
for prog in cidforge padtoner cidprobe cidprobe-ntt wavpeek cidgen; do
    [[ -x $prefix/bin/$prog ]] || fail "bin/$prog is not installed"
    [[ -f $prefix/share/man/man1/$prog.1 ]] || fail "the manual page of $prog is not installed"
done
pc=$(find "$prefix" -name sigtools.pc -path '*/pkgconfig/*')
[[ -n $pc ]] || fail "sigtools.pc is not installed"
[[ -n $(find "$prefix" -name libsigcore.a) ]] || fail "libsigcore.a is not installed"
for header in receivers/receiver.hpp messages/decoder.hpp messages/events.hpp; do
    [[ -f $prefix/include/sigtools/sigcore/$header ]] || fail "include/sigtools/sigcore/$header is not installed"
done

export PKG_CONFIG_PATH=$(dirname "$pc")
version=$(pkg-config --modversion sigtools)
[[ -n $version ]] || fail "sigtools.pc names no version"
read -r -a flags <<<"$(pkg-config --cflags --libs sigtools)"
echo "pkg-config sigtools $version: ${flags[*]}"
# The flags must lead into the prefix, never back into the source or build tree.
for flag in "${flags[@]}"; do
    case $flag in
    -I* | -L*) [[ $(realpath -m "${flag:2}") == "$(realpath "$prefix")"/* ]] || fail "$flag is outside the prefix" ;;
    esac
done

# A plain directory as the working folder: nothing of the source tree is on
# the include path unless the flags put it there.
cd "$work"
compile() {
    "$cxx" -std=c++20 -Wall -Wextra -Werror -ffp-contract=off ${extra[@]+"${extra[@]}"} "$1" "${flags[@]}" -o "$2" ||
        fail "$(basename "$1") does not build against the installed tree"
}
compile "$source/tests/install/receiver_consumer.cpp" consumer
./consumer || fail "the consumer program failed"
shopt -s nullglob
for example in "$source"/examples/*.cpp; do
    compile "$example" "example-$(basename "$example" .cpp)"
    echo "built $(basename "$example")"
done
echo "installed tree OK"
