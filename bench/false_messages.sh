#!/usr/bin/env bash
# False messages: cidscan (every caller-ID standard, and plain DTMF digits) over an hour of
# pink noise and an hour of music-like chords with no DTMF in them. Every message it prints
# is counted, with those whose checksum or CRC passes, and every DTMF digit.
#
# Usage: bench/false_messages.sh [BUILD_DIR]     (default: build; programs in BUILD_DIR/bin)
# Environment: SECONDS_OF_AUDIO (default 3600).
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BIN=${1:-$REPO/build}/bin
LENGTH=${SECONDS_OF_AUDIO:-3600}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/false_messages.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

[[ -x $BIN/cidscan ]] || { echo "false_messages.sh: $BIN/cidscan is not built" >&2; exit 1; }
sox -n -r 8000 -b 16 -c 1 "$WORK/noise.wav" synth "$LENGTH" pinknoise vol 0.25
python3 "$REPO/bench/tools/chords.py" "$WORK/chords.wav" "$LENGTH"

printf '| audio (%s s, 8000 Hz) | messages | with a passing check | DTMF digits |\n|---|---:|---:|---:|\n' "$LENGTH"
for name in noise chords; do
    "$BIN/cidscan" --json "$WORK/$name.wav" >"$WORK/$name.json"
    "$BIN/cidscan" --json --standard dtmf "$WORK/$name.wav" >"$WORK/$name.dtmf.json"
    messages=$(wc -l <"$WORK/$name.json")
    valid=$(grep -c '"valid":true' "$WORK/$name.json" || true)
    digits=$(jq -s '[.[].tones | length] | add // 0' "$WORK/$name.dtmf.json")
    printf '| %s | %s | %s | %s |\n' "$name" "$messages" "$valid" "$digits"
done
