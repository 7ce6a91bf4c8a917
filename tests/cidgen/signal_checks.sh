#!/usr/bin/env bash
# cidgen's output measured by tools that are not ours: sox and soxi read back
# every output coding with the container, coding, bits and rate asked for
# (and cidscan decodes each); sox's statistics give the tones' levels (RMS
# within 0.1 dB of the dBm0 asked for, under two references), the
# frequencies (from the ratio of the RMS of the sample differences to the
# RMS of the samples, exact for a sine: within 0.5 Hz), the twist of DTMF
# (each group through sox's band-pass), the noise level for an SNR, and the
# file lengths to the sample.
# Usage: signal_checks.sh BIN_DIR
set -euo pipefail

BIN=${1:?bin folder}
command -v sox >/dev/null && command -v soxi >/dev/null || { echo "SKIPPED: sox is not installed"; exit 77; }
[[ -x $BIN/cidgen && -x $BIN/cidscan ]] || { echo "SKIPPED: cidgen or cidscan is not built"; exit 77; }
WORK=$(mktemp -d "${TMPDIR:-/tmp}/cidgen-signal.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
failures=0

fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

# near NAME GOT WANT TOLERANCE
near() {
    if awk -v g="$2" -v w="$3" -v t="$4" 'BEGIN { d = g - w; if (d < 0) d = -d; exit !(d <= t) }'; then
        echo "ok: $1: $2 (asked $3, within $4)"
    else
        fail "$1: measured $2, asked $3, tolerance $4"
    fi
}

gen() { "$BIN/cidgen" --date 03-14 --time 15:09 "$@"; }

# stat_value FILE TRIM_START TRIM_LENGTH LABEL [EFFECTS...]: one number of sox's stat/stats.
rms_db() {
    local file=$1 start=$2 length=$3
    shift 3
    sox "$file" -n "$@" trim "$start" "$length" stats 2>&1 | awk '/^RMS lev dB/ { print $4 }'
}
tone_frequency() {
    sox "$1" -n trim "$2" "$3" stat 2>&1 | awk -v fs="$4" '
        /^RMS +amplitude/ { a = $3 } /^RMS +delta/ { d = $3 }
        END { x = d / a / 2; print fs / atan2(0, -1) * atan2(x, sqrt(1 - x * x)) }'
}

# ---- codings: container, coding, bits and rate as asked, and still decodable
check_coding() {  # FILE_NAME TYPE ENCODING WANT_TYPE WANT_ENCODING WANT_BITS RATE
    local out=$WORK/$1 args=()
    [[ $2 != - ]] && args+=(--type "$2")
    [[ $3 != - ]] && args+=(--encoding "$3")
    gen --number 5551234 --rate "$7" "${args[@]}" -o "$out" || { fail "cidgen $1 $2 $3"; return; }
    local info
    info="$(soxi -t "$out") / $(soxi -e "$out") / $(soxi -b "$out") / $(soxi -r "$out")"
    if [[ $info == "$4 / $5 / $6 / $7" ]]; then echo "ok: $1 --type $2 --encoding $3: $info"; else fail "$1: soxi says $info, not $4 / $5 / $6 / $7"; fi
    local wav=$WORK/back.wav
    sox "$out" -b 16 -e signed-integer "$wav"
    "$BIN/cidscan" --json "$wav" | grep -q '"valid":true,.*"number":"5551234"' || fail "$1: cidscan did not decode it after sox"
}
check_coding a.wav - - wav "Signed Integer PCM" 16 8000
check_coding b.wav - u8 wav "Unsigned Integer PCM" 8 8000
check_coding c.wav - s24 wav "Signed Integer PCM" 24 16000
check_coding d.wav - float wav "Floating Point PCM" 32 48000
check_coding e.wav - ulaw wav "u-law" 8 8000
check_coding f.wav - alaw wav "A-law" 8 8000
check_coding g.aiff - - aiff "Signed Integer PCM" 16 8000
check_coding h.aif - s8 aiff "Signed Integer PCM" 8 11025
check_coding i.flac - s24 flac FLAC 24 22050
check_coding j.snd flac s16 flac FLAC 16 8000
check_coding k.out wav - wav "Signed Integer PCM" 16 8000

# Headerless G.711: one byte a sample, nothing else.
for law in ul al; do
    gen --number 5551234 --lead-ms 100 --tail-ms 100 -o "$WORK/x.$law"
    gen --number 5551234 --lead-ms 100 --tail-ms 100 -o "$WORK/x-$law.wav"
    samples=$(soxi -s "$WORK/x-$law.wav")
    size=$(stat -c %s "$WORK/x.$law")
    [[ $size == "$samples" ]] && echo "ok: .$law: $size bytes, one a sample" || fail ".$law holds $size bytes for $samples samples"
    sox -t "$law" -r 8000 -c 1 "$WORK/x.$law" -b 16 -e signed-integer "$WORK/x-$law-back.wav"
    "$BIN/cidscan" --json "$WORK/x-$law-back.wav" | grep -q '"valid":true' || fail ".$law: sox's decoding is not decodable"
done

# ---- levels and frequencies of the FSK tones (a steady mark; float samples)
mark() { gen --seizure-bits 0 --mark-bits 2400 --raw ff --encoding float "$@"; }
mark --standard etsi --mark-offset 3 -o "$WORK/m1.wav"
near "V.23 mark +3 Hz, frequency" "$(tone_frequency "$WORK/m1.wav" 0.3 1.5 8000)" 1303 0.5
near "V.23 mark at -13.5 dBm0, RMS dBFS" "$(rms_db "$WORK/m1.wav" 0.3 1.5)" "$(awk 'BEGIN { print -13.5 - 3.14 - 3.0103 }')" 0.1
mark --standard us-mdmf --mark-offset -7.5 --level -30 --ref-dbm0 0 --rate 44100 -o "$WORK/m2.wav"
near "Bell 202 mark -7.5 Hz at 44100, frequency" "$(tone_frequency "$WORK/m2.wav" 0.3 1.5 44100)" 1192.5 0.5
near "Bell 202 mark at -30 dBm0, reference 0, RMS dBFS" "$(rms_db "$WORK/m2.wav" 0.3 1.5)" "$(awk 'BEGIN { print -30 - 3.0103 }')" 0.1
mark --standard us-mdmf --level -20 --twist 6 -o "$WORK/m3.wav"
near "Bell 202 mark with +6 dB twist, RMS dBFS" "$(rms_db "$WORK/m3.wav" 0.3 1.5)" "$(awk 'BEGIN { print -20 + 3 - 3.14 - 3.0103 }')" 0.1

# ---- DTMF: the sum of both tones, and each group through a band-pass
gen --standard dtmf --digits 5 --digit-ms 1500 --level -10 --twist 4 --encoding float -o "$WORK/d.wav"
near "DTMF 5, both tones, RMS dBFS" "$(rms_db "$WORK/d.wav" 0.4 1.0)" \
    "$(awk 'BEGIN { h = 10^((-8 - 3.14) / 10) / 2; l = 10^((-12 - 3.14) / 10) / 2; print 10 * log(h + l) / log(10) }')" 0.1
near "DTMF high group (1336 Hz) at -8 dBm0" "$(rms_db "$WORK/d.wav" 0.4 1.0 sinc 1100-1600)" "$(awk 'BEGIN { print -8 - 3.14 - 3.0103 }')" 0.1
near "DTMF low group (770 Hz) at -12 dBm0" "$(rms_db "$WORK/d.wav" 0.4 1.0 sinc 600-1000)" "$(awk 'BEGIN { print -12 - 3.14 - 3.0103 }')" 0.1

# ---- DTMF tones off nominal: each group through a band-pass, its frequency
gen --standard dtmf --digits 5 --digit-ms 1500 --dtmf-deviation 1.5,-1.5 --encoding float -o "$WORK/dv.wav"
sox "$WORK/dv.wav" "$WORK/dv-low.wav" sinc 600-1000
sox "$WORK/dv.wav" "$WORK/dv-high.wav" sinc 1100-1600
near "DTMF low group 770 Hz +1.5 %" "$(tone_frequency "$WORK/dv-low.wav" 0.4 1.0 8000)" 781.55 0.5
near "DTMF high group 1336 Hz -1.5 %" "$(tone_frequency "$WORK/dv-high.wav" 0.4 1.0 8000)" 1315.96 0.5
gen --standard us-mdmf --number 1 --dtmf-deviation 1,1 -o "$WORK/no.wav" 2>/dev/null &&
    fail "--dtmf-deviation was taken for an FSK message"

# ---- noise: SNR against the tone's power, over 0..fs/2, in the silence before the burst
gen --level -20 --snr 15 --seed 5 --lead-ms 3000 --encoding float -o "$WORK/n.wav"
near "noise for 15 dB SNR at -20 dBm0, RMS dBFS" "$(rms_db "$WORK/n.wav" 0 2.9)" "$(awk 'BEGIN { print -20 - 3.14 - 3.0103 - 15 }')" 0.1

# ---- line impairments: hum level, DC offset, clipping level, echo delay and level
gen --standard dtmf --digits 5 --digit-ms 1000 --lead-ms 1000 --hum 60,-20 --encoding float -o "$WORK/h.wav"
near "60 Hz hum at -20 dBm0, RMS dBFS (before the digit)" "$(rms_db "$WORK/h.wav" 0 0.9)" "$(awk 'BEGIN { print -20 - 3.14 - 3.0103 }')" 0.1
gen --standard dtmf --digits 5 --dc 3 --encoding float -o "$WORK/dc.wav"
near "DC offset 3 %" "$(sox "$WORK/dc.wav" -n stats 2>&1 | awk '/^DC offset/ { print $3 }')" 0.03 0.0005
gen --level 0 --clip 10 --encoding float -o "$WORK/clip.wav"
near "clipped at 10 %, peak dBFS" "$(sox "$WORK/clip.wav" -n stats 2>&1 | awk '/^Pk lev dB/ { print $4 }')" -20 0.01
gen --standard dtmf --digits 5 --digit-ms 100 --lead-ms 200 --tail-ms 600 --echo 300,-10 --encoding float -o "$WORK/echo.wav"
near "echo 300 ms later at -10 dB, RMS dBFS" "$(rms_db "$WORK/echo.wav" 0.5 0.1)" "$(awk 'BEGIN { print -10 - 3.14 - 10 }')" 0.1
between=$(rms_db "$WORK/echo.wav" 0.31 0.18)
[[ $between == -inf ]] && echo "ok: silence between the digit and its echo" || fail "between the digit and its echo: $between dBFS"

# ---- lengths to the sample: silences, seizure, mark, 10 bits a byte (11 with 2 stop bits)
gen --raw 0102030405 --lead-ms 100 --tail-ms 50 -o "$WORK/t1.wav"
near "us-mdmf samples, 5 bytes" "$(soxi -s "$WORK/t1.wav")" $((800 + (480 + 50) * 20 / 3 + 400 + 1)) 0
gen --standard etsi --raw 010203 --stop-bits 2 --seizure-bits 30 --mark-bits 60 --rate 48000 --lead-ms 0 --tail-ms 0 -o "$WORK/t2.wav"
near "etsi samples at 48000, 2 stop bits" "$(soxi -s "$WORK/t2.wav")" $(((30 + 60 + 33) * 40)) 0
gen --standard dtmf --digits 123 --digit-ms 50 --digit-gap-ms 45 --lead-ms 10 --tail-ms 20 -o "$WORK/t3.wav"
near "dtmf samples" "$(soxi -s "$WORK/t3.wav")" $((80 + 3 * 400 + 2 * 360 + 160)) 0

((failures == 0)) || { echo "$failures check(s) failed" >&2; exit 1; }
echo "every check passed"
