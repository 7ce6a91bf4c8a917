#!/usr/bin/env bash
# spandsp's receivers decode cidforge's multiple data messages and padtoner's DTMF caller ID.
#   mdmf RATE BITS [ABSENT] [SEIZURE]  cidforge -MDMF at RATE Hz, BITS per sample, read by
#                                      the CLASS receiver (resampled to 8000 Hz with sox)
#   etsi RATE BITS [ABSENT] [SEIZURE]  cidforge -ETSI, read by the CLIP receiver
#                  ABSENT is "absent" (NumberAbsence P, NameAbsence O) or "present";
#                  SEIZURE is "seizure" (-SEIZURE) or "plain"
#   dtmf DIGITS    padtoner DTMFData DIGITS at 8000 Hz, read by the CLIP_DTMF receiver
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"

need_spandsp

# multiple_bytes DATETIME NUMBER NAME NUMBER_ABSENCE NAME_ABSENCE: the type 0x80 message as
# hex, without its checksum, computed here from the field layout.
multiple_bytes() {
    local body="" text
    body+=$(printf '01%02x%s' "${#1}" "$(hex_of_text "$1")")
    if [[ -n $4 ]]; then
        body+=$(printf '0401%s' "$(hex_of_text "$4")")
    else
        body+=$(printf '02%02x%s' "${#2}" "$(hex_of_text "$2")")
    fi
    if [[ -n $5 ]]; then
        body+=$(printf '0801%s' "$(hex_of_text "$5")")
    else
        text=$(hex_of_text "$3")
        body+=$(printf '07%02x%s' $((${#text} / 2)) "$text")
    fi
    printf '80%02x%s' $((${#body} / 2)) "$body"
}

case ${ARGS[0]} in
mdmf | etsi)
    need_program cidforge
    format=${ARGS[0]}
    rate=${ARGS[1]}
    bits=${ARGS[2]}
    datetime=03141592
    number=01632960123
    name="SMITH J"
    number_absence=""
    name_absence=""
    opts=()
    if [[ ${ARGS[3]:-present} == absent ]]; then
        number_absence=P
        name_absence=O
    fi
    if [[ ${ARGS[4]:-plain} == seizure ]]; then opts+=(-SEIZURE); fi
    {
        printf 'SamplingFrequency %s\nQuantizationBitLength %s\nAmplitude 40\nNoiseAmplitude 2\n' "$rate" "$bits"
        printf 'LeaderDuration 200\nHeaderDuration 150\nFooterDuration 20\n'
        printf 'DirectoryNumber %s\nDateTime %s\nIDName "%s"\n' "$number" "$datetime" "$name"
        if [[ -n $number_absence ]]; then printf 'NumberAbsence %s\nNameAbsence %s\n' "$number_absence" "$name_absence"; fi
    } >"$WORK/data.txt"
    if [[ $format == mdmf ]]; then opts+=(-MDMF); else opts+=(-ETSI); fi
    "$BIN_DIR/cidforge" "$WORK/data.txt" "$WORK/burst.wav" "${opts[@]}" >"$WORK/cidforge.log" ||
        fail "cidforge failed: $(cat "$WORK/cidforge.log")"
    input=$WORK/burst.wav
    if ((rate != 8000)); then
        need_command sox
        sox "$WORK/burst.wav" -r 8000 -b 16 "$WORK/burst8k.wav"
        input=$WORK/burst8k.wav
    fi
    if [[ $format == mdmf ]]; then
        "$CIDPEER" recv-us "$input" >"$WORK/rx.txt"
    else
        "$CIDPEER" recv-clip "$input" >"$WORK/rx.txt"
    fi
    {
        # The receiver checks the checksum and hands over the message without it.
        printf 'message %s\n' "$(spaced "$(multiple_bytes "$datetime" "$number" "$name" "$number_absence" "$name_absence")")"
        printf 'date %s\n' "$datetime"
        if [[ -n $number_absence ]]; then
            printf 'number-absence %s\nname-absence %s\n' "$number_absence" "$name_absence"
        else
            printf 'number %s\nname %s\n' "$number" "$name"
        fi
        printf 'end\n'
    } >"$WORK/expected.txt"
    ;;
dtmf)
    need_program padtoner
    digits=${ARGS[1]}
    write_data "$WORK/data.txt" SamplingFrequency 8000 QuantizationBitLength 16 Amplitude 30 \
        NoiseAmplitude 0 PNoiseAmplitude 0 LeaderDuration 300 ToneDuration 60 SilenceDuration 60 \
        RampDuration 3 DTMFData "\"$digits\""
    "$BIN_DIR/padtoner" "$WORK/data.txt" "$WORK/dtmf.wav" >"$WORK/padtoner.log" ||
        fail "padtoner failed: $(cat "$WORK/padtoner.log")"
    "$CIDPEER" recv-dtmf "$WORK/dtmf.wav" >"$WORK/rx.txt"
    printf 'message %s\ndigits %s\nend\n' "$(spaced "$(hex_of_text "$digits")")" "$digits" >"$WORK/expected.txt"
    ;;
*)
    fail "unknown case ${ARGS[0]}"
    ;;
esac

if ! diff -u "$WORK/expected.txt" "$WORK/rx.txt"; then
    fail "spandsp did not decode the burst as expected"
fi
echo "spandsp decoded the burst: $(grep -c '^message' "$WORK/rx.txt") message, fields right"
