#!/usr/bin/env bash
# Line impairments: for every condition of bench/line_conditions (echo, twist, tone and
# bit-rate offsets, short marks, levels, clipping, DC, hum, G.711), BURSTS bursts of
# random content over a 25 dB white-noise floor at 8000 Hz, and for every receiver the
# fraction decoded with every byte right: our detectors' demodulator, our line receiver,
# spandsp's receiver (CLASS for US, JCLIP for NTT) and minimodem's raw bytes.
#
# Usage: bench/line_sweep.sh [BUILD_DIR]        (default: build; programs in BUILD_DIR/bin)
# Environment: BURSTS (default 50).
# Prints the tables and, when docs/benchmarks.md holds the markers, puts them between.
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${1:-$REPO/build}
BIN=$BUILD/bin
BURSTS=${BURSTS:-50}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/line_sweep.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

[[ -x $BIN/line_conditions ]] || { echo "line_sweep.sh: $BIN/line_conditions is not built" >&2; exit 1; }
have() { [[ -x $1 ]] || command -v "$1" >/dev/null 2>&1; }

# shellcheck source=tools/bench_lib.sh
source "$REPO/bench/tools/bench_lib.sh"

# right_messages FOUND EXPECTED: how many lines of EXPECTED appear among the "message"
# lines that cidpeer printed.
right_messages() {
    grep '^message ' "$1" | sed 's/^message //' | sort -u | comm -12 - <(sort -u "$2") | wc -l
}

table() {
    local format=$1
    local dir=$WORK/$format
    mkdir -p "$dir"
    "$BIN/line_conditions" --format "$format" --bursts "$BURSTS" --write "$dir" >"$dir/ours.txt"
    local title="US format (Bell 202, SDMF)" mode=recv-us mm=(--rx 1200)
    if [[ $format == ntt ]]; then
        title="NTT format (V.23, DLE frame with CRC)"
        mode=recv-jp
        mm=(--rx 1200 --mark 1300 --space 2100)
    fi
    printf '\n#### %s\n\n' "$title"
    printf '| condition | detectors | line receiver | spandsp | minimodem |\n|---|---:|---:|---:|---:|\n'
    local condition detector line
    while read -r condition detector line; do
        [[ $condition == condition ]] && continue
        local spandsp=- minimodem=-
        if have "$BIN/cidpeer"; then
            "$BIN/cidpeer" "$mode" "$dir/$condition.wav" >"$dir/$condition.spandsp" 2>/dev/null || true
            spandsp=$(awk -v r="$(right_messages "$dir/$condition.spandsp" "$dir/$condition.messages")" \
                -v n="$BURSTS" 'BEGIN { printf "%.2f", r / n }')
        fi
        if have minimodem; then
            minimodem "${mm[@]}" --quiet --file "$dir/$condition.wav" >"$dir/$condition.raw" 2>/dev/null || true
            local right
            read -r right _ < <(score_frames "$dir/$condition.raw" "$dir/$condition.frames")
            minimodem=$(awk -v r="$right" \
                -v n="$BURSTS" 'BEGIN { printf "%.2f", r / n }')
        fi
        printf '| %s | %s | %s | %s | %s |\n' "$condition" "$detector" "$line" "$spandsp" "$minimodem"
        echo "line_sweep.sh: $format $condition $detector $line $spandsp $minimodem" >&2
    done <"$dir/ours.txt"
}

{
    printf '<!-- begin line_sweep.sh -->\n'
    # shellcheck disable=SC2016  # the backquotes are Markdown
    printf 'Made by `bench/line_sweep.sh` on %s; commit %s; %s bursts per condition, 8000 Hz, 25 dB white-noise floor.\n' \
        "$(date -u +%Y-%m-%d)" "$(git -C "$REPO" rev-parse --short HEAD 2>/dev/null || echo unknown)" "$BURSTS"
    table us
    table ntt
    printf '<!-- end line_sweep.sh -->\n'
} >"$WORK/section.md"
cat "$WORK/section.md"

put_section line_sweep.sh "$WORK/section.md" "$REPO/docs/benchmarks.md"
