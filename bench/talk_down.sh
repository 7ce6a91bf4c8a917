#!/usr/bin/env bash
# DTMF talk-down: digits keyed while someone talks. SETS sequences of 48 padtoner digits
# (0123456789*#ABCD three times; 60 ms tones, 60 ms gaps, each tone at 30 % of full scale, so
# the pair at an RMS of -10.5 dBFS; 8000 Hz, no noise) are each mixed by sox with a different
# stretch of speech-like audio (bench/tools/speech.py, seed 11) scaled by 0.1, 0.2, 0.3 and
# 0.5. The digits are read back by cidscan --standard dtmf, by spandsp's DTMF receiver
# (tests/interop/cidpeer recv-digits) and by multimon-ng's (at 22050 Hz, resampled by sox
# without dither); for each, the digits heard in the order sent (the longest common
# subsequence with the sent digits) and any others. The table gives the speech's RMS level as
# sox measures it over all its stretches, pauses included.
#
# Usage: bench/talk_down.sh [BUILD_DIR]     (default: build; programs in BUILD_DIR/bin)
# Environment: SETS (default 8).
# Prints the table and, when docs/benchmarks.md holds the markers, puts it between them.
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BIN=${1:-$REPO/build}/bin
SETS=${SETS:-8}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/talk_down.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# shellcheck source=tools/bench_lib.sh
source "$REPO/bench/tools/bench_lib.sh"

for program in cidscan padtoner; do
    [[ -x $BIN/$program ]] || { echo "talk_down.sh: $BIN/$program is not built" >&2; exit 1; }
done
for tool in sox jq python3; do
    command -v "$tool" >/dev/null || { echo "talk_down.sh: $tool is needed" >&2; exit 1; }
done

SENT="0123456789*#ABCD0123456789*#ABCD0123456789*#ABCD"
printf 'SamplingFrequency 8000\nQuantizationBitLength 16\nAmplitude 30\nNoiseAmplitude 0\nPNoiseAmplitude 0\n' \
    >"$WORK/digits.txt"
printf 'LeaderDuration 500\nToneDuration 60\nSilenceDuration 60\nRampDuration 3\nDTMFData "%s"\n' "$SENT" \
    >>"$WORK/digits.txt"
"$BIN/padtoner" "$WORK/digits.txt" "$WORK/digits.wav" >/dev/null
length=$(sox --i -D "$WORK/digits.wav")
seconds=$(python3 -c "import math; print(math.ceil($length * $SETS) + 1)")
python3 "$REPO/bench/tools/speech.py" "$WORK/speech.wav" "$seconds" -22 11

# heard SENT GOT: "right other", the digits of GOT in SENT's order and the rest.
heard() {
    python3 -c '
import sys
sent, got = sys.argv[1], sys.argv[2]
row = [0] * (len(got) + 1)
for a in sent:
    diagonal, row[0] = 0, 0
    for j, b in enumerate(got, 1):
        diagonal, row[j] = row[j], diagonal + 1 if a == b else max(row[j], row[j - 1])
print(row[-1], len(got) - row[-1])' "$1" "$2"
}

{
    printf '<!-- begin talk_down.sh -->\n'
    # shellcheck disable=SC2016  # the backquotes are Markdown
    printf 'Made by `bench/talk_down.sh` on %s; commit %s; %s sequences of 48 digits a level (%s digits), 8000 Hz.\n\n' \
        "$(date -u +%Y-%m-%d)" "$(git -C "$REPO" rev-parse --short HEAD 2>/dev/null || echo unknown)" "$SETS" \
        "$((SETS * 48))"
    printf '| speech scaled by | speech RMS (dBFS) | cidscan | spandsp | multimon-ng |\n'
    printf '|---:|---:|---:|---:|---:|\n'
    for scale in 0.1 0.2 0.3 0.5; do
        level=$(sox "$WORK/speech.wav" -n trim 0 "$(python3 -c "print($length * $SETS)")" vol "$scale" stats 2>&1 |
            awk '/^RMS lev dB/ { print $4 }')
        declare -A right=() other=()
        for program in cidscan spandsp multimon; do right[$program]=0; other[$program]=0; done
        for ((k = 0; k < SETS; k++)); do
            sox -q "$WORK/speech.wav" "$WORK/stretch.wav" trim "$(python3 -c "print($k * $length)")" "$length"
            sox -q -m -v 1 "$WORK/digits.wav" -v "$scale" "$WORK/stretch.wav" "$WORK/mix.wav" 2>/dev/null
            declare -A got=()
            got[cidscan]=$("$BIN/cidscan" --json --standard dtmf "$WORK/mix.wav" | jq -r '.fields.digits // empty' | tr -d '\n')
            got[spandsp]=""
            if [[ -x $BIN/cidpeer ]]; then
                got[spandsp]=$("$BIN/cidpeer" recv-digits "$WORK/mix.wav" | sed -n 's/^digit //p' | tr -d '\n')
            fi
            got[multimon]=""
            if command -v multimon-ng >/dev/null; then
                sox -q -D "$WORK/mix.wav" -t raw -e signed-integer -b 16 -r 22050 -c 1 "$WORK/peer.raw"
                got[multimon]=$(multimon-ng -q -a DTMF -t raw "$WORK/peer.raw" 2>/dev/null | sed -n 's/^DTMF: //p' | tr -d '\n')
            fi
            for program in cidscan spandsp multimon; do
                read -r r o < <(heard "$SENT" "${got[$program]}")
                right[$program]=$((right[$program] + r))
                other[$program]=$((other[$program] + o))
            done
        done
        cells=()
        for program in cidscan spandsp multimon; do
            cell="${right[$program]}"
            ((other[$program] == 0)) || cell="$cell (+${other[$program]} other)"
            [[ $program == spandsp && ! -x $BIN/cidpeer ]] && cell="not available"
            [[ $program == multimon ]] && ! command -v multimon-ng >/dev/null && cell="not available"
            cells+=("$cell")
        done
        printf '| %s | %s | %s | %s | %s |\n' "$scale" "$level" "${cells[@]}"
        echo "talk_down.sh: speech x$scale ($level dBFS): cidscan ${cells[0]}, spandsp ${cells[1]}," \
            "multimon-ng ${cells[2]} of $((SETS * 48))" >&2
        unset right other
    done
    printf '<!-- end talk_down.sh -->\n'
} >"$WORK/section.md"
cat "$WORK/section.md"

put_section talk_down.sh "$WORK/section.md" "$REPO/docs/benchmarks.md"
