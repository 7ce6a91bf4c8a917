#!/usr/bin/env bash
# bare_machine.sh: the README's two commands on a bare Debian 12 machine. Builds a
# minimal root with debootstrap (the mirror is the one this machine's apt uses),
# copies the checkout's tracked files in and runs, inside it with chroot,
# ./examples/demo.sh and tests/run.sh: each must install what it needs and end
# with status 0, and the demo must print its decoded bursts.
# Exits 77 (skipped) where debootstrap cannot run: not root, no debootstrap, no
# mirror or no network to it. The logs go to build/bare-machine/ (or
# BARE_MACHINE_LOGS); KEEP_ROOT=1 keeps the root.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*" >&2; exit 1; }

[[ $(id -u) -eq 0 ]] || skip "debootstrap and chroot need root"
command -v debootstrap >/dev/null 2>&1 || skip "debootstrap is not installed"

# The first bookworm source of apt's lists, one-line (*.list) or deb822 (*.sources).
mirror=$(
    shopt -s nullglob
    awk '/^[[:space:]]*deb[[:space:]]/ { sub(/\[[^]]*\][[:space:]]*/, ""); if ($3 == "bookworm") { print $2; exit } }' \
        /etc/apt/sources.list /etc/apt/sources.list.d/*.list /dev/null 2>/dev/null
    awk 'function done() { if (!found && deb && uri != "" && (" " suites " ") ~ / bookworm /) { found = 1; print uri; exit } }
         /^[[:space:]]*$/ { done(); deb = 0; uri = ""; suites = ""; next }
         tolower($1) == "types:" { deb = / deb( |$)/ }
         tolower($1) == "uris:" { uri = $2 }
         tolower($1) == "suites:" { $1 = ""; suites = $0 }
         END { done() }' /etc/apt/sources.list.d/*.sources /dev/null
)
mirror=${mirror%%$'\n'*}
[[ -n $mirror ]] || skip "no Debian bookworm source in /etc/apt/sources.list or /etc/apt/sources.list.d"
wget -q -T 20 -t 2 --spider "${mirror%/}/dists/bookworm/Release" || skip "no network to $mirror"

logs=${BARE_MACHINE_LOGS:-$src/build/bare-machine}
mkdir -p "$logs"
root=$(mktemp -d "${TMPDIR:-/var/tmp}/sigtools-bare.XXXXXX")
chmod 755 "$root" # a root folder others can enter: apt fetches as the user _apt
cleanup() {
    # Mount points under the root, deepest first.
    awk -v r="$root/" 'index($2, r) == 1 { print $2 }' /proc/self/mounts | sort -r |
        while read -r m; do umount -l "$m" || true; done
    if awk -v r="$root/" 'index($2, r) == 1 { found = 1 } END { exit !found }' /proc/self/mounts; then
        echo "still mounted under $root: left in place" >&2
    elif [[ ${KEEP_ROOT:-0} == 1 ]]; then
        echo "root kept in $root"
    else
        rm -rf --one-file-system "$root"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "debootstrap --variant=minbase bookworm $root $mirror"
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$logs/debootstrap.log" 2>&1 ||
    { tail -n 20 "$logs/debootstrap.log"; fail "debootstrap failed"; }

# The checkout: tracked files as they are in the working tree, no build folders.
mkdir -p "$root/src/sigtools"
if git -C "$src" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git -C "$src" ls-files -z | tar -C "$src" --null -T - -cf - | tar -C "$root/src/sigtools" -xf -
else
    tar -C "$src" --exclude=./build --exclude=./out --exclude=./.git -cf - . | tar -C "$root/src/sigtools" -xf -
fi

cp -L /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount --rbind /dev "$root/dev"
mount --make-rslave "$root/dev"

# in_root LOG COMMAND: runs COMMAND in the checkout inside the root, as a
# login on a bare machine would: root, a plain PATH, no terminal.
in_root() {
    local log=$1 start=$SECONDS status=0
    shift
    echo "== $* (log: $log)"
    chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        /bin/bash -c 'cd /src/sigtools && "$@"' bash "$@" </dev/null >"$log" 2>&1 || status=$?
    echo "   status $status after $((SECONDS - start)) s"
    ((status == 0)) || { tail -n 40 "$log"; fail "$* ended with status $status"; }
}

in_root "$logs/demo.log" ./examples/demo.sh
for expected in '[Number] 0123456789' '[SDMF packet checksum] 00 correct' '[CRC] 43f8 correct' \
    'number: 6175550123' 'name: SMITH JOHN'; do
    grep -qF -- "$expected" "$logs/demo.log" || { cat "$logs/demo.log"; fail "the demo did not print '$expected'"; }
done
in_root "$logs/tests.log" tests/run.sh
grep -E 'tests passed|Total Test time' "$logs/tests.log" || true
echo "bare machine OK"
