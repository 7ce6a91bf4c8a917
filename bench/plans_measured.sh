#!/usr/bin/env bash
# cidgen's test plans measured back by cidscan --measure: per plan, whether the
# condition lies within the standard's receiver limits ("within", the display
# files) or beyond them, and the accuracy class, the largest error of each
# quantity over the files (tests/cidgen/measure_back.sh does the work and
# judges every file against the accuracy man/cidscan.1 states), then the
# files that miss it.
#
# Usage: bench/plans_measured.sh [BUILD_DIR]   (default: build; programs in BUILD_DIR/bin)
# Prints the table and, when docs/benchmarks.md holds the markers, puts it between them.
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${1:-$REPO/build}
BIN=$BUILD/bin
WORK=$(mktemp -d "${TMPDIR:-/tmp}/plans_measured.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
[[ -x $BIN/cidgen && -x $BIN/cidscan ]] || { echo "plans_measured.sh: cidgen and cidscan must be built" >&2; exit 1; }

status=0
TABLE=1 bash "$REPO/tests/cidgen/measure_back.sh" "$BIN" >"$WORK/out.txt" 2>&1 || status=$?
{
    echo "Made by \`bench/plans_measured.sh\` on $(date -u +%Y-%m-%d); commit $(git -C "$REPO" rev-parse --short HEAD 2>/dev/null || echo unknown)."
    echo
    echo "| plan | conditions | accuracy class | measured | frequency (Hz) | level (dB) | twist (dB) | bit rate (%) | bit counts | times (ms) | SNR (dB) | alert edges (ms) | ring edges (ms) | after alert (ms) | after ring (ms) |"
    echo "|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
    grep '^| ' "$WORK/out.txt"
    echo
    grep -v '^| ' "$WORK/out.txt" | sed 's/^/- /'
} >"$WORK/table.md"
cat "$WORK/table.md"
doc=$REPO/docs/benchmarks.md
if grep -q '<!-- begin plans_measured.sh -->' "$doc"; then
    awk -v table="$WORK/table.md" '
        /<!-- begin plans_measured.sh -->/ { print; while ((getline line < table) > 0) print line; skip = 1; next }
        /<!-- end plans_measured.sh -->/ { skip = 0 }
        !skip' "$doc" >"$WORK/doc.md"
    cp "$WORK/doc.md" "$doc"
fi
exit "$status"
