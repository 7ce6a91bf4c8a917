#!/usr/bin/env bash
# Runs every program under valgrind on good and hostile input: recordings with
# and without bursts, broken headers, a placeholder data size, unusable paths,
# full devices and malformed data and settings files. Each run must give its
# usual exit status and valgrind must report no error and no leak.
# Usage: tests/malformed/valgrind.sh BIN_DIR   (a build's bin folder, not a sanitizer build)
set -euo pipefail

bin="$(cd "${1:?usage: tests/malformed/valgrind.sh BIN_DIR}" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
files="$here/files"
examples="$root/examples"

command -v valgrind >/dev/null || { echo "valgrind is not installed" >&2; exit 1; }
for prog in wavpeek cidprobe cidprobe-ntt cidforge padtoner; do
    [[ -x "$bin/$prog" ]] || { echo "not built: $bin/$prog" >&2; exit 1; }
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# A distinct status for valgrind's findings: the programs' own failures are 1.
vg_status=99
vg=(valgrind -q --error-exitcode=$vg_status --suppressions="$here/valgrind.supp" --leak-check=full --show-leak-kinds=definite,indirect,possible
    --errors-for-leak-kinds=definite,indirect,possible --track-fds=no)

runs=0
failures=0
# check EXPECTED_STATUS PROGRAM ARGS... (standard input from /dev/null)
check() {
    local expected=$1 prog=$2
    shift 2
    local log="$work/valgrind-$runs.log" status=0
    runs=$((runs + 1))
    "${vg[@]}" --log-file="$log" "$bin/$prog" "$@" </dev/null >"$work/out" 2>"$work/err" || status=$?
    if [[ $status -eq $vg_status ]] || [[ -s $log ]]; then
        echo "FAIL (valgrind): $prog $*"
        cat "$log"
        failures=$((failures + 1))
    elif [[ $status -ne $expected ]]; then
        echo "FAIL (status $status, expected $expected): $prog $*"
        cat "$work/out" "$work/err"
        failures=$((failures + 1))
    else
        echo "ok   $prog $*"
    fi
}

# ---- inputs, made by the programs themselves (outside valgrind) ------------

cat >"$work/us.txt" <<'EOF'
SamplingFrequency 8000
QuantizationBitLength 16
Amplitude 50
NoiseAmplitude 5
LeaderDuration 100
HeaderDuration 100
FooterDuration 20
DateTime 12251030
DirectoryNumber 0123456789
EOF
"$bin/cidforge" "$work/us.txt" "$work/us.wav" -USA >/dev/null
"$bin/cidforge" "$examples/fskntt.txt" "$work/ntt.wav" >/dev/null

# A burst cut in the middle, with the 0xFFFFFFFF size of a streaming recorder.
cut_open() {
    # head ends the pipe, not its reader: tail cut short by head's exit would
    # die of SIGPIPE now and then, and pipefail would end the script.
    { head -c 40 "$1"; printf '\xff\xff\xff\xff'; head -c 5644 "$1" | tail -c +45; } >"$2"
}
cut_open "$work/us.wav" "$work/us-open.wav"
cut_open "$work/ntt.wav" "$work/ntt-open.wav"
head -c 30 "$work/us.wav" >"$work/cut-header.wav"
: >"$work/empty.wav"
mkdir "$work/folder"
{ printf 'DirectoryNumber '; head -c 10000 /dev/zero | tr '\0' 7; printf '\n'; } >"$work/long-number.txt"
printf 'Sensitivity 60\nJapaneseCode 1\n' >"$work/euc.ini"

# ---- the runs ---------------------------------------------------------------

check 1 cidforge
check 0 cidforge "$examples/fskntt.txt" "$work/a.wav"
check 0 cidforge "$examples/fskntt.txt" "$work/a.wav" -EUC
check 0 cidforge "$examples/fskusa.txt" "$work/a.wav" -USA
check 0 cidforge "$files/cidforge-bad-sjis.txt" "$work/a.wav"
check 0 cidforge "$files/cidforge-nul.txt" "$work/a.wav"
check 1 cidforge "$work/long-number.txt" "$work/a.wav"
check 1 cidforge "$files/cidforge-huge-duration.txt" "$work/a.wav" -USA
check 1 cidforge "$examples/fskusa.txt" /dev/full -USA
check 1 cidforge "$examples/fskusa.txt" "$work/missing/a.wav" -USA
check 1 cidforge "$work/folder" "$work/a.wav"

check 1 padtoner
check 0 padtoner "$examples/dtmf.txt" "$work/d.wav"
check 0 padtoner "$files/padtoner-nul.txt" "$work/d.wav"
check 0 padtoner "$files/padtoner-huge-levels.txt" "$work/d.wav"
check 1 padtoner "$files/padtoner-negative-duration.txt" "$work/d.wav"
check 1 padtoner "$files/padtoner-huge-duration.txt" "$work/d.wav"
check 255 padtoner "$examples/dtmf.txt" /dev/full
check 1 padtoner "$examples/dtmf.txt" "$work/missing/d.wav"
check 1 padtoner "$work/folder" "$work/d.wav"

check 1 wavpeek
check 0 wavpeek "$work/us.wav"
check 0 wavpeek "$work/d.wav"
check 0 wavpeek "$work/us-open.wav"
check 1 wavpeek "$work/cut-header.wav"
check 1 wavpeek "$work/empty.wav"
check 1 wavpeek "$work/folder"

check 1 cidprobe
check 0 cidprobe "$work/us.wav" "$work/r.txt"
check 0 cidprobe "$work/us-open.wav" "$work/r.txt"
check 0 cidprobe "$work/d.wav" "$work/r.txt" "$files/settings-nul.ini"
check 1 cidprobe "$work/us.wav" "$work/r.txt" "$files/settings-huge.ini"
check 1 cidprobe "$work/cut-header.wav" "$work/r.txt"
check 1 cidprobe "$work/folder" "$work/r.txt"
check 1 cidprobe "$work/us.wav" /dev/full
check 1 cidprobe "$work/us.wav" "$work/missing/r.txt"

check 1 cidprobe-ntt
check 0 cidprobe-ntt "$work/ntt.wav" "$work/r.txt"
check 0 cidprobe-ntt "$work/ntt.wav" "$work/r.txt" "$work/euc.ini"
check 0 cidprobe-ntt "$work/ntt-open.wav" "$work/r.txt"
check 1 cidprobe-ntt "$work/empty.wav" "$work/r.txt"
check 1 cidprobe-ntt "$work/ntt.wav" /dev/full
check 1 cidprobe-ntt "$work/ntt.wav" "$work/folder"

if [[ -x "$bin/cidscan" ]]; then
    check 0 cidscan --json "$work/us.wav" "$work/ntt.wav" "$work/d.wav"
    check 0 cidscan -j 2 "$work/us-open.wav" "$work/ntt-open.wav" "$work/us.wav"
    check 0 cidscan --once "$work/ntt.wav" "$work/us.wav"
    check 0 cidscan --raw mulaw --rate 8000 "$work/us.wav"
    check 1 cidscan "$work/cut-header.wav" "$work/us.wav"
    check 1 cidscan "$work/empty.wav" "$work/folder" "$work/missing.wav"
    check 1 cidscan --channel 2 "$work/us.wav"
    check 2 cidscan --standard eu "$work/us.wav"
fi

if [[ -x "$bin/cidgen" && -x "$bin/cidscan" ]]; then
    check 0 cidgen --sequence us-cw --ack D --number 2125551234 --name "DOE JOHN" -o "$work/cw.wav"
    check 0 cidgen --sequence etsi-dtas --standard etsi --number 0123456789 --snr 20 --seed 1 -o "$work/etsi.flac"
    check 1 cidgen --sequence bt --ack D -o "$work/x.wav"
    check 0 cidgen --plan negative "$work/plan"
    check 0 cidscan --measure --json "$work/cw.wav" "$work/etsi.flac" "$work/d.wav"
    check 0 cidscan --check gr30 --report "$work/r.html" "$work/cw.wav"
    check 1 cidscan --report "$work/missing/r.html" "$work/cw.wav"
    check 0 cidscan --expect "$work/plan/manifest.jsonl" "$work"/plan/*.wav
fi

echo "$runs runs under valgrind, $failures failed"
[[ $failures -eq 0 ]]
