#!/usr/bin/env python3
# music.py OUT.wav [SECONDS]: music-like test audio, 8000 Hz 16-bit mono. Seeded, so every
# run writes the same file.
#
# A chord every 0.25 to 1.2 s: a bass note (65 to 165 Hz) and two or three notes of a
# triad or seventh chord (196 to 1050 Hz), and over half of the chords a melody of notes of
# 0.12 to 0.4 s (392 to 1570 Hz, with vibrato). Notes are on the equal-tempered scale
# (A = 440 Hz), so some fall within a fraction of a percent of a DTMF frequency. Every note
# is a harmonic tone of one of eight instruments (partials falling off by 1/k to 1/k^2,
# some with weak even partials), with an attack of 5 to 40 ms, a decay to a sustain level
# and a release of 50 to 150 ms. Peaks stay below full scale.
import array
import math
import random
import sys

from wavfile import write_mono16

RATE = 8000
TABLE = 4096  # samples of one period of an instrument's waveform
MASK = TABLE - 1
STEP = 80  # samples between envelope updates


def midi_hz(note):
    return 440.0 * 2.0 ** ((note - 69) / 12.0)


class Instruments:
    """Eight timbres; one period of each note's waveform, made once and kept."""

    def __init__(self, rng):
        self.kinds = []
        for _ in range(8):
            slope = rng.uniform(1.0, 2.0)
            odd_only = rng.random() < 0.3
            jitter = [rng.uniform(0.5, 1.0) for _ in range(64)]
            phases = [rng.uniform(0.0, 2.0 * math.pi) for _ in range(64)]
            self.kinds.append((slope, odd_only, jitter, phases))
        self.tables = {}

    def table(self, kind, note):
        key = (kind, note)
        if key not in self.tables:
            slope, odd_only, jitter, phases = self.kinds[kind]
            f0 = midi_hz(note)
            partials = []
            for k in range(1, min(64, int(3700.0 / f0)) + 1):
                a = (1.0 if k == 1 else jitter[k - 1]) / k ** slope
                if odd_only and k % 2 == 0:
                    a *= 0.2
                partials.append((k, a, phases[k - 1]))
            t = [sum(a * math.sin(2.0 * math.pi * k * i / TABLE + p) for k, a, p in partials) for i in range(TABLE)]
            peak = max(abs(v) for v in t) or 1.0
            self.tables[key] = [v / peak for v in t]
        return self.tables[key]


def add_note(out, at, length, table, f0, level, rng, vibrato):
    """Adds one note of `length` samples at sample `at`, enveloped, into `out`."""
    attack = rng.uniform(0.005, 0.04) * RATE
    decay = rng.uniform(0.05, 0.3) * RATE
    sustain = rng.uniform(0.3, 0.8)
    release = rng.uniform(0.05, 0.15) * RATE
    total = min(int(length + release), len(out) - at)
    phase = rng.uniform(0.0, TABLE)
    base = f0 * TABLE / RATE
    for b in range(0, total, STEP):
        if b < attack:
            env = b / attack
        else:
            env = sustain + (1.0 - sustain) * math.exp(-(b - attack) / decay)
        if b > length:
            env *= max(0.0, 1.0 - (b - length) / release)
        inc = base * (1.0 + (0.006 * math.sin(2.0 * math.pi * 5.5 * b / RATE) if vibrato else 0.0))
        gain = level * env
        for i in range(at + b, at + min(b + STEP, total)):
            out[i] += gain * table[int(phase) & MASK]
            phase += inc


def main():
    if len(sys.argv) < 2:
        sys.exit("usage: music.py OUT.wav [SECONDS]")
    seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 3600
    total = RATE * seconds
    rng = random.Random(23)
    instruments = Instruments(rng)
    out = array.array('d', bytes(8 * total))
    t = 0
    while t < total:
        length = int(RATE * rng.uniform(0.25, 1.2))
        root = rng.randint(55, 72)
        shape = rng.choice([(0, 4, 7), (0, 3, 7), (0, 4, 7, 10), (0, 3, 7, 10), (0, 4, 7, 11)])
        chord = [root + i for i in rng.sample(shape, rng.choice([2, 3]))]
        kind = rng.randrange(8)
        bass = rng.randint(36, 52)
        add_note(out, t, length, instruments.table(rng.randrange(8), bass), midi_hz(bass), 4500.0, rng, False)
        for note in chord:
            add_note(out, t, length, instruments.table(kind, note), midi_hz(note), rng.uniform(2250.0, 4500.0), rng,
                     False)
        if rng.random() < 0.6:
            m = t
            lead = rng.randrange(8)
            while m < t + length:
                step = int(RATE * rng.uniform(0.12, 0.4))
                note = rng.randint(67, 91)
                add_note(out, m, step, instruments.table(lead, note), midi_hz(note), rng.uniform(3000.0, 6000.0),
                         rng, True)
                m += step
        t += length
    pcm = array.array('h', (max(-32768, min(32767, int(round(v)))) for v in out))
    write_mono16(sys.argv[1], RATE, pcm, 'music.py')


if __name__ == '__main__':
    main()
