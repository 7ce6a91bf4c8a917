#!/usr/bin/env bash
# Clean bursts: for both formats at 8000, 11025 and 16000 Hz, the bursts that each of our
# FSK receivers misses among clean bursts (no noise, no impairment): a grid of 64 carrier
# phases by 48 bit timings, and RANDOM bursts of random content with random carrier phase
# and bit timing (bench/line_conditions --grid and --random).
#
# Usage: bench/clean_bursts.sh [BUILD_DIR]       (default: build; programs in BUILD_DIR/bin)
# Environment: RANDOM_BURSTS (default 1000), RATES (default "8000 11025 16000").
# Prints the table and, when docs/benchmarks.md holds the markers, puts it between them.
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BIN=${1:-$REPO/build}/bin
RANDOM_BURSTS=${RANDOM_BURSTS:-1000}
RATES=${RATES:-8000 11025 16000}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/clean_bursts.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# shellcheck source=tools/bench_lib.sh
source "$REPO/bench/tools/bench_lib.sh"

[[ -x $BIN/line_conditions ]] || { echo "clean_bursts.sh: $BIN/line_conditions is not built" >&2; exit 1; }

# missed LINE: "detector line" from line_conditions' summary line.
missed() {
    sed -n 's/.*missed: detector \([0-9]*\), line \([0-9]*\)$/\1 \2/p' <<<"$1"
}

{
    printf '<!-- begin clean_bursts.sh -->\n'
    # shellcheck disable=SC2016  # the backquotes are Markdown
    printf 'Made by `bench/clean_bursts.sh` on %s; commit %s; bursts missed (every byte right with a passing check counts as decoded).\n\n' \
        "$(date -u +%Y-%m-%d)" "$(git -C "$REPO" rev-parse --short HEAD 2>/dev/null || echo unknown)"
    printf '| format | rate (Hz) | grid 64 x 48: detectors | grid: line receiver | %s random: detectors | random: line receiver |\n' "$RANDOM_BURSTS"
    printf '|---|---:|---:|---:|---:|---:|\n'
    for format in us ntt; do
        for rate in $RATES; do
            grid_out=$("$BIN/line_conditions" --grid --format "$format" --rate "$rate")
            random_out=$("$BIN/line_conditions" --random "$RANDOM_BURSTS" --format "$format" --rate "$rate")
            read -r grid_old grid_line < <(missed "$grid_out")
            read -r random_old random_line < <(missed "$random_out")
            printf '| %s | %s | %s | %s | %s | %s |\n' "$format" "$rate" "$grid_old" "$grid_line" "$random_old" "$random_line"
            echo "clean_bursts.sh: $format $rate: grid $grid_old $grid_line, random $random_old $random_line" >&2
        done
    done
    printf '<!-- end clean_bursts.sh -->\n'
} >"$WORK/section.md"
cat "$WORK/section.md"

put_section clean_bursts.sh "$WORK/section.md" "$REPO/docs/benchmarks.md"
