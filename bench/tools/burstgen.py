#!/usr/bin/env python3
# burstgen.py fsk|dtmf|alert|ring|tone OUT.f32 RATE SEED [SNR_DB]: a test signal with known parameters,
# written as raw 32-bit float samples (full scale 1.0), its truth as one JSON line on standard
# output. Written apart from the project's generators and receivers, so that its bursts are an
# independent truth for the measurement benchmark (bench/measure_accuracy.sh).
#   fsk   a continuous-phase FSK caller-ID burst: Bell 202 SDMF or V.23 ETSI call set-up (chosen
#         by the seed), its tones off nominal by up to 10 Hz, levels -30..-6 dBFS with up to
#         +-6 dB of twist, bit rate off by up to 1 %, no channel seizure or an even one of 30..300 bits,
#         60..200 mark bits, 1..3 stop bits between bytes, 0..10 mark bits after the message
#   dtmf  eight DTMF digits, each tone off nominal by up to 1.5 %, low tones within 2 dB of a
#         level of -23..-11 dBFS, up to +-4 dB of twist, durations and gaps 40..100 ms
#   alert the 2130 + 2750 Hz alert tone, with a DTMF D acknowledgement after it half the time
#   ring  two rings of clipped low-frequency ringing with their cadence
#   tone  one second of a sine (RATE's tenth of the seed's value in Hz) at -10 dBFS, for a level
#         cross-check against sox stats
# SNR_DB adds white Gaussian noise from 0 Hz to half the rate, SNR_DB under the mean tone power.
import array, json, math, random, sys

kind, out, rate, seed = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
snr = float(sys.argv[5]) if len(sys.argv) > 5 else None
rnd = random.Random(seed)
x = array.array('f')

def db(v): return 10 ** (v / 20)

def silence(seconds):
    x.extend([0.0] * int(round(seconds * rate)))

def fsk():
    us = rnd.random() < 0.5
    mark_hz = (1200 if us else 1300) + rnd.uniform(-10, 10)
    space_hz = (2200 if us else 2100) + rnd.uniform(-10, 10)
    mark_db = rnd.uniform(-30, -6)
    twist = rnd.uniform(-6, 6)
    space_db = mark_db - twist
    baud = 1200 * (1 + rnd.uniform(-0.01, 0.01))
    seizure = 2 * rnd.randint(15, 150) if rnd.random() < 0.7 else 0
    mark = rnd.randint(60, 200)
    trailing = rnd.randint(0, 10)
    number = ''.join(rnd.choice('0123456789') for _ in range(10))
    if us:
        body = [0x04, 18] + list(b'1225' + b'1030') + list(number.encode())
    else:
        params = [0x01, 8] + list(b'12251030') + [0x02, len(number)] + list(number.encode())
        body = [0x80, len(params)] + params
    body.append((-sum(body)) & 0xFF)
    bits = [i % 2 for i in range(seizure)] + [1] * mark
    stops = []
    for k, byte in enumerate(body):
        stop = 1 if k == len(body) - 1 else rnd.randint(1, 3)
        if k < len(body) - 1: stops.append(stop)
        bits += [0] + [(byte >> b) & 1 for b in range(8)] + [1] * stop
    bits += [1] * trailing
    lead = rnd.uniform(0.1, 0.5)
    silence(lead)
    start = len(x)
    phase = rnd.uniform(0, 2 * math.pi)
    per_bit = rate / baud
    n = int(math.ceil(len(bits) * per_bit))
    # The tone of the bit each sample lies in; the phase runs on across bits.
    for i in range(n):
        b = bits[min(int(i / per_bit), len(bits) - 1)]
        f, a = (mark_hz, db(mark_db)) if b else (space_hz, db(space_db))
        x.append(a * math.cos(phase))
        phase = (phase + 2 * math.pi * f / rate) % (2 * math.pi)
    silence(0.3)
    first = start / rate
    t = 1 / baud
    truth = {
        'kind': 'fsk', 'standard': 'bell202' if us else 'v23-etsi', 'rate': rate,
        'mark_hz': mark_hz, 'space_hz': space_hz, 'mark_dbfs': mark_db, 'space_dbfs': space_db,
        'twist_db': twist, 'bit_rate': baud, 'seizure_bits': seizure, 'mark_bits': mark,
        'stop_bits_min': min(stops), 'stop_bits_max': max(stops),
        'seizure_start_s': first if seizure else None, 'mark_start_s': first + seizure * t,
        'message_start_s': first + (seizure + mark) * t, 'end_s': first + n / rate,
        'tone_power': (db(mark_db) ** 2 + db(space_db) ** 2) / 4,
    }
    return truth

def dtmf():
    low = [697, 770, 852, 941]
    high = [1209, 1336, 1477, 1633]
    keys = '123A456B789C*0#D'
    digits = []
    silence(0.3)
    powers = []
    # One level for the file, each digit near it: the noise, set against
    # the mean tone power, is then about as far under every digit.
    base = rnd.uniform(-23, -11)
    for k in range(8):
        key = rnd.randrange(16)
        lo = low[key // 4] * (1 + rnd.uniform(-0.015, 0.015))
        hi = high[key % 4] * (1 + rnd.uniform(-0.015, 0.015))
        lo_db = base + rnd.uniform(-2, 2)
        twist = rnd.uniform(-4, 4)
        hi_db = lo_db + twist
        dur = rnd.uniform(0.04, 0.1)
        gap = rnd.uniform(0.04, 0.1)
        start = len(x) / rate
        n = int(round(dur * rate))
        p1, p2 = rnd.uniform(0, 6.3), rnd.uniform(0, 6.3)
        for i in range(n):
            x.append(db(lo_db) * math.sin(p1 + 2 * math.pi * lo * i / rate) +
                     db(hi_db) * math.sin(p2 + 2 * math.pi * hi * i / rate))
        powers.append((db(lo_db) ** 2 + db(hi_db) ** 2) / 2)
        digits.append({'digit': keys[key], 'low_hz': lo, 'high_hz': hi, 'low_dbfs': lo_db, 'high_dbfs': hi_db,
                       'twist_db': twist, 'start_s': start, 'duration_ms': 1000 * n / rate,
                       'gap_ms': 1000 * int(round(gap * rate)) / rate if k < 7 else None})
        silence(gap if k < 7 else 0.3)
    return {'kind': 'dtmf', 'rate': rate, 'digits': digits, 'tone_power': sum(powers) / len(powers)}

def alert():
    # The 2130 + 2750 Hz alert, each tone off by up to 0.5 %, -30..-10 dBFS,
    # +-6 dB of twist, 75..110 ms from a random instant; half the time a
    # DTMF D acknowledgement 50..150 ms after it (a CAS), then silence.
    lo = 2130 * (1 + rnd.uniform(-0.005, 0.005))
    hi = 2750 * (1 + rnd.uniform(-0.005, 0.005))
    lo_db = rnd.uniform(-30, -10)
    twist = rnd.uniform(-6, 6)
    hi_db = lo_db + twist
    silence(rnd.uniform(0.2, 0.4))
    start = len(x) / rate
    n = int(round(rnd.uniform(0.075, 0.11) * rate))
    p1, p2 = rnd.uniform(0, 6.3), rnd.uniform(0, 6.3)
    for i in range(n):
        x.append(db(lo_db) * math.sin(p1 + 2 * math.pi * lo * i / rate) +
                 db(hi_db) * math.sin(p2 + 2 * math.pi * hi * i / rate))
    ack = rnd.random() < 0.5
    if ack:
        silence(rnd.uniform(0.05, 0.15))
        for i in range(int(round(0.06 * rate))):
            x.append(db(-12) * math.sin(2 * math.pi * 941 * i / rate) + db(-10) * math.sin(2 * math.pi * 1633 * i / rate))
    silence(0.5)
    return {'kind': 'alert', 'rate': rate, 'signal': 'cas' if ack else 'dt-as', 'low_hz': lo, 'high_hz': hi,
            'low_dbfs': lo_db, 'high_dbfs': hi_db, 'twist_db': twist, 'start_s': start, 'end_s': start + n / rate,
            'tone_power': (db(lo_db) ** 2 + db(hi_db) ** 2) / 4}

def ring():
    # Two rings of a 15..70 Hz sine whose peak is -20..+6 dBFS, clipped at
    # full scale as a recording across the line clips it; 0.2..2 s on,
    # 0.2..4 s off.
    hz = rnd.uniform(15, 70)
    peak_db = rnd.uniform(-20, 6)
    on = rnd.uniform(0.2, 2.0)
    off = rnd.uniform(0.2, 4.0)
    silence(rnd.uniform(0.2, 0.4))
    starts = []
    for k in range(2):
        starts.append(len(x) / rate)
        phase = rnd.uniform(0, 6.3)
        for i in range(int(round(on * rate))):
            x.append(max(-1.0, min(1.0, db(peak_db) * math.sin(phase + 2 * math.pi * hz * i / rate))))
        if k == 0:
            silence(off)
    silence(0.3)
    n = int(round(on * rate))
    return {'kind': 'ring', 'rate': rate, 'ring_hz': hz, 'ring_dbfs': min(peak_db, 0.0),
            'start_s': starts[0], 'end_s': starts[0] + n / rate, 'on_ms': 1000 * n / rate,
            'off_ms': 1000 * (starts[1] - starts[0]) - 1000 * n / rate, 'tone_power': db(peak_db) ** 2 / 2}

def tone():
    hz = seed / 10
    for i in range(rate):
        x.append(db(-10) * math.sin(2 * math.pi * hz * i / rate))
    return {'kind': 'tone', 'rate': rate, 'hz': hz, 'dbfs': -10, 'tone_power': db(-10) ** 2 / 2}

truth = {'fsk': fsk, 'dtmf': dtmf, 'alert': alert, 'ring': ring, 'tone': tone}[kind]()
if snr is not None:
    sigma = math.sqrt(truth['tone_power'] / 10 ** (snr / 10))
    for i in range(len(x)):
        x[i] += rnd.gauss(0, sigma)
truth['snr'] = snr
with open(out, 'wb') as f:
    x.tofile(f)
print(json.dumps(truth))
