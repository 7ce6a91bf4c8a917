#!/usr/bin/env bash
# cidscan decodes what independent software writes, field by field, and reads every
# container that sox and libsndfile's users write.
#   mdmf-seizure, mdmf-no-seizure, mdmf-absent, mdmf-extra
#             a US MDMF burst from spandsp's CLASS transmitter (with or without its
#             channel-seizure preamble; with absence codes; with the other parameters)
#   ntt-spandsp  a Japanese burst from spandsp's JCLIP transmitter with number and name
#   ntt-cidforge a cidforge NTT burst with a Shift-JIS name
#   containers   a spandsp MDMF burst and a cidforge NTT burst converted by sox to mu-law,
#             A-law, float, 64-bit float, 24-bit (WAVE_FORMAT_EXTENSIBLE), 8-bit, IMA ADPCM
#             WAV, AIFF, FLAC, and a WAV with LIST and JUNK chunks before the data: each
#             decodes to the same message as the original
# The JSON output is read back with jq.
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"

need_program cidscan
need_command jq

# decode FILE: cidscan's JSON for FILE, one line per message.
decode() {
    "$BIN_DIR/cidscan" --json "$1" 2>"$WORK/console.txt" || fail "cidscan failed on $1: $(cat "$WORK/console.txt")"
}

# expect_one JSON STANDARD TYPE FIELDS: exactly one valid, complete message of that
# standard and type, whose fields are exactly the JSON object FIELDS.
expect_one() {
    local json=$1 standard=$2 type=$3 fields=$4
    local count
    count=$(jq -s 'length' <<<"$json")
    ((count == 1)) || fail "expected one message, got $count: $json"
    jq -e --arg s "$standard" --argjson t "$type" --argjson f "$fields" \
        '.standard == $s and .type == $t and .valid == true and .complete == true and .fields == $f' \
        <<<"$json" >/dev/null || fail "expected $standard type $type with $fields, got: $json"
}

case ${ARGS[0]} in
mdmf-seizure | mdmf-no-seizure)
    need_spandsp
    seizure=${ARGS[0]#mdmf-}
    "$CIDPEER" send-mdmf "$WORK/burst.wav" "$seizure" 01=12251030 02=2125551234 07="JOHN Q PUBLIC"
    expect_one "$(decode "$WORK/burst.wav")" bell202 128 \
        '{"date":"12-25","time":"10:30","number":"2125551234","name":"JOHN Q PUBLIC"}'
    ;;
mdmf-absent)
    need_spandsp
    "$CIDPEER" send-mdmf "$WORK/burst.wav" seizure 01=07040915 04=P 08=O
    expect_one "$(decode "$WORK/burst.wav")" bell202 128 \
        '{"date":"07-04","time":"09:15","number_absent":"private","name_absent":"unavailable"}'
    "$CIDPEER" send-mdmf "$WORK/burst2.wav" no-seizure 01=07040915 04=O 08=P
    expect_one "$(decode "$WORK/burst2.wav")" bell202 128 \
        '{"date":"07-04","time":"09:15","number_absent":"unavailable","name_absent":"private"}'
    ;;
mdmf-extra)
    need_spandsp
    "$CIDPEER" send-mdmf "$WORK/burst.wav" seizure 02=3135550100 03=13135550100 06=L 07="ACME" 1a=3135559999 \
        33=xyz
    expect_one "$(decode "$WORK/burst.wav")" bell202 128 \
        '{"number":"3135550100","dialable_number":"13135550100","call_qualifier":"long distance",
          "name":"ACME","redirecting_number":"3135559999","param_33":"78797a"}'
    ;;
ntt-spandsp)
    need_spandsp
    need_command iconv
    jis=$(jis_of_utf8 鈴木一郎)
    "$CIDPEER" send-jp "$WORK/burst.wav" 0312345678 "$jis" 200
    json=$(decode "$WORK/burst.wav")
    expect_one "$json" v23-ntt 64 '{"number":"0312345678","name":"鈴木一郎"}'
    # The raw bytes are the frame as sent, its CRC included (worked out independently).
    frame=$(ntt_frame 0312345678 "$jis")
    [[ $(jq -r .raw <<<"$json") == "$frame" ]] || fail "raw bytes $(jq -r .raw <<<"$json"), sent $frame"
    ;;
ntt-cidforge)
    need_program cidforge
    need_command iconv
    write_data "$WORK/ntt.txt" SamplingFrequency 8000 QuantizationBitLength 16 Amplitude 50 NoiseAmplitude 5 \
        LeaderDuration 200 HeaderDuration 200 FooterDuration 50 DirectoryNumber 0471234567 \
        IDName "\"$(printf '%s' 佐藤花子 | iconv -f UTF-8 -t SHIFT_JIS)\""
    "$BIN_DIR/cidforge" "$WORK/ntt.txt" "$WORK/burst.wav" >/dev/null 2>&1 || fail "cidforge failed"
    expect_one "$(decode "$WORK/burst.wav")" v23-ntt 64 '{"number":"0471234567","name":"佐藤花子"}'
    ;;
containers)
    need_spandsp
    need_command sox
    need_command python3
    need_program cidforge
    "$CIDPEER" send-mdmf "$WORK/us.wav" seizure 01=12251030 02=2125551234 07="JOHN DOE"
    write_data "$WORK/ntt.txt" SamplingFrequency 8000 QuantizationBitLength 16 Amplitude 50 NoiseAmplitude 5 \
        LeaderDuration 200 HeaderDuration 200 FooterDuration 50 DirectoryNumber 0312345678
    "$BIN_DIR/cidforge" "$WORK/ntt.txt" "$WORK/ntt.wav" >/dev/null 2>&1 || fail "cidforge failed"
    for original in us ntt; do
        src=$WORK/$original.wav
        want=$(decode "$src" | jq -c '{standard, type, valid, raw, fields}')
        [[ -n $want ]] || fail "nothing decoded from the original $original burst"
        # -R: the same dither every run, so that a run repeats the last.
        sox -R "$src" -e mu-law "$WORK/$original-mulaw.wav"
        sox -R "$src" -e a-law "$WORK/$original-alaw.wav"
        sox -R "$src" -e floating-point -b 32 "$WORK/$original-float.wav"
        sox -R "$src" -e floating-point -b 64 "$WORK/$original-double.wav"
        # Quiet float: samples are scaled by full scale, not by the file's own peak.
        sox -R "$src" -e floating-point -b 32 "$WORK/$original-float-quiet.wav" vol 0.1
        sox -R "$src" -b 24 "$WORK/$original-24bit.wav"
        sox -R "$src" -b 8 "$WORK/$original-8bit.wav"
        sox -R "$src" -e ima-adpcm "$WORK/$original-ima.wav"
        sox -R "$src" "$WORK/$original.aiff"
        sox -R "$src" "$WORK/$original.flac"
        sox -R "$src" -r 44100 -c 2 "$WORK/$original-stereo44k.wav"
        # LIST (as ffmpeg writes it) and JUNK chunks between the format and the data.
        python3 - "$src" "$WORK/$original-list.wav" <<'PY'
import struct, sys
b = open(sys.argv[1], 'rb').read()
pos, chunks = 12, []
while pos + 8 <= len(b):
    cid, size = b[pos:pos + 4], struct.unpack('<I', b[pos + 4:pos + 8])[0]
    chunks.append((cid, b[pos + 8:pos + 8 + size]))
    pos += 8 + size + (size & 1)
info = b'INFO' + b'ISFT' + struct.pack('<I', 14) + b'Lavf59.27.100\0'
out = b''
for cid, body in chunks:
    if cid == b'data':
        out += b'LIST' + struct.pack('<I', len(info)) + info + b'JUNK' + struct.pack('<I', 28) + bytes(28)
    out += cid + struct.pack('<I', len(body)) + body + (b'\0' if len(body) & 1 else b'')
open(sys.argv[2], 'wb').write(b'RIFF' + struct.pack('<I', len(out) + 4) + b'WAVE' + out)
PY
        for f in "$WORK/$original"-*.wav "$WORK/$original.aiff" "$WORK/$original.flac"; do
            got=$(decode "$f" | jq -c '{standard, type, valid, raw, fields}' | sort -u)
            if [[ $f == *stereo44k* ]]; then
                # Both channels carry the burst: the same message on each.
                [[ $(decode "$f" | jq -s 'map(.channel) | sort | tostring' -r) == "[1,2]" ]] ||
                    fail "$(basename "$f"): not one message per channel"
            fi
            [[ $got == "$want" ]] || fail "$(basename "$f"): got $got, the original gives $want"
        done
    done
    ;;
*)
    fail "unknown case ${ARGS[0]}"
    ;;
esac
echo "cidscan decoded every message field by field"
