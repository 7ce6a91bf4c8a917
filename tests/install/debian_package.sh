#!/usr/bin/env bash
# debian_package.sh BUILD CPACK: builds the Debian package of the build into a
# scratch folder and checks its contents and declared dependencies.
set -euo pipefail
build=$1 cpack=$2

command -v dpkg-deb >/dev/null || { echo "dpkg-deb is not installed"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/sigtools-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && "$cpack" -G DEB -B "$work" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack -G DEB failed"; }
debs=("$work"/*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || fail "cpack made no single .deb: ${debs[*]}"
deb=${debs[0]}
echo "package: $(basename "$deb")"

dpkg-deb -c "$deb" | awk '{print $NF}' >"$work/contents"
expect() { grep -Eq "$1" "$work/contents" || fail "the package lacks $1"; }
for prog in cidforge padtoner cidprobe cidprobe-ntt wavpeek; do
    expect "^\./usr/bin/$prog\$"
    expect "^\./usr/share/man/man1/$prog\.1(\.gz)?\$"
done
expect '^\./usr/lib/(.+/)?libsigcore\.a$'
expect '^\./usr/lib/(.+/)?pkgconfig/sigtools\.pc$'
for header in receivers/receiver.hpp messages/decoder.hpp messages/events.hpp; do
    expect "^\./usr/include/sigtools/sigcore/$header\$"
done

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
[[ -n $depends ]] || fail "the package declares no dependencies"
[[ $depends == *libsndfile1* ]] || fail "the package does not depend on libsndfile1"
for field in Maintainer Description Section Version; do
    [[ -n $(dpkg-deb -f "$deb" "$field") ]] || fail "the package has no $field"
done
echo "Debian package OK"
