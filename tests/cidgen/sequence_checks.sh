#!/usr/bin/env bash
# cidgen's call sequences measured by code that is not ours: each preset is
# rendered (float samples, read back through sox) and sequence_measure.py
# (numpy) checks every row of --describe's table against the samples: each
# tone starts and ends within one sample of the table, at the frequencies
# (0.5 Hz) and levels (0.1 dB) asked for; silences hold nothing; the asked
# lengths and spans hold to the sample, at 8000 Hz and at other rates.
# Usage: sequence_checks.sh BIN_DIR
set -euo pipefail

BIN=${1:?bin folder}
HERE=$(cd "$(dirname "$0")" && pwd)
command -v sox >/dev/null || { echo "SKIPPED: sox is not installed"; exit 77; }
[[ -x $BIN/cidgen ]] || { echo "SKIPPED: cidgen is not built"; exit 77; }
PYTHON=""
for candidate in python3 /usr/bin/python3; do
    if command -v "$candidate" >/dev/null && "$candidate" -c 'import numpy' 2>/dev/null; then
        PYTHON=$candidate
        break
    fi
done
[[ -n $PYTHON ]] || { echo "SKIPPED: python3 with numpy is not installed"; exit 77; }
WORK=$(mktemp -d "${TMPDIR:-/tmp}/cidgen-sequence.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
failures=0

# check NAME RATE EXPECT_JSON CIDGEN_ARGS...
check() {
    local name=$1 rate=$2 expect=$3
    shift 3
    local args=(--date 03-14 --time 15:09 --number 5551234 --rate "$rate" "$@")
    echo "== $name: cidgen ${args[*]}"
    if ! "$BIN/cidgen" "${args[@]}" --encoding float -o "$WORK/$name.wav" ||
        ! "$BIN/cidgen" "${args[@]}" --describe >"$WORK/$name.table"; then
        echo "FAILED: $name: cidgen refused" >&2
        failures=$((failures + 1))
        return
    fi
    sox -V1 "$WORK/$name.wav" -t f32 "$WORK/$name.f32"
    "$PYTHON" "$HERE/sequence_measure.py" "$WORK/$name.f32" "$rate" "$WORK/$name.table" "$expect" ||
        failures=$((failures + 1))
}

check us-onhook 8000 '{"ref": 3.14, "ring_dbfs": -6,
    "burst": {"mark_hz": 1200, "seizure_bits": 300, "mark_bits": 180, "dbm0": -20},
    "lengths_ms": {"first ring": 1800, "ring (": 1800},
    "spans_ms": [["first ring", "FSK burst", 600], ["first ring", "ring (", 3500]]}' \
    --sequence us-onhook --ring-cadence 1800,3500 --ring-level -6 --gap-ms 600 --level -20

check us-cw-ack 8000 '{"ref": 3.14, "levels": {"SAS": -16, "CAS": -15, "acknowledgement": -10},
    "burst": {"mark_hz": 1200, "seizure_bits": 0, "mark_bits": 80, "dbm0": -13.5},
    "lengths_ms": {"SAS": 250, "CAS": 82, "acknowledgement": 70},
    "spans_ms": [["SAS", "CAS", 0], ["CAS", "acknowledgement", 40], ["CAS", "FSK burst", 300]]}' \
    --sequence us-cw --sas-ms 250 --sas-level -16 --ack D --ack-delay-ms 40 --ack-ms 70 --alert-ms 82 --gap-ms 300

check us-cw 11025 '{"ref": 3.14, "levels": {"SAS": -13, "CAS": -15},
    "burst": {"mark_hz": 1200, "seizure_bits": 0, "mark_bits": 80, "dbm0": -13.5},
    "lengths_ms": {"SAS": 300, "CAS": 80}, "spans_ms": [["CAS", "FSK burst", 250]]}' \
    --sequence us-cw

check etsi-dtas 16000 '{"ref": 3.14, "ring_dbfs": -3, "levels": {"DT-AS": -18},
    "burst": {"mark_hz": 1300, "seizure_bits": 300, "mark_bits": 180, "dbm0": -18},
    "lengths_ms": {"line reversal": 150, "DT-AS": 100, "ring (": 1000},
    "spans_ms": [["DT-AS", "FSK burst", 100], ["FSK burst", "ring (", 300]]}' \
    --sequence etsi-dtas --level -18

check etsi-rpas 8000 '{"ref": 3.14, "ring_dbfs": -1,
    "burst": {"mark_hz": 1300, "seizure_bits": 300, "mark_bits": 180, "dbm0": -13.5},
    "lengths_ms": {"RP-AS": 220, "ring (": 1000},
    "spans_ms": [["RP-AS", "FSK burst", 800], ["FSK burst", "ring (", 300]]}' \
    --sequence etsi-rpas --alert-ms 220 --ring-level -1

check etsi-ring 8000 '{"ref": 3.14, "ring_dbfs": -3,
    "burst": {"mark_hz": 1300, "seizure_bits": 300, "mark_bits": 180, "dbm0": -13.5},
    "lengths_ms": {"first ring": 1000, "ring (": 1000},
    "spans_ms": [["first ring", "FSK burst", 800], ["first ring", "ring (", 4000]]}' \
    --sequence etsi-ring

check bt 22050 '{"ref": 0, "ring_dbfs": -3, "levels": {"DT-AS": -13.5},
    "burst": {"mark_hz": 1300, "seizure_bits": 300, "mark_bits": 80, "dbm0": -13.5},
    "lengths_ms": {"line reversal": 120, "DT-AS": 95, "ring (": 400, "ring pause": 200},
    "spans_ms": [["DT-AS", "FSK burst", 50], ["FSK burst", "ring (", 400]]}' \
    --sequence bt --reversal-ms 120 --alert-ms 95 --gap-ms 50 --ring-after-ms 400 --ref-dbm0 0

check ntt 8000 '{"ref": 3.14, "ring_dbfs": -3,
    "burst": {"mark_hz": 1300, "seizure_bits": 0, "mark_bits": 240, "dbm0": -13.5},
    "lengths_ms": {"CAR ring": 500, "CAR pause": 500, "ring (": 1000},
    "spans_ms": [["FSK burst", "ring (", 500]]}' \
    --sequence ntt --alert-ms 2500

check dtmf 8000 '{"ref": 3.14, "ring_dbfs": -3,
    "first_digit": {"hz": [697, 1633], "ms": 80, "dbm0": -12},
    "lengths_ms": {"line reversal": 250, "ring (": 1000}, "spans_ms": [["DTMF", "ring (", 300]]}' \
    --sequence dtmf --gap-ms 250 --digit-ms 80 --digit-gap-ms 60 --level -12

((failures == 0)) || { echo "$failures sequence(s) failed" >&2; exit 1; }
echo "every sequence measured as asked"
