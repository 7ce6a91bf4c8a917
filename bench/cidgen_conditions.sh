#!/usr/bin/env bash
# cidgen's line conditions read back by cidscan and by an independent receiver: for every
# condition (level, twist, tone and bit-rate offsets, short mark, noise, echo, hum,
# clipping), RUNS messages of known bytes, each over its own white-noise seed at a 30 dB
# SNR unless the condition sets another, and for every receiver the number decoded with
# every byte right: cidscan (valid, raw bytes equal) and spandsp (CLASS receiver for US
# MDMF, CLIP for ETSI, CLIP_DTMF for DTMF caller ID; it drops what fails its check).
#
# Usage: bench/cidgen_conditions.sh [BUILD_DIR]   (default: build; programs in BUILD_DIR/bin)
# Environment: RUNS (default 20).
# Prints the table and, when docs/benchmarks.md holds the markers, puts it between them.
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${1:-$REPO/build}
BIN=$BUILD/bin
RUNS=${RUNS:-20}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/cidgen_conditions.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

[[ -x $BIN/cidgen && -x $BIN/cidscan ]] || { echo "cidgen_conditions.sh: cidgen and cidscan must be built" >&2; exit 1; }
[[ -x $BIN/cidpeer ]] || { echo "cidgen_conditions.sh: cidpeer (spandsp) must be built" >&2; exit 1; }

# Conditions: label|cidgen options (word-split; every FSK condition runs for US and ETSI)
fsk_conditions=(
    "nominal: -13.5 dBm0, 300 seizure + 180 mark bits|"
    "level -40 dBm0|--level -40"
    "level -50 dBm0|--level -50"
    "level 0 dBm0|--level 0"
    "twist +10 dB (mark stronger)|--twist 10"
    "twist -10 dB (space stronger)|--twist -10"
    "both tones +1.5 %|--mark-offset 18 --space-offset 33"
    "both tones -1.5 %|--mark-offset -18 --space-offset -33"
    "bit rate +3 %|--rate-error 3"
    "bit rate -3 %|--rate-error -3"
    "no seizure, 55 mark bits|--seizure-bits 0 --mark-bits 55"
    "2 stop bits|--stop-bits 2"
    "SNR 15 dB|--snr 15"
    "SNR 10 dB|--snr 10"
    "echo 2 ms at -10 dB|--echo 2,-10"
    "50 Hz hum at -10 dBm0|--hum 50,-10"
    "clipped at 10 % of full scale, -13.5 dBm0|--clip 10"
    "mu-law at 8000 Hz|--encoding ulaw"
)
dtmf_conditions=(
    "nominal: -10 dBm0 a tone, 70 ms tones, 70 ms gaps|"
    "level -30 dBm0 a tone|--level -30"
    "twist +3 dB (high group stronger)|--twist 3"
    "twist -6 dB (low group stronger)|--twist -6"
    "50 ms tones, 50 ms gaps|--digit-ms 50 --digit-gap-ms 50"
    "SNR 15 dB|--snr 15"
)

# run_condition STANDARD RECEIVER OPTIONS: "cidscan_right spandsp_right"
run_condition() {
    local standard=$1 receiver=$2 options=$3 i cidscan_ok=0 spandsp_ok=0 snr=(--snr 30)
    [[ $options == *--snr* ]] && snr=()
    for ((i = 1; i <= RUNS; i++)); do
        local number name args wav=$WORK/m.wav
        number=$(printf '0%09d' $((RANDOM * 32768 + RANDOM)))
        name=$(printf 'CALLER %03d' "$i")
        args=(--standard "$standard" --number "$number" --date 03-14 --time 15:09 --seed "$i")
        [[ $standard != dtmf-cid ]] && args+=(--name "$name")
        # shellcheck disable=SC2086  # the options are words
        "$BIN/cidgen" "${args[@]}" "${snr[@]}" $options -o "$wav" 2>/dev/null
        local expected
        expected=$("$BIN/cidgen" "${args[@]}" -o "$WORK/clean.wav" &&
            "$BIN/cidscan" --json "$WORK/clean.wav" | jq -r .raw)
        if "$BIN/cidscan" --json "$wav" | jq -e --arg raw "$expected" 'select(.valid and .raw == $raw)' >/dev/null; then
            cidscan_ok=$((cidscan_ok + 1))
        fi
        local peer_in=$wav
        if [[ $options == *ulaw* ]]; then
            sox "$wav" -b 16 -e signed-integer "$WORK/pcm.wav"
            peer_in=$WORK/pcm.wav
        fi
        local want
        if [[ $standard == dtmf-cid ]]; then
            want="digits $(printf '%s' "$expected" | xxd -r -p)"
        else
            want="message $(printf '%s' "${expected%??}" | sed 's/../& /g; s/ $//')"
        fi
        if "$BIN/cidpeer" "$receiver" "$peer_in" 2>/dev/null | grep -qxF "$want"; then
            spandsp_ok=$((spandsp_ok + 1))
        fi
    done
    echo "$cidscan_ok $spandsp_ok"
}

table() {
    echo "Made by \`bench/cidgen_conditions.sh\` on $(date -u +%Y-%m-%d); commit $(git -C "$REPO" rev-parse --short HEAD); $RUNS messages a condition, 8000 Hz, white noise at 30 dB SNR unless the condition sets it."
    echo
    echo "| standard | condition | cidscan | spandsp |"
    echo "|---|---|---:|---:|"
    local entry label options standard receiver result
    for standard in us-mdmf etsi; do
        receiver=recv-us
        [[ $standard == etsi ]] && receiver=recv-clip
        for entry in "${fsk_conditions[@]}"; do
            label=${entry%%|*}
            options=${entry#*|}
            read -r c s < <(run_condition "$standard" "$receiver" "$options")
            echo "| $standard | $label | $c/$RUNS | $s/$RUNS |"
        done
    done
    for entry in "${dtmf_conditions[@]}"; do
        label=${entry%%|*}
        options=${entry#*|}
        read -r c s < <(run_condition dtmf-cid recv-dtmf "$options")
        echo "| dtmf-cid | $label | $c/$RUNS | $s/$RUNS |"
    done
}

table >"$WORK/table.md"
cat "$WORK/table.md"
doc=$REPO/docs/benchmarks.md
if grep -q '<!-- begin cidgen_conditions.sh -->' "$doc"; then
    awk -v table="$WORK/table.md" '
        /<!-- begin cidgen_conditions.sh -->/ { print; while ((getline line < table) > 0) print line; skip = 1; next }
        /<!-- end cidgen_conditions.sh -->/ { skip = 0 }
        !skip' "$doc" >"$WORK/doc.md"
    cp "$WORK/doc.md" "$doc"
fi
