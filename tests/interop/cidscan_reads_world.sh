#!/usr/bin/env bash
# cidscan decodes the rest of the world's caller ID, field by field:
#   etsi-spandsp, aclip-spandsp, dtmf-spandsp
#             ETSI V.23 (CLIP), ACLIP and DTMF caller ID from spandsp's transmitters
#   round-trip RATE BITS
#             cidforge -MDMF, -ETSI (with and without seizure), -USA with a short
#             mark, and padtoner DTMF caller ID, at that rate and depth, with noise
# The JSON output is read back with jq.
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"

need_program cidscan
need_command jq

# expect FILE STANDARD FIELDS [OPTIONS...]: exactly one valid message of that standard
# whose fields are exactly the JSON object FIELDS.
expect() {
    local file=$1 standard=$2 fields=$3
    shift 3
    local json count
    json=$("$BIN_DIR/cidscan" --json "$@" "$file") || fail "cidscan failed on $file"
    count=$(jq -s 'length' <<<"$json")
    ((count == 1)) || fail "$file: expected one message, got $count: $json"
    jq -e --arg s "$standard" --argjson f "$fields" '.standard == $s and .valid == true and .fields == $f' \
        <<<"$json" >/dev/null || fail "$file: expected $standard with $fields, got: $json"
}

case ${ARGS[0]} in
etsi-spandsp)
    need_spandsp
    "$CIDPEER" send-clip "$WORK/clip.wav" 12251030 0123456789 "JOHN DOE"
    expect "$WORK/clip.wav" v23-etsi '{"date":"12-25","time":"10:30","number":"0123456789","name":"JOHN DOE"}'
    "$CIDPEER" send-clip "$WORK/absent.wav" 07040915 -P -O
    expect "$WORK/absent.wav" v23-etsi '{"date":"07-04","time":"09:15","number_absent":"private","name_absent":"unavailable"}'
    ;;
aclip-spandsp)
    need_spandsp
    # ACLIP sends the call set-up message of ETSI CLIP over the same V.23 tones: every
    # parameter that the transmitter sends comes back, and nothing else.
    "$CIDPEER" send-aclip "$WORK/aclip.wav" 12251030 0123456789 "JOHN DOE"
    expect "$WORK/aclip.wav" v23-etsi '{"date":"12-25","time":"10:30","number":"0123456789","name":"JOHN DOE"}'
    "$CIDPEER" send-aclip "$WORK/absent.wav" 07040915 -O -P
    expect "$WORK/absent.wav" v23-etsi '{"date":"07-04","time":"09:15","number_absent":"unavailable","name_absent":"private"}'
    "$CIDPEER" send-aclip "$WORK/withheld.wav" 01010000 0987654321 -P
    expect "$WORK/withheld.wav" v23-etsi '{"date":"01-01","time":"00:00","number":"0987654321","name_absent":"private"}'
    "$CIDPEER" send-aclip "$WORK/number.wav" "" 0123456789 ""
    expect "$WORK/number.wav" v23-etsi '{"number":"0123456789"}'
    ;;
dtmf-spandsp)
    need_spandsp
    "$CIDPEER" send-dtmf "$WORK/dtmf.wav" A0123456789C
    expect "$WORK/dtmf.wav" dtmf-cid '{"number":"0123456789"}'
    # Absence codes, and a redirected call whose calling number is withheld.
    "$CIDPEER" send-dtmf "$WORK/b10c.wav" B10C
    expect "$WORK/b10c.wav" dtmf-cid '{"number_absent":"private"}'
    "$CIDPEER" send-dtmf "$WORK/d1.wav" "D1#"
    expect "$WORK/d1.wav" dtmf-cid '{"number_absent":"private"}'
    "$CIDPEER" send-dtmf "$WORK/redirected.wav" D0198765432B10C
    expect "$WORK/redirected.wav" dtmf-cid '{"redirecting_number":"0198765432","number_absent":"private"}'
    # A number with no start digit, ended by #.
    "$CIDPEER" send-dtmf "$WORK/hash.wav" "0123456789#"
    expect "$WORK/hash.wav" dtmf-cid '{"number":"0123456789"}'
    ;;
round-trip)
    rate=${ARGS[1]} bits=${ARGS[2]}
    need_program cidforge
    need_program padtoner
    {
        printf 'SamplingFrequency %s\nQuantizationBitLength %s\nAmplitude 40\nNoiseAmplitude 4\n' "$rate" "$bits"
        printf 'LeaderDuration 200\nHeaderDuration 150\nFooterDuration 30\nDateTime 12251030\n'
        printf 'DirectoryNumber 0123456789\nIDName "JOHN DOE"\n'
    } >"$WORK/data.txt"
    both='{"date":"12-25","time":"10:30","number":"0123456789","name":"JOHN DOE"}'
    "$BIN_DIR/cidforge" "$WORK/data.txt" "$WORK/mdmf.wav" -MDMF >/dev/null
    expect "$WORK/mdmf.wav" bell202 "$both"
    "$BIN_DIR/cidforge" "$WORK/data.txt" "$WORK/mdmf-seizure.wav" -MDMF -SEIZURE >/dev/null
    expect "$WORK/mdmf-seizure.wav" bell202 "$both"
    "$BIN_DIR/cidforge" "$WORK/data.txt" "$WORK/etsi.wav" -ETSI >/dev/null
    expect "$WORK/etsi.wav" v23-etsi "$both"
    "$BIN_DIR/cidforge" "$WORK/data.txt" "$WORK/etsi-seizure.wav" -ETSI -SEIZURE >/dev/null
    expect "$WORK/etsi-seizure.wav" v23-etsi "$both"
    # Call-waiting caller ID: about 80 bits of mark before the message.
    sed 's/^HeaderDuration .*/HeaderDuration 66/' "$WORK/data.txt" >"$WORK/short.txt"
    "$BIN_DIR/cidforge" "$WORK/short.txt" "$WORK/short.wav" -MDMF >/dev/null
    expect "$WORK/short.wav" bell202 "$both"
    {
        printf 'SamplingFrequency %s\nQuantizationBitLength %s\n' "$rate" "$bits"
        printf 'DTMFData "A0123456789C"\n'
    } >"$WORK/dtmf.txt"
    "$BIN_DIR/padtoner" "$WORK/dtmf.txt" "$WORK/dtmf.wav" >/dev/null
    expect "$WORK/dtmf.wav" dtmf-cid '{"number":"0123456789"}'
    ;;
*) fail "unknown case ${ARGS[0]}" ;;
esac
echo "ok ${ARGS[*]}"
