#!/usr/bin/env bash
# sox, an audio tool of its own, reads every WAV file that our generators write: for each
# sampling rate and bit depth it must report the rate, the depth, one channel and the
# sample count that the generator's timing rules give, and decode every sample without a
# warning.
#   cidforge   US and NTT bursts at 8000..48000 Hz, 8 and 16 bits
#   padtoner   DTMF sequences at 8000..48000 Hz, 8 and 16 bits
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"

need_command sox
program=${ARGS[0]}
need_program "$program"
checked=0

# check_wav FILE RATE BITS SAMPLES
check_wav() {
    local file=$1 rate=$2 bits=$3 samples=$4 what
    what="$program ${file##*/}"
    [[ $(sox --i -r "$file") == "$rate" ]] || fail "$what: sox reads rate $(sox --i -r "$file"), not $rate"
    [[ $(sox --i -b "$file") == "$bits" ]] || fail "$what: sox reads $(sox --i -b "$file") bits, not $bits"
    [[ $(sox --i -c "$file") == 1 ]] || fail "$what: sox reads $(sox --i -c "$file") channels"
    local encoding=Signed
    if ((bits == 8)); then encoding=Unsigned; fi
    [[ $(sox --i -e "$file") == "$encoding Integer PCM" ]] ||
        fail "$what: sox reads encoding '$(sox --i -e "$file")'"
    [[ $(sox --i -s "$file") == "$samples" ]] ||
        fail "$what: sox reads $(sox --i -s "$file") samples, expected $samples"
    local bytes
    bytes=$(sox "$file" -t raw -e signed -b 16 - 2>"$WORK/sox.err" | wc -c)
    [[ ! -s "$WORK/sox.err" ]] || fail "$what: sox complains: $(cat "$WORK/sox.err")"
    ((bytes == 2 * samples)) || fail "$what: sox decoded $((bytes / 2)) samples, expected $samples"
    checked=$((checked + 1))
}

# cidforge_samples RATE LEADMS HEADERMS FOOTERMS BYTES: samples of a burst. Every bit ends
# at a time accumulated by adding 1/1200 s once per bit; K bits cover the samples 0 up to
# the truncated product of the rate and the K-th bit's end time; the silence before and
# after the burst each take the truncated product of the rate and the leader time.
cidforge_samples() {
    awk -v rate="$1" -v lead="$2" -v head="$3" -v foot="$4" -v nbytes="$5" 'BEGIN {
        silence = int(rate * lead * 0.001)
        bits = int(1200 * head * 0.001) + 14 * nbytes + int(1200 * foot * 0.001)
        t = 0
        for (i = 0; i < bits; i++) t = 1.0 / 1200 + t
        printf "%d\n", 2 * silence + int(rate * t) + 1
    }'
}

# ms_to_samples MS RATE
ms_to_samples() {
    awk -v ms="$1" -v rate="$2" 'BEGIN { printf "%d\n", int(ms * rate * 0.001) }'
}

rates=(8000 11025 16000 22050 44100 48000)
case $program in
cidforge)
    datetime=07041776
    number=0354321234
    for rate in "${rates[@]}"; do
        for bits in 8 16; do
            for format in us ntt; do
                write_data "$WORK/data.txt" SamplingFrequency "$rate" QuantizationBitLength "$bits" \
                    Amplitude 30 NoiseAmplitude 5 LeaderDuration 120 HeaderDuration 100 \
                    FooterDuration 30 DirectoryNumber "$number" DateTime "$datetime"
                if [[ $format == us ]]; then
                    nbytes=$((3 + ${#datetime} + ${#number}))
                    opts=(-USA)
                else
                    frame=$(ntt_frame "$number" "")
                    nbytes=$((${#frame} / 2))
                    opts=()
                fi
                file=$WORK/${format}_${rate}_${bits}.wav
                "$BIN_DIR/cidforge" "$WORK/data.txt" "$file" "${opts[@]}" >"$WORK/log.txt" ||
                    fail "cidforge failed: $(cat "$WORK/log.txt")"
                check_wav "$file" "$rate" "$bits" "$(cidforge_samples "$rate" 120 100 30 "$nbytes")"
            done
        done
    done
    ;;
padtoner)
    symbols='0123456789ABCD*#'
    for rate in "${rates[@]}"; do
        for bits in 8 16; do
            cat >"$WORK/data.txt" <<DATA
//DTMF sequence for the sox check
SamplingFrequency        $rate
QuantizationBitLength    $bits
Amplitude                30
NoiseAmplitude           5
PNoiseAmplitude          5
LeaderDuration           300
ToneDuration             50
SilenceDuration          30
RampDuration             3
DTMFData                 "$symbols"
DATA
            file=$WORK/dtmf_${rate}_${bits}.wav
            "$BIN_DIR/padtoner" "$WORK/data.txt" "$file" >"$WORK/log.txt" ||
                fail "padtoner failed: $(cat "$WORK/log.txt")"
            lead=$(ms_to_samples 300 "$rate")
            tone=$(ms_to_samples 50 "$rate")
            gap=$(ms_to_samples 30 "$rate")
            trailer=$((lead > gap ? lead - gap : 0))
            check_wav "$file" "$rate" "$bits" $((lead + ${#symbols} * (tone + gap) + trailer))
        done
    done
    ;;
*)
    fail "unknown generator $program"
    ;;
esac
echo "sox read all $checked files of $program with the right rate, depth and length"
