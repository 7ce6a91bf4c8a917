#!/usr/bin/env bash
# spandsp's caller-ID receivers decode the bursts that cidforge writes.
#   us RATE BITS   US SDMF burst at RATE Hz, BITS per sample; resampled to 8000 Hz with sox
#                  for the receiver when RATE is another rate
#   ntt KIND       NTT burst at 8000 Hz; KIND is number (ten digits), long-number (sixteen
#                  digits, so that the number's length byte is doubled), sjis-name or
#                  euc-name (ten digits and a four-character name given in Shift-JIS, or
#                  in EUC-JP with -EUC)
# spandsp drops NTT frames whose content length is 0x10, so no case here has one.
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"

need_program cidforge
need_spandsp

forge() {
    "$BIN_DIR/cidforge" "$WORK/data.txt" "$WORK/burst.wav" "$@" >"$WORK/cidforge.log" ||
        fail "cidforge failed: $(cat "$WORK/cidforge.log")"
}

case ${ARGS[0]} in
us)
    rate=${ARGS[1]}
    bits=${ARGS[2]}
    datetime=12251030
    number=2125551234
    write_data "$WORK/data.txt" SamplingFrequency "$rate" QuantizationBitLength "$bits" \
        Amplitude 40 NoiseAmplitude 0 LeaderDuration 200 HeaderDuration 150 FooterDuration 20 \
        DirectoryNumber "$number" DateTime "$datetime"
    forge -USA
    input=$WORK/burst.wav
    if ((rate != 8000)); then
        need_command sox
        sox "$WORK/burst.wav" -r 8000 -b 16 "$WORK/burst8k.wav"
        input=$WORK/burst8k.wav
    fi
    "$CIDPEER" recv-us "$input" >"$WORK/rx.txt"
    bytes=$(sdmf_bytes "$datetime" "$number")
    # The receiver checks the checksum and hands over the message without it.
    printf 'message %s\ndate %s\nnumber %s\nend\n' "$(spaced "${bytes%??}")" "$datetime" "$number" \
        >"$WORK/expected.txt"
    ;;
ntt)
    need_command iconv
    number=0123456789
    name=""
    opts=()
    case ${ARGS[1]} in
    number) ;;
    long-number) number=0312345678901234 ;;
    sjis-name) name=山田太郎 ;;
    euc-name)
        name=日本電信
        opts=(-EUC)
        ;;
    *) fail "unknown case ${ARGS[1]}" ;;
    esac
    code=SHIFT_JIS
    if ((${#opts[@]} > 0)); then code=EUC-JP; fi
    {
        printf 'SamplingFrequency 8000\nQuantizationBitLength 16\nAmplitude 40\n'
        printf 'LeaderDuration 200\nHeaderDuration 150\nFooterDuration 20\n'
        printf 'DirectoryNumber %s\n' "$number"
        if [[ -n $name ]]; then
            printf 'IDName '
            printf '%s' "$name" | iconv -f UTF-8 -t "$code"
            printf '\n'
        fi
    } >"$WORK/data.txt"
    forge "${opts[@]}"
    "$CIDPEER" recv-jp "$WORK/burst.wav" >"$WORK/rx.txt"
    jis=""
    if [[ -n $name ]]; then jis=$(jis_of_utf8 "$name"); fi
    {
        # The receiver checks the CRC and hands over DLE SOH .. DLE ETX without parity bits.
        printf 'message %s\n' "$(spaced "$(ntt_plain "$number" "$jis")")"
        printf 'number %s\n' "$number"
        if [[ -n $jis ]]; then printf 'name %s\n' "$jis"; fi
        printf 'end\n'
    } >"$WORK/expected.txt"
    ;;
*)
    fail "unknown case ${ARGS[0]}"
    ;;
esac

if ! diff -u "$WORK/expected.txt" "$WORK/rx.txt"; then
    fail "spandsp did not decode the cidforge burst as expected"
fi
echo "spandsp decoded the burst: $(grep -c '^message' "$WORK/rx.txt") message, fields right"
