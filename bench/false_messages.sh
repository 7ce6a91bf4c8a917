#!/usr/bin/env bash
# False messages: cidscan (every caller-ID standard, and plain DTMF digits) over an hour of
# each of: pink noise at two levels, music-like chords with no DTMF in them, music-like
# harmonic notes, and speech-like audio. Every message it prints is counted, with those whose
# checksum or CRC passes, and every DTMF digit; so are the digits of two other DTMF
# receivers on the same audio (talk-off): spandsp's (tests/interop/cidpeer recv-digits) and
# multimon-ng's (at 22050 Hz, resampled by sox without dither). The table gives each
# recording's RMS level as sox measures it.
#
# A typical burst has a tone peak of -10 to -15 dBFS, a tone RMS of -13 to -18 dBFS. The
# quiet noise sits 20 dB below the middle of that (RMS -35.5 dBFS, tone peak -12.5 dBFS);
# the loud one (RMS about -26 dBFS) about 10 dB below it.
#
# Usage: bench/false_messages.sh [BUILD_DIR]     (default: build; programs in BUILD_DIR/bin)
# Environment: SECONDS_OF_AUDIO (default 3600).
# Prints the table and, when docs/benchmarks.md holds the markers, puts it between them.
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BIN=${1:-$REPO/build}/bin
LENGTH=${SECONDS_OF_AUDIO:-3600}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/false_messages.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# shellcheck source=tools/bench_lib.sh
source "$REPO/bench/tools/bench_lib.sh"

[[ -x $BIN/cidscan ]] || { echo "false_messages.sh: $BIN/cidscan is not built" >&2; exit 1; }
for tool in sox jq python3; do
    command -v "$tool" >/dev/null || { echo "false_messages.sh: $tool is needed" >&2; exit 1; }
done

# The recordings: name|what it is. sox seeds its noise itself (-R), so every run writes
# the same files.
recordings=(
    "noise|pink noise, about 10 dB below a typical burst"
    "quiet noise|pink noise, 20 dB below a typical burst"
    "chords|music-like chords without DTMF (bench/tools/chords.py)"
    "music|music-like harmonic notes, chords, bass and melody (bench/tools/music.py)"
    "speech|speech-like audio, active level -22 dBFS +-4 dB (bench/tools/speech.py)"
)
echo "false_messages.sh: making $LENGTH s of each recording" >&2
sox -R -n -r 8000 -b 16 -c 1 "$WORK/noise.wav" synth "$LENGTH" pinknoise vol 0.25
# vol 0.25 gives -26.0 dBFS RMS; 10^(-9.5/20) x 0.25 gives -35.5 dBFS.
sox -R -n -r 8000 -b 16 -c 1 "$WORK/quiet noise.wav" synth "$LENGTH" pinknoise vol 0.0837
python3 "$REPO/bench/tools/chords.py" "$WORK/chords.wav" "$LENGTH"
python3 "$REPO/bench/tools/music.py" "$WORK/music.wav" "$LENGTH"
python3 "$REPO/bench/tools/speech.py" "$WORK/speech.wav" "$LENGTH"

{
    printf '<!-- begin false_messages.sh -->\n'
    # shellcheck disable=SC2016  # the backquotes are Markdown
    printf 'Made by `bench/false_messages.sh` on %s; commit %s; %s s of each recording at 8000 Hz.\n\n' \
        "$(date -u +%Y-%m-%d)" "$(git -C "$REPO" rev-parse --short HEAD 2>/dev/null || echo unknown)" "$LENGTH"
    printf '| audio | what it is | RMS level (dBFS) | messages | with a passing check | DTMF digits | spandsp digits | multimon-ng digits |\n'
    printf '|---|---|---:|---:|---:|---:|---:|---:|\n'
    for row in "${recordings[@]}"; do
        IFS='|' read -r name what <<<"$row"
        wav=$WORK/$name.wav
        level=$(sox "$wav" -n stats 2>&1 | awk '/^RMS lev dB/ { print $4 }')
        "$BIN/cidscan" --json "$wav" >"$WORK/$name.json"
        "$BIN/cidscan" --json --standard dtmf "$wav" >"$WORK/$name.dtmf.json"
        messages=$(wc -l <"$WORK/$name.json")
        valid=$(jq -s '[.[] | select(.valid)] | length' "$WORK/$name.json")
        digits=$(jq -s '[.[].tones | length] | add // 0' "$WORK/$name.dtmf.json")
        spandsp="not available"
        if [[ -x $BIN/cidpeer ]]; then spandsp=$("$BIN/cidpeer" recv-digits "$wav" | grep -c '^digit ' || true); fi
        multimon="not available"
        if command -v multimon-ng >/dev/null; then
            sox -q -D "$wav" -t raw -e signed-integer -b 16 -r 22050 -c 1 "$WORK/peer.raw"
            multimon=$(multimon-ng -q -a DTMF -t raw "$WORK/peer.raw" 2>/dev/null | grep -c '^DTMF: ' || true)
        fi
        printf '| %s | %s | %s | %s | %s | %s | %s | %s |\n' "$name" "$what" "$level" "$messages" "$valid" \
            "$digits" "$spandsp" "$multimon"
        echo "false_messages.sh: $name $level dBFS: $messages messages, $valid valid, $digits digits;" \
            "spandsp $spandsp, multimon-ng $multimon digits" >&2
    done
    printf '<!-- end false_messages.sh -->\n'
} >"$WORK/section.md"
cat "$WORK/section.md"

put_section false_messages.sh "$WORK/section.md" "$REPO/docs/benchmarks.md"
