#!/usr/bin/env bash
# cidscan --measure reads line signals that sox synthesises (not the project's generator): at
# several sampling rates a 90 ms 2130 + 2750 Hz alert 300 ms in, a DTMF D 100 ms after it (a CAS
# and its acknowledgement), then 25 Hz ringing driven into clipping for 400 ms, 200 ms off and
# 400 ms on again. Each signal's kind, edges (alert 1 ms, ringing 20 ms), tones and cadence
# must be what sox was told.
set -euo pipefail
# shellcheck source=common.sh
source "$(dirname "$0")/common.sh"

need_command sox
need_command jq
need_program cidscan

# near VALUE WANT SLACK WHAT
near() {
    awk -v v="$1" -v w="$2" -v s="$3" 'BEGIN { d = v - w; if (d < 0) d = -d; exit !(d <= s) }' ||
        fail "$4: $1, not within $3 of $2"
}

for rate in 8000 22050 48000; do
    wav=$WORK/signals-$rate.wav
    # The alert from 0.3 s to 0.39 s, the digit from 0.49 s to 0.55 s, silence to 1.05 s,
    # ringing 1.05-1.45 s and 1.65-2.05 s, then 0.5 s of silence (sox warns of the clipping).
    sox -n -r "$rate" -b 16 "$WORK/alert.wav" synth 0.09 sine 2130 synth 0.09 sine mix 2750 vol 0.3 pad 0.3 0
    sox -n -r "$rate" -b 16 "$WORK/ack.wav" synth 0.06 sine 941 synth 0.06 sine mix 1633 vol 0.3 pad 0.1 0.5
    sox -n -r "$rate" -b 16 "$WORK/ring.wav" synth 0.4 sine 25 vol 3 pad 0 0.2 2>/dev/null
    sox -n -r "$rate" -b 16 "$WORK/tail.wav" trim 0 0.3
    sox "$WORK/alert.wav" "$WORK/ack.wav" "$WORK/ring.wav" "$WORK/ring.wav" "$WORK/tail.wav" "$wav"
    out=$("$BIN_DIR/cidscan" --measure --json "$wav")
    kinds=$(jq -r '.signal // .standard' <<<"$out" | tr '\n' ' ')
    [[ $kinds == "cas ack ring ring " ]] || fail "$rate Hz: found $kinds"
    mapfile -t rows < <(jq -c '.' <<<"$out")
    cas=${rows[0]} ack=${rows[1]} ring=${rows[2]}
    near "$(jq .start_s <<<"$cas")" 0.3 0.001 "$rate Hz: CAS start"
    near "$(jq .end_s <<<"$cas")" 0.39 0.001 "$rate Hz: CAS end"
    near "$(jq .measure.low_hz <<<"$cas")" 2130 1 "$rate Hz: CAS low tone"
    near "$(jq .measure.high_hz <<<"$cas")" 2750 1 "$rate Hz: CAS high tone"
    near "$(jq .measure.twist_db <<<"$cas")" 0 0.3 "$rate Hz: CAS twist"
    [[ $(jq -r .measure.digit <<<"$ack") == D ]] || fail "$rate Hz: acknowledgement $(jq -r .measure.digit <<<"$ack")"
    near "$(jq .start_s <<<"$ack")" 0.49 0.001 "$rate Hz: acknowledgement start"
    near "$(jq .start_s <<<"$ring")" 1.05 0.02 "$rate Hz: ring start"
    near "$(jq .end_s <<<"$ring")" 1.45 0.02 "$rate Hz: ring end"
    near "$(jq .measure.off_ms <<<"$ring")" 200 20 "$rate Hz: ring off time"
    near "$(jq .measure.ring_hz <<<"$ring")" 25 0.2 "$rate Hz: ring frequency"
    near "$(jq .measure.ring_dbfs <<<"$ring")" 0 0.1 "$rate Hz: clipped ring level"
done
echo "PASS: cidscan reads sox's alert, acknowledgement and clipped ringing at 8000, 22050 and 48000 Hz"
