#!/usr/bin/env python3
# chords.py OUT.wav [SECONDS]: music-like test audio with no DTMF in it: chords of three or four
# equal-tempered notes from 110 Hz up, none within 4% of a DTMF frequency, a new chord every
# 100 to 300 ms, 8000 Hz 16-bit mono. Seeded, so every run writes the same file.
import math, random, sys, array

from wavfile import write_mono16
rate=8000; total=rate*(int(sys.argv[2]) if len(sys.argv) > 2 else 3600)
random.seed(5)
scale=[110*2**(k/12) for k in range(0,48)]  # 110 Hz .. ~1.7 kHz, equal temperament
dtmf=[697,770,852,941,1209,1336,1477,1633]
out=array.array('h')
n=0
while n<total:
    dur=int(rate*random.uniform(0.1,0.3))
    notes=random.sample([f for f in scale if all(abs(f-d)/d>0.04 for d in dtmf)], random.choice([3,4]))
    amps=[random.uniform(1500,4000) for _ in notes]
    ph=[random.uniform(0,6.28) for _ in notes]
    w=[2*math.pi*f/rate for f in notes]
    for i in range(min(dur,total-n)):
        s=0.0
        for k in range(len(notes)): s+=amps[k]*math.sin(ph[k]+w[k]*i)
        out.append(max(-32768,min(32767,int(s))))
    n+=dur
write_mono16(sys.argv[1], rate, out, 'chords.py')
