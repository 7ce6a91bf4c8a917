#!/usr/bin/env python3
# speech.py OUT.wav [SECONDS] [LEVEL_DBFS] [SEED] [LOW-HIGH]: speech-like test audio, 8000 Hz 16-bit mono,
# made by a source-filter model of a talker. Seeded (default seed 11; another seed gives other
# talkers and phrases), so every run writes the same file. LOW-HIGH (e.g. 160-420) draws all six
# talkers' fundamentals from that range in Hz instead (high-pitched talkers).
#
# Phrases of 1 to 4 s, each by one of several talkers (fundamental 100 to 140 Hz or 180 to
# 250 Hz), separated by pauses of 0.2 to 1.5 s. A phrase is a string of syllables at about
# four to six a second: mostly voiced (glottal flow pulses with a pitch contour that falls
# over the phrase, rises on stressed syllables and jitters slightly), filtered by three
# formant resonators gliding between vowel targets and differentiated as the lips radiate,
# and now and then an unvoiced consonant (noise through a high resonator). Each syllable has a raised-cosine envelope.
# Every phrase is scaled so that its active level (RMS over the phrase) is LEVEL_DBFS
# (default -22 dBFS, RMS against a full-scale square wave; a loud talker) give or take 4 dB;
# peaks are clipped at full scale, which the loudest phrases reach a few times a minute.
import array
import math
import random
import sys

from wavfile import write_mono16

RATE = 8000
FRAME = 80  # samples between parameter updates (10 ms)

# Vowel formant targets (F1, F2, F3 in Hz) of an adult talker.
VOWELS = [
    (730, 1090, 2440), (270, 2290, 3010), (300, 870, 2240), (530, 1840, 2480),
    (660, 1720, 2410), (570, 840, 2410), (440, 1020, 2240), (490, 1350, 1690),
    (640, 1190, 2390), (390, 1990, 2550),
]
BANDWIDTHS = (80.0, 110.0, 160.0)


class Resonator:
    """Two-pole resonator with unit gain at DC, its centre and bandwidth set per frame."""

    def __init__(self):
        self.y1 = 0.0
        self.y2 = 0.0
        self.a1 = 0.0
        self.a2 = 0.0
        self.g = 1.0

    def tune(self, freq, bw):
        r = math.exp(-math.pi * bw / RATE)
        self.a1 = 2.0 * r * math.cos(2.0 * math.pi * freq / RATE)
        self.a2 = -r * r
        self.g = 1.0 - self.a1 - self.a2

    def run(self, block):
        y1, y2, a1, a2, g = self.y1, self.y2, self.a1, self.a2, self.g
        out = []
        append = out.append
        for x in block:
            y = g * x + a1 * y1 + a2 * y2
            y2 = y1
            y1 = y
            append(y)
        self.y1, self.y2 = y1, y2
        return out


def glottal_flow(phase):
    """Glottal air flow over one period (phase 0..1): a slow opening over 40 %, a faster
    closing over 16 %, closed for the rest."""
    if phase < 0.4:
        return 0.5 * (1.0 - math.cos(math.pi * phase / 0.4))
    if phase < 0.56:
        return math.cos(0.5 * math.pi * (phase - 0.4) / 0.16)
    return 0.0


def phrase(rng, talker_f0, length):
    """One phrase of LENGTH samples, not yet scaled."""
    res = [Resonator(), Resonator(), Resonator()]
    fric = Resonator()
    out = []
    # Syllable plan: (start, length, voiced, stressed, vowel).
    syllables = []
    t = 0
    while t < length:
        n = int(RATE * rng.uniform(0.15, 0.28))
        syllables.append((t, min(n, length - t), rng.random() < 0.85, rng.random() < 0.3, rng.choice(VOWELS)))
        t += n
    glottal_phase = rng.random()
    prev = 0.0
    formants = list(syllables[0][4])
    for start, n, voiced, stressed, vowel in syllables:
        # An unvoiced consonant of 30 to 80 ms opens a quarter of the syllables.
        consonant = int(RATE * rng.uniform(0.03, 0.08)) if rng.random() < 0.25 else 0
        fric.tune(rng.uniform(2500.0, 3600.0), 600.0)
        for f0 in range(0, n, FRAME):
            m = min(FRAME, n - f0)
            pos = (start + f0) / length  # place in the phrase, for the falling contour
            u = f0 / n  # place in the syllable
            env = math.sin(math.pi * min(1.0, u * 1.15)) ** 0.7
            pitch = talker_f0 * (1.15 - 0.3 * pos) * (1.0 + (0.12 * math.sin(math.pi * u) if stressed else 0.0))
            pitch *= 1.0 + rng.gauss(0.0, 0.01)
            for k in range(3):  # glide towards the syllable's vowel
                formants[k] += 0.25 * (vowel[k] - formants[k])
                res[k].tune(formants[k], BANDWIDTHS[k])
            block = [0.0] * m
            if voiced and f0 >= consonant:
                step = pitch / RATE
                for i in range(m):
                    glottal_phase += step
                    if glottal_phase >= 1.0:
                        glottal_phase -= 1.0
                        # A new period: its amplitude follows the syllable.
                    block[i] = env * glottal_flow(glottal_phase)
            # Formants, then lip radiation (a first difference).
            for r in res:
                block = r.run(block)
            shaped = []
            for x in block:
                shaped.append(x - prev)
                prev = x
            if f0 < consonant:
                noise = [rng.gauss(0.0, 0.02) for _ in range(m)]
                shaped = [b + c for b, c in zip(shaped, fric.run(noise))]
            out.extend(shaped)
    return out


def main():
    if len(sys.argv) < 2:
        sys.exit("usage: speech.py OUT.wav [SECONDS] [LEVEL_DBFS] [SEED] [LOW-HIGH]")
    seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 3600
    level = float(sys.argv[3]) if len(sys.argv) > 3 else -22.0
    total = RATE * seconds
    seed = int(sys.argv[4]) if len(sys.argv) > 4 else 11
    rng = random.Random(seed)
    if len(sys.argv) > 5:
        low, high = (float(v) for v in sys.argv[5].split('-'))
        talkers = [rng.uniform(low, high) for _ in range(6)]
    else:
        talkers = [rng.uniform(100.0, 140.0) for _ in range(3)] + [rng.uniform(180.0, 250.0) for _ in range(3)]
    pcm = array.array('h')
    while len(pcm) < total:
        pause = int(RATE * rng.uniform(0.2, 1.5))
        pcm.extend([0] * min(pause, total - len(pcm)))
        if len(pcm) >= total:
            break
        x = phrase(rng, rng.choice(talkers), int(RATE * rng.uniform(1.0, 4.0)))
        rms = math.sqrt(sum(v * v for v in x) / len(x)) or 1.0
        gain = 32768.0 * 10.0 ** ((level + rng.uniform(-4.0, 4.0)) / 20.0) / rms
        for v in x[: total - len(pcm)]:
            pcm.append(max(-32768, min(32767, int(round(v * gain)))))
    write_mono16(sys.argv[1], RATE, pcm, 'speech.py')


if __name__ == '__main__':
    main()
