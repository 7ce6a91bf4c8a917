#!/usr/bin/env bash
# measure_accuracy.sh CIDSCAN [BURSTS]: how close cidscan --measure comes to bursts of known
# parameters. bench/tools/burstgen.py writes each burst (FSK: Bell 202 SDMF or V.23 ETSI, tones,
# levels, twist, bit rate, seizure, mark and stop bits all set at random; DTMF: eight digits with
# set tones, levels, durations and gaps) as float samples; sox turns them into WAV files at 8000 to
# 48000 Hz, 8-bit unsigned, 16-bit and 32-bit float, without dither. Every burst is measured clean
# and with white noise 20 dB under the tones. Prints, per condition, the largest error of every
# measurement (and how many bursts were measured), as Markdown table rows; and a level
# cross-check of the generator against sox stats.
# With CIDPEER set (tests/interop/cidpeer, built with spandsp), spandsp's own transmitters'
# bursts are measured too, and their mark level set against sox stats over the mark.
set -euo pipefail
cidscan=${1:?usage: measure_accuracy.sh CIDSCAN [BURSTS]}
bursts=${2:-4}
here=$(cd "$(dirname "$0")" && pwd)
gen=$here/tools/burstgen.py
work=$(mktemp -d /tmp/measure.XXXXXX)
[[ -n ${KEEP:-} ]] || trap 'rm -rf "$work"' EXIT

# The generator's level against sox stats: a -10 dBFS sine has an RMS level of -13.01 dB.
for rate in 8000 48000; do
    python3 "$gen" tone "$work/tone.f32" "$rate" 12000 >/dev/null
    rms=$(sox -t raw -e floating-point -b 32 -r "$rate" -c 1 "$work/tone.f32" -n stats 2>&1 |
          awk '/RMS lev dB/ {print $4}')
    echo "level check: 1200 Hz sine at -10 dBFS, $rate Hz: sox stats RMS level $rms dB (expected -13.01)"
done

if [[ -n ${CIDPEER:-} ]]; then
    "$CIDPEER" send-mdmf "$work/s1.wav" seizure "02=5551234567" "07=JOHN DOE"
    "$CIDPEER" send-clip "$work/s2.wav" 12251030 0123456789 JOHN
    "$CIDPEER" send-jp "$work/s3.wav" 0312345678
    for f in s1 s2 s3; do
        m=$("$cidscan" --measure --json "$work/$f.wav" | head -n 1 | jq -c '.measure')
        from=$(jq -r '.mark_start_s + 0.005' <<<"$m")
        length=$(jq -r '.message_start_s - .mark_start_s - 0.01' <<<"$m")
        rms=$(sox "$work/$f.wav" -n trim "$from" "$length" stats 2>&1 | awk '/RMS lev dB/ {print $4}')
        echo "spandsp $f: $(jq -c '{standard: "", mark_hz, space_hz, mark_dbm0, space_dbm0, twist_db, bit_rate, seizure_bits, mark_bits, stop_bits_min, stop_bits_max}' <<<"$m" | sed 's/"standard":"",//')"
        echo "spandsp $f: mark level $(jq -r .mark_dbfs <<<"$m") dBFS; sox stats over the mark: RMS $rms dB, a sine of $(awk -v r="$rms" 'BEGIN {printf "%.2f", r + 3.0103}') dBFS"
    done
fi

results=$work/results.jsonl
: >"$results"
seed=0
# RATES, FORMATS and KINDS narrow the run (default: all of them).
for rate in ${RATES:-8000 11025 16000 22050 44100 48000}; do
    for format in ${FORMATS:-u8 s16 f32}; do
        case $format in
            u8) bits=(-e unsigned-integer -b 8) ;;
            s16) bits=(-e signed-integer -b 16) ;;
            f32) bits=(-e floating-point -b 32) ;;
        esac
        for snr in clean 20; do
            for ((k = 0; k < bursts; ++k)); do
                for kind in ${KINDS:-fsk dtmf alert ring}; do
                    seed=$((seed + 1))
                    noise=()
                    [[ $snr == clean ]] || noise=("$snr")
                    truth=$(python3 "$gen" "$kind" "$work/b.f32" "$rate" "$seed" "${noise[@]}")
                    sox -D -t raw -e floating-point -b 32 -r "$rate" -c 1 "$work/b.f32" "${bits[@]}" "$work/b.wav"
                    standard=all
                    [[ $kind == dtmf ]] && standard=dtmf
                    if [[ $kind == alert || $kind == ring ]]; then
                        # Line signals: every record, as one array.
                        got=$("$cidscan" --measure --json "$work/b.wav" | jq -c -s '.')
                    else
                        got=$("$cidscan" --measure --json --standard "$standard" "$work/b.wav" | head -n 1)
                    fi
                    printf '{"format":"%s","truth":%s,"got":%s}\n' "$format" "$truth" "${got:-null}" >>"$results"
                done
            done
        done
    done
done

python3 - "$results" <<'PY'
import json, sys
rows = {}
def worst(key, cond, name, err):
    d = rows.setdefault((key, cond), {})
    d[name] = max(d.get(name, 0.0), abs(err))
counts = {}
# A noisy digit's level errors over the Cramer-Rao bound: the least standard
# deviation any unbiased estimate of a tone's amplitude can have from that
# many samples in that white noise, 1 / sqrt(samples x the tone's SNR), in dB.
bounded = []
twists = []  # the same for twist, whose bound is both tones' together
bounds = []  # each noisy tone's bound in dB
def level_bound(digit, field, t):
    noise = t['tone_power'] / 10 ** (t['snr'] / 10)
    power = (10 ** (digit[field] / 20)) ** 2 / 2
    samples = digit['duration_ms'] / 1000 * t['rate']
    return 20 / __import__('math').log(10) / __import__('math').sqrt(samples * power / noise)
def signals(key, cond, t, records, n):
    # The first signal record; an alert's kind must be the truth's (a CAS
    # with its ack), ringing's the first of two rings with its off time.
    found = [r for r in records if 'signal' in r]
    want = t['signal'] if key == 'alert' else 'ring'
    if not found or found[0]['signal'] != want:
        return
    if key == 'alert' and want == 'cas' and [r['signal'] for r in found[:2]] != ['cas', 'ack']:
        return
    n[1] += 1
    r, m = found[0], found[0]['measure']
    if key == 'alert':
        for f in ('low_hz', 'high_hz'):
            worst(key, cond, 'frequency (Hz)', m[f] - t[f])
        for f in ('low_dbfs', 'high_dbfs'):
            worst(key, cond, 'level (dB)', m[f] - t[f])
        worst(key, cond, 'twist (dB)', m['twist_db'] - t['twist_db'])
    else:
        worst(key, cond, 'frequency (Hz)', m['ring_hz'] - t['ring_hz'])
        worst(key, cond, 'level (dB)', m['ring_dbfs'] - t['ring_dbfs'])
        worst(key, cond, 'times (ms)', m.get('off_ms', 1e9) - t['off_ms'])
    worst(key, cond, 'times (ms)', 1000 * (r['start_s'] - t['start_s']))
    worst(key, cond, 'times (ms)', 1000 * (r['end_s'] - t['end_s']))
for line in open(sys.argv[1]):
    r = json.loads(line)
    t, g = r['truth'], r['got']
    cond = ('clean' if t['snr'] is None else '%g dB SNR' % t['snr']) + ', ' + r['format']
    key = t['kind']
    n = counts.setdefault((key, cond), [0, 0])
    n[0] += 1
    if key in ('alert', 'ring'):
        signals(key, cond, t, g or [], n)
        continue
    if not g or not g.get('measure'):
        continue
    m = g['measure']
    if key == 'fsk':
        if g['standard'] != t['standard']:
            continue
        n[1] += 1
        for f in ('mark_hz', 'space_hz'):
            worst(key, cond, 'frequency (Hz)', m[f] - t[f])
        for f in ('mark_dbfs', 'space_dbfs'):
            worst(key, cond, 'level (dB)', m[f] - t[f])
        worst(key, cond, 'twist (dB)', m['twist_db'] - t['twist_db'])
        worst(key, cond, 'bit rate (%)', 100 * (m['bit_rate'] - t['bit_rate']) / t['bit_rate'])
        for f in ('seizure_bits', 'mark_bits', 'stop_bits_min', 'stop_bits_max'):
            worst(key, cond, 'bit counts', m[f] - t[f])
        for f in ('seizure_start_s', 'mark_start_s', 'message_start_s', 'end_s'):
            if t[f] is not None and m[f] is not None:
                worst(key, cond, 'times (ms)', 1000 * (m[f] - t[f]))
            elif t[f] != m[f]:
                worst(key, cond, 'times (ms)', 1e9)
        if t['snr'] is not None:
            band = abs(t['space_hz'] - t['mark_hz']) + 1200
            expected = t['snr'] + 10 * __import__('math').log10(t['rate'] / 2 / band)
            worst(key, cond, 'SNR (dB)', m['snr_db'] - expected)
    else:
        digits = m['digits']
        if [d['digit'] for d in digits] != [d['digit'] for d in t['digits']]:
            continue
        n[1] += 1
        for d, e in zip(digits, t['digits']):
            for f in ('low_hz', 'high_hz'):
                worst(key, cond, 'frequency (Hz)', d[f] - e[f])
            for f in ('low_dbfs', 'high_dbfs'):
                worst(key, cond, 'level (dB)', d[f] - e[f])
                if t['snr'] is not None:
                    bounded.append((d[f] - e[f]) / level_bound(e, f, t))
                    bounds.append(level_bound(e, f, t))
            worst(key, cond, 'twist (dB)', d['twist_db'] - e['twist_db'])
            if t['snr'] is not None:
                both = (level_bound(e, 'low_dbfs', t) ** 2 + level_bound(e, 'high_dbfs', t) ** 2) ** 0.5
                twists.append((d['twist_db'] - e['twist_db']) / both)
            worst(key, cond, 'times (ms)', d['duration_ms'] - e['duration_ms'])
            worst(key, cond, 'times (ms)', 1000 * d['start_s'] - 1000 * e['start_s'])
            if e['gap_ms'] is not None:
                worst(key, cond, 'times (ms)', d['gap_ms'] - e['gap_ms'])
names = ['frequency (Hz)', 'level (dB)', 'twist (dB)', 'bit rate (%)', 'bit counts', 'times (ms)', 'SNR (dB)']
print('| signal | condition | measured | ' + ' | '.join(names) + ' |')
print('|---|---|---:|' + '---:|' * len(names))
for (key, cond), d in sorted(rows.items()):
    n = counts[(key, cond)]
    cells = ['%.3g' % d[x] if x in d else '-' for x in names]
    print('| %s | %s | %d / %d | %s |' % (key, cond, n[1], n[0], ' | '.join(cells)))
for (key, cond), n in sorted(counts.items()):
    if (key, cond) not in rows:
        print('| %s | %s | %d / %d |' % (key, cond, n[1], n[0]) + ' - |' * len(names))
for what, zs in (('levels', bounded), ('twist', twists)):
    if zs:
        rms = (sum(z * z for z in zs) / len(zs)) ** 0.5
        print('\nDTMF %s in noise, %d values: RMS error %.2f times the Cramer-Rao bound, mean error %.2f times it'
              % (what, len(zs), rms, sum(zs) / len(zs)))
if bounds:
    # What the largest level error would be for an estimator at the bound:
    # Gaussian errors of each tone's bound, over 1000 sets of these tones.
    import random
    draw = random.Random(1)
    largest = sorted(max(abs(draw.gauss(0, b)) for b in bounds) for _ in range(1000))
    print('An estimator at the bound: largest level error %.3f dB (median of 1000 sets), 5-95 %%: %.3f-%.3f dB'
          % (largest[500], largest[50], largest[950]))
PY
