#!/usr/bin/env bash
# multimon-ng's DTMF decoder, a program of its own, hears the same digit strings as
# cidscan (--standard dtmf, the "digits" field of each message, in order) in padtoner's
# sequences, at several rates, depths, tone and gap lengths and noise levels.
# multimon-ng reads signed 16-bit samples at 22050 Hz, made with sox; cidscan's JSON is
# read with jq.
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"

need_command sox
need_command multimon-ng
need_command jq
need_program padtoner
need_program cidscan

checked=0
# check RATE BITS TONEMS GAPMS NOISE DIGITS
check() {
    local rate=$1 bits=$2 tone=$3 gap=$4 noise=$5 digits=$6 ours theirs what
    what="rate $rate, $bits bits, tone $tone ms, gap $gap ms, noise $noise%"
    write_data "$WORK/data.txt" SamplingFrequency "$rate" QuantizationBitLength "$bits" Amplitude 30 \
        NoiseAmplitude "$noise" PNoiseAmplitude 0 LeaderDuration 300 ToneDuration "$tone" \
        SilenceDuration "$gap" RampDuration 3 DTMFData "\"$digits\""
    "$BIN_DIR/padtoner" "$WORK/data.txt" "$WORK/dtmf.wav" >/dev/null || fail "padtoner: $what"
    "$BIN_DIR/cidscan" --json --standard dtmf "$WORK/dtmf.wav" >"$WORK/dtmf.json" || fail "cidscan: $what"
    ours=$(jq -r -s 'map(.fields.digits) | join("")' "$WORK/dtmf.json") || fail "cidscan's JSON: $what"
    sox -q "$WORK/dtmf.wav" -t raw -e signed-integer -b 16 -r 22050 -c 1 "$WORK/dtmf.raw"
    theirs=$(multimon-ng -q -a DTMF -t raw "$WORK/dtmf.raw" 2>/dev/null | sed -n 's/^DTMF: //p' | tr -d '\n')
    [[ "$ours" == "$digits" ]] || fail "$what: we hear '$ours', sent '$digits'"
    [[ "$theirs" == "$ours" ]] || fail "$what: multimon-ng hears '$theirs', we hear '$ours'"
    checked=$((checked + 1))
}

for rate in 8000 11025 16000 22050 44100 48000; do
    for bits in 8 16; do
        check "$rate" "$bits" 50 30 0 "0123456789*#ABCD"
    done
done
check 8000 16 70 50 5 "A0123456789C"
check 8000 16 60 60 3 "B10C"
check 16000 16 100 100 10 "D0201234567#"
check 11025 8 50 40 2 "1590*#26AB48CD73"
echo "multimon-ng agrees on $checked sequences"
