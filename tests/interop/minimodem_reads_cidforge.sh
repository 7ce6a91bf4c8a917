#!/usr/bin/env bash
# minimodem, an FSK modem of its own, recovers exactly the bytes that cidforge sent.
#   us RATE    US SDMF burst: Bell 202 tones (minimodem's default at 1200 baud)
#   ntt RATE   NTT burst: mark 1300 Hz, space 2100 Hz
# Each byte goes out with five stop bits; minimodem prints every received byte raw.
# The expected bytes are worked out in common.sh, not taken from cidforge.
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"

need_program cidforge
need_command minimodem

format=${ARGS[0]}
rate=${ARGS[1]}
opts=()
tones=()
case $format in
us)
    datetime=03141592
    number=8005550199
    expected=$(sdmf_bytes "$datetime" "$number")
    opts=(-USA)
    ;;
ntt)
    need_command iconv
    number=0612345678
    name=大阪花子
    jis=$(jis_of_utf8 "$name")
    expected=$(ntt_frame "$number" "$jis")
    tones=(--mark 1300 --space 2100)
    ;;
*)
    fail "unknown format $format"
    ;;
esac

{
    printf 'SamplingFrequency %s\nQuantizationBitLength 16\nAmplitude 40\n' "$rate"
    printf 'LeaderDuration 200\nHeaderDuration 150\nFooterDuration 20\n'
    printf 'DirectoryNumber %s\n' "$number"
    if [[ $format == us ]]; then
        printf 'DateTime %s\n' "$datetime"
    else
        printf 'IDName '
        printf '%s' "$name" | iconv -f UTF-8 -t SHIFT_JIS
        printf '\n'
    fi
} >"$WORK/data.txt"
"$BIN_DIR/cidforge" "$WORK/data.txt" "$WORK/burst.wav" "${opts[@]}" >"$WORK/cidforge.log" ||
    fail "cidforge failed: $(cat "$WORK/cidforge.log")"

minimodem --rx 1200 "${tones[@]}" --stopbits 5 --quiet --file "$WORK/burst.wav" >"$WORK/rx.bin" \
    2>"$WORK/minimodem.log" || fail "minimodem failed: $(cat "$WORK/minimodem.log")"
got=$(od -An -v -tx1 "$WORK/rx.bin" | tr -d ' \n')
if [[ $got != "$expected" ]]; then
    echo "expected: $(spaced "$expected")" >&2
    echo "received: $(spaced "$got")" >&2
    fail "minimodem did not recover the bytes that were sent"
fi
echo "minimodem recovered all $((${#got} / 2)) bytes: $(spaced "$got")"
