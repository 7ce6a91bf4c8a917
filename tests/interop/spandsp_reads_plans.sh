#!/usr/bin/env bash
# spandsp's receivers decode every "display" file of a cidgen test plan, each
# to the bytes the manifest gives (the message as delivered: without the
# checksum byte, or for NTT frames without parity and CRC). spandsp's FSK
# receivers ignore any tone weaker than about -30 dBm0 (their own fixed
# cut-off: -30 dBm0 is decoded by the CLASS receiver, -30.5 by neither), so a
# file with a tone below -30 dBm0 is raised by sox to -13.5 dBm0 first (the
# bytes must still come out right; the level itself is measured elsewhere).
#   PLAN: gr30 (CLASS receiver), etsi (CLIP receiver), ntt (JCLIP receiver),
#         dtmf-cid (CLIP_DTMF receiver); negative: no receiver delivers any of
#         its spoiled messages
# spandsp's DTMF receiver takes a twist only strictly inside -8 to +4 dB and
# loses digits already at +3.9 and -7.9 dB, and drops tones 1.5 % high: the
# dtmf-cid files at those limits are named as its misses, not counted.
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"

need_spandsp
need_program cidgen
need_command jq
plan=${ARGS[0]:?plan}
case $plan in
gr30) receiver=recv-us ;;
etsi) receiver=recv-clip ;;
ntt) receiver=recv-jp ;;
dtmf-cid) receiver=recv-dtmf peer_limits=" 005-twist-high.wav 006-twist-low.wav 009-freq-high.wav " ;;
negative) receiver=by-name ;;
*) fail "unknown plan $plan" ;;
esac

"$BIN_DIR/cidgen" --plan "$plan" "$WORK/plan" >/dev/null || fail "cidgen --plan $plan failed"
if [[ $plan == negative ]]; then
    count=0
    while IFS= read -r file; do
        case $file in
        *-us-*) receiver=recv-us ;;
        *-etsi-*) receiver=recv-clip ;;
        *-ntt-*) receiver=recv-jp ;;
        *-dtmf-cid-*) receiver=recv-dtmf ;;
        *) fail "no spandsp receiver for $file" ;;
        esac
        [[ $file =~ ^[0-9A-Za-z._-]+$ ]] || fail "unexpected file name in the manifest"
        got=$("$CIDPEER" "$receiver" "$WORK/plan/$file" | grep -a '^message' || true)
        [[ -z $got ]] || fail "spandsp delivered the spoiled message of $file: $got"
        count=$((count + 1))
    done < <(jq -r 'select(.expect == "reject") | .file' "$WORK/plan/manifest.jsonl")
    ((count > 0)) || fail "the negative plan has no reject file"
    echo "spandsp delivered none of the $count spoiled messages"
    exit 0
fi
# The bytes spandsp hands over for each manifest line, in hex.
expected() {
    local raw=$1
    case $plan in
    gr30 | etsi) printf '%s\n' "${raw:0:${#raw}-2}" ;;
    ntt)
        local out="" i
        raw=${raw:0:${#raw}-4}
        for ((i = 0; i < ${#raw}; i += 2)); do out+=$(printf '%02x' $((0x${raw:i:2} & 0x7f))); done
        printf '%s\n' "$out"
        ;;
    dtmf-cid) printf '%s\n' "$raw" ;;
    esac
}

files=0 missed=0
while IFS=$'\t' read -r file raw weakest; do
    [[ $file =~ ^[0-9A-Za-z._-]+$ ]] || fail "unexpected file name in the manifest"
    input=$WORK/plan/$file
    if [[ $plan != dtmf-cid ]] && awk -v l="$weakest" 'BEGIN { exit !(l < -30) }'; then
        need_command sox
        gain=$(awk -v l="$weakest" 'BEGIN { print -13.5 - l }')
        sox "$input" "$WORK/raised.wav" gain "$gain"
        input=$WORK/raised.wav
        echo "$file: a tone at $weakest dBm0, below spandsp's cut-off: raised $gain dB"
    fi
    files=$((files + 1))
    want=$(expected "$raw")
    got=$("$CIDPEER" "$receiver" "$input" | sed -n 's/^message //p' | tr -d ' ')
    if [[ ${peer_limits:-} == *" $file "* ]]; then
        grep -qx -- "$want" <<<"$got" && echo "$file: decoded, though at spandsp's limits" ||
            echo "$file: not decoded (at spandsp's own limits)"
        files=$((files - 1))
    elif ! grep -qx -- "$want" <<<"$got"; then
        echo "spandsp missed $file: got '${got:-nothing}'" >&2
        missed=$((missed + 1))
    fi
done < <(jq -r 'select(.expect == "display")
                 | [.file, .message.raw, (.conditions.level_dbm0 - ((.conditions.twist_db // 0) | fabs) / 2)] | @tsv' \
             "$WORK/plan/manifest.jsonl")
((files > 0)) || fail "the $plan plan has no display file"
((missed == 0)) || fail "spandsp decoded $((files - missed)) of $files display files of the $plan plan"
echo "spandsp decoded all $files display files of the $plan plan"
