#!/usr/bin/python3
"""Measures a rendered call sequence against its timing table and what was asked.

Usage: sequence_measure.py SAMPLES.f32 RATE TABLE EXPECT_JSON

SAMPLES.f32 holds the file's samples as raw 32-bit floats (sox converts
them), TABLE is cidgen --describe's output for the same options, and
EXPECT_JSON says what was asked:
  ref            the level a full-scale sine stands for (dBm0)
  levels         row-name prefix -> each tone's level in dBm0
  ring_dbfs      the ringing's peak in dBFS
  burst          {"mark_hz", "seizure_bits", "mark_bits", "dbm0"} of the FSK burst
  first_digit    {"hz": [low, high], "ms", "dbm0"} of the first DTMF digit
  lengths_ms     row-name prefix -> the row's asked length
  spans_ms       [[prefix A, prefix B, ms]]: from A's end to B's start
Every row is checked: silences hold nothing, tones sit where the table puts
them (start and end within one sample, found by where the samples stop
following the tones fitted inside the row), at the asked frequencies
(0.5 Hz) and levels (0.1 dB).
"""
import json
import math
import re
import sys

import numpy as np

TOLERANCE = 1e-4      # a sample that follows a fitted tone, full scale 1.0
EDGE = 80             # samples fitted near each end of a row to find its edges
INSET = 10            # how far inside the row's ends they are fitted
failures = []


def report(ok, text):
    print(("ok: " if ok else "FAILED: ") + text)
    if not ok:
        failures.append(text)


def parse_table(path):
    rows = []
    with open(path, encoding="ascii") as table:
        for line in table.readlines()[1:]:
            parts = line.split(None, 3)
            rows.append({"start_ms": float(parts[1]), "end_ms": float(parts[2]), "what": parts[3].strip()})
    return rows


def dft_magnitude(x, hz, rate):
    n = np.arange(len(x))
    window = np.hanning(len(x))
    return abs(np.sum(window * x * np.exp(-2j * math.pi * hz * n / rate)))


def peak_frequency(x, near_hz, rate):
    """The frequency of the strongest tone near `near_hz` (golden-section search)."""
    half = min(2.0, rate / len(x))
    low, high = near_hz - half, near_hz + half
    ratio = (math.sqrt(5) - 1) / 2
    for _ in range(60):
        a = high - ratio * (high - low)
        b = low + ratio * (high - low)
        if dft_magnitude(x, a, rate) > dft_magnitude(x, b, rate):
            high = b
        else:
            low = a
    return (low + high) / 2


def fit(x, freqs, rate, offset=0):
    """Least-squares cos/sin pairs at `freqs`; returns amplitudes and a model function."""
    n = np.arange(len(x)) + offset
    columns = []
    for f in freqs:
        columns += [np.cos(2 * math.pi * f * n / rate), np.sin(2 * math.pi * f * n / rate)]
    basis = np.array(columns).T
    coef, *_ = np.linalg.lstsq(basis, x, rcond=None)
    amplitudes = [math.hypot(coef[2 * i], coef[2 * i + 1]) for i in range(len(freqs))]

    def model(at):
        at = np.asarray(at, dtype=float)
        out = np.zeros_like(at)
        for i, f in enumerate(freqs):
            out += coef[2 * i] * np.cos(2 * math.pi * f * at / rate) + coef[2 * i + 1] * np.sin(2 * math.pi * f * at / rate)
        return out

    return amplitudes, model


def refine(x, freqs, rate):
    """Each frequency moved to where the least-squares fit of all the tones leaves the least residual."""
    freqs = list(freqs)
    n = np.arange(len(x))

    def residual(i, f):
        trial = freqs[:i] + [f] + freqs[i + 1:]
        _, model = fit(x, trial, rate)
        return float(np.sum((x - model(n)) ** 2))

    ratio = (math.sqrt(5) - 1) / 2
    for i, f in enumerate(freqs):
        half = min(0.5, 0.2 * rate / len(x))
        low, high = f - half, f + half
        for _ in range(50):
            a = high - ratio * (high - low)
            b = low + ratio * (high - low)
            if residual(i, a) < residual(i, b):
                high = b
            else:
                low = a
        freqs[i] = (low + high) / 2
    return freqs


def tone_edges(x, start, end, freqs, rate):
    """Where the samples stop following the row's tones: the tones are fitted a
    little inside each end of the row and followed outwards sample by sample."""
    inset = min(INSET, (end - start) // 4)
    head = min(EDGE, (end - start) // 2)
    _, model = fit(x[start + inset:start + inset + head], freqs, rate, start + inset)
    found_start = start + inset
    for k in range(start + inset, max(start - 4, -1), -1):
        if abs(x[k] - model(k)) >= TOLERANCE:
            break
        found_start = k
    _, model = fit(x[end - inset - head:end - inset], freqs, rate, end - inset - head)
    found_end = end - inset
    for k in range(end - inset - 1, min(end + 4, len(x))):
        if abs(x[k] - model(k)) >= TOLERANCE:
            break
        found_end = k + 1
    return found_start, found_end


def check_tone(x, rate, row, start, end, asked_hz, expect):
    name = row["what"]
    segment = x[start:end]
    freqs = refine(segment, [peak_frequency(segment, f, rate) for f in asked_hz], rate)
    for asked, got in zip(asked_hz, freqs):
        report(abs(got - asked) <= 0.5, f"{name}: {got:.3f} Hz (asked {asked:g})")
    amplitudes, model = fit(segment, freqs, rate, start)
    residual = np.max(np.abs(segment - model(np.arange(start, end))))
    report(residual < 1e-3 * max(amplitudes), f"{name}: the tones fill the row (residual {residual:.2e})")
    if any(name.startswith(p) for p in ("ring", "CAR ring", "first ring", "RP-AS")):
        asked_level = expect["ring_dbfs"]
        levels = [20 * math.log10(a) for a in amplitudes]
        unit = "dBFS peak"
    else:
        prefix = next((p for p in expect.get("levels", {}) if name.startswith(p)), None)
        if prefix is None:
            report(False, f"{name}: no level asked for this row")
            return
        asked_level = expect["levels"][prefix]
        levels = [20 * math.log10(a) + expect["ref"] for a in amplitudes]
        unit = "dBm0"
    for hz, level in zip(asked_hz, levels):
        report(abs(level - asked_level) <= 0.1, f"{name}: {hz:g} Hz at {level:.3f} {unit} (asked {asked_level:g})")
    found_start, found_end = tone_edges(x, start, end, freqs, rate)
    report(abs(found_start - start) <= 1, f"{name}: starts at sample {found_start} (table {start})")
    report(abs(found_end - end) <= 1, f"{name}: ends at sample {found_end} (table {end})")


def check_extent(x, row, start, end):
    """A burst between silences: its first and last sound within one sample of the table."""
    around = np.abs(x[max(start - 50, 0):min(end + 50, len(x))]) > TOLERANCE
    loud = np.nonzero(around)[0] + max(start - 50, 0)
    if len(loud) == 0:
        report(False, f"{row['what']}: nothing sounds")
        return
    report(abs(loud[0] - start) <= 1, f"{row['what']}: sounds from sample {loud[0]} (table {start})")
    report(abs(loud[-1] + 1 - end) <= 1, f"{row['what']}: sounds to sample {loud[-1] + 1} (table {end})")


def check_burst(x, rate, row, start, end, expect):
    check_extent(x, row, start, end)
    burst = expect.get("burst")
    if row["what"].startswith("DTMF"):
        digit = expect["first_digit"]
        length = round(digit["ms"] * rate / 1000)
        check_tone(x, rate, {"what": "first DTMF digit"}, start, start + length, digit["hz"],
                   dict(expect, levels={"first DTMF digit": digit["dbm0"]}))
        return
    if burst is None:
        return
    bit = rate / 1200.0
    mark_from = start + round((burst["seizure_bits"] + 2) * bit)
    mark_to = start + round((burst["seizure_bits"] + burst["mark_bits"] - 2) * bit)
    freqs = refine(x[mark_from:mark_to], [peak_frequency(x[mark_from:mark_to], burst["mark_hz"], rate)], rate)
    report(abs(freqs[0] - burst["mark_hz"]) <= 0.5, f"burst's mark: {freqs[0]:.3f} Hz (asked {burst['mark_hz']})")
    amplitudes, _ = fit(x[mark_from:mark_to], freqs, rate)
    level = 20 * math.log10(amplitudes[0]) + expect["ref"]
    report(abs(level - burst["dbm0"]) <= 0.1, f"burst's mark: {level:.3f} dBm0 (asked {burst['dbm0']})")


def check_reversal(x, rate, row, start):
    tau = round(10.0 * rate / 1000)
    first, later = x[start], x[start + tau]
    report(abs(first - 0.5) < 1e-3 and abs(x[start - 1]) < TOLERANCE,
           f"{row['what']}: steps to {first:.4f} at sample {start}")
    report(abs(later - 0.5 / math.e) < 1e-3, f"{row['what']}: {later:.4f} after 10 ms (0.5/e asked)")


def asked_frequencies(text):
    match = re.search(r"(\d+(?:\.\d+)?)(?:\+(\d+(?:\.\d+)?))? Hz", text)
    if not match:
        return []
    return [float(g) for g in match.groups() if g is not None]


def check_asked_times(rows, rate, expect):
    def samples(ms):
        return round(ms * rate / 1000)

    def row_named(prefix):
        return next((r for r in rows if r["what"].startswith(prefix)), None)

    for prefix, ms in expect.get("lengths_ms", {}).items():
        for r in (r for r in rows if r["what"].startswith(prefix)):
            report(abs(r["end"] - r["start"] - samples(ms)) <= 1,
                   f"{r['what']}: {r['end'] - r['start']} samples long (asked {ms} ms)")
    for first, second, ms in expect.get("spans_ms", []):
        a, b = row_named(first), row_named(second)
        if a is None or b is None:
            report(False, f"no rows '{first}' and '{second}' in the table")
            continue
        report(abs(b["start"] - a["end"] - samples(ms)) <= 1,
               f"from {first} to {second}: {b['start'] - a['end']} samples (asked {ms} ms)")


def main():
    samples_path, rate, table_path, expect = sys.argv[1], int(sys.argv[2]), sys.argv[3], json.loads(sys.argv[4])
    x = np.fromfile(samples_path, dtype="<f4").astype(float)
    rows = parse_table(table_path)
    for r in rows:
        r["start"], r["end"] = round(r["start_ms"] * rate / 1000), round(r["end_ms"] * rate / 1000)
    report(rows[0]["start"] == 0 and rows[-1]["end"] == len(x),
           f"the table covers the file: 0 to {rows[-1]['end']} of {len(x)} samples")
    for before, after in zip(rows, rows[1:]):
        if before["end"] != after["start"]:
            report(False, f"'{before['what']}' ends at {before['end']}, '{after['what']}' starts at {after['start']}")
    check_asked_times(rows, rate, expect)
    for r in rows:
        what, start, end = r["what"], r["start"], r["end"]
        if what.startswith("line reversal"):
            check_reversal(x, rate, r, start)
        elif what.startswith(("FSK burst", "DTMF")):
            check_burst(x, rate, r, start, end, expect)
        elif asked_frequencies(what):
            check_tone(x, rate, r, start, end, asked_frequencies(what), expect)
        else:
            loudest = float(np.max(np.abs(x[start:end])))
            report(loudest < TOLERANCE, f"{what} ({start} to {end}): silent, peak {loudest:.2e}")
    if failures:
        print(f"{len(failures)} check(s) failed", file=sys.stderr)
        sys.exit(1)


if __name__ == "__main__":
    main()
