#!/usr/bin/env bash
# cidscan on a live line: a writer sends a WAV stream in real time through a pipe, and
# each message must come out within half a second of its burst's end (live_pipe.py).
#   live_pipe.sh BIN_DIR us|ntt|us-cw [CIDSCAN OPTION...]
set -euo pipefail
bin=${1:?bin folder}
kind=${2:?us or ntt}
command -v python3 >/dev/null 2>&1 || { echo "SKIPPED: python3 is not installed"; exit 77; }
[[ -x $bin/cidscan && -x $bin/cidforge ]] || { echo "SKIPPED: cidscan or cidforge is not built"; exit 77; }
work=$(mktemp -d "${TMPDIR:-/tmp}/cidscan-live.XXXXXX")
trap 'rm -rf "$work"' EXIT
{
    printf 'SamplingFrequency 8000\nQuantizationBitLength 16\nAmplitude 50\nNoiseAmplitude 0\n'
    printf 'LeaderDuration 500\nHeaderDuration 200\nFooterDuration 20\nDirectoryNumber 0123456789\n'
    if [[ $kind == us ]]; then printf 'DateTime 12251030\n'; fi
} >"$work/data.txt"
flag=()
if [[ $kind == us ]]; then flag=(-USA); fi
if [[ $kind == us-cw ]]; then
    # The call-waiting alert and its acknowledgement before the burst, as cidgen sends them.
    [[ -x $bin/cidgen ]] || { echo "SKIPPED: cidgen is not built"; exit 77; }
    "$bin/cidgen" --sequence us-cw --ack D --number 0123456789 --lead-ms 500 -o "$work/burst.wav" >/dev/null 2>&1
else
    "$bin/cidforge" "$work/data.txt" "$work/burst.wav" "${flag[@]}" >/dev/null 2>&1
fi
python3 "$(dirname "$0")/live_pipe.py" "$bin/cidscan" "$work/burst.wav" "${@:3}"
