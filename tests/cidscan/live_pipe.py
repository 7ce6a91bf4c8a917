#!/usr/bin/env python3
"""A live line on a pipe: a writer sends a WAV stream (placeholder length) in
real time, with a caller-ID burst, then silence; cidscan --json must print
the message within half a second of the burst's last sample.

    live_pipe.py CIDSCAN BURST.wav [OPTION...]
BURST.wav is a mono 16-bit file holding one burst (as cidforge writes it);
the options go to cidscan (--measure: the message must carry its measurement),
but for --expect-signals=KIND,KIND...: the line signals that must come out
before the message.
Exit 0 on success, 1 on failure."""
import json
import struct
import subprocess
import sys
import threading
import time


def read_wav(path):
    data = open(path, 'rb').read()
    assert data[:4] == b'RIFF' and data[8:12] == b'WAVE'
    pos = 12
    rate = None
    while pos + 8 <= len(data):
        cid, size = data[pos:pos + 4], struct.unpack('<I', data[pos + 4:pos + 8])[0]
        if cid == b'fmt ':
            rate = struct.unpack('<I', data[pos + 12:pos + 16])[0]
        if cid == b'data':
            return rate, data[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)
    raise SystemExit('no data chunk in ' + path)


def main():
    cidscan, burst = sys.argv[1], sys.argv[2]
    rate, samples = read_wav(burst)
    # The burst's end: the last sample louder than silence.
    values = struct.unpack('<%dh' % (len(samples) // 2), samples)
    last = max(i for i, v in enumerate(values) if abs(v) > 2000)
    header = (b'RIFF' + struct.pack('<I', 0x7FFFFFFF) + b'WAVEfmt ' +
              struct.pack('<IHHIIHH', 16, 1, 1, rate, rate * 2, 2, 16) + b'data' + struct.pack('<I', 0x7FFFFFFF))
    options = sys.argv[3:]
    scan_options = [o for o in options if not o.startswith('--expect-signals=')]
    proc = subprocess.Popen([cidscan, '--json', *scan_options, '-'], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    lines = []

    signals = []

    def reader():
        # With --measure, line signals (alert tones, ringing) come out in the
        # same stream: the message is the first object with a "standard".
        for line in proc.stdout:
            if '"signal":' in line.decode('utf-8', 'replace') and '"standard":' not in line.decode('utf-8', 'replace'):
                signals.append(json.loads(line)['signal'])
            else:
                lines.append((time.monotonic(), line))

    t = threading.Thread(target=reader)
    t.start()
    proc.stdin.write(header)
    proc.stdin.flush()
    chunk = rate // 50  # 20 ms blocks, as a sound card delivers them
    start = time.monotonic()
    # When the burst's last sample is due; a message may come out before it,
    # once its last byte is in and the mark after it still runs.
    burst_end_time = start + (last + 1) / rate
    stream = samples + b'\0\0' * (2 * rate)  # two seconds of silence after the file
    total = len(stream) // 2
    for first in range(0, total, chunk):
        n = min(chunk, total - first)
        # Keep real time: the block's samples exist once their time has come.
        due = start + (first + n) / rate
        delay = due - time.monotonic()
        if delay > 0:
            time.sleep(delay)
        proc.stdin.write(stream[2 * first:2 * (first + n)])
        proc.stdin.flush()
        if lines:
            break
    # The line is still open: no end of input may be what brings the message out.
    waited = time.monotonic()
    while not lines and time.monotonic() - waited < 2.0:
        time.sleep(0.01)
    proc.stdin.close()
    t.join(timeout=10)
    proc.wait(timeout=10)
    if not lines:
        print('FAILED: no message while the line was open')
        return 1
    when, line = lines[0]
    message = json.loads(line)
    latency = when - burst_end_time
    print('message %.3f s after the burst end: %s%s' % (latency, message['fields'],
                                                      ' after ' + ', '.join(signals) if signals else ''))
    expected = [o[len('--expect-signals='):] for o in options if o.startswith('--expect-signals=')]
    if expected and ','.join(signals) != expected[0]:
        print('FAILED: signals before the message: %s, not %s' % (','.join(signals), expected[0]))
        return 1
    if not message['valid']:
        print('FAILED: the message is not valid')
        return 1
    if '--measure' in options and not message.get('measure'):
        print('FAILED: no measurement')
        return 1
    if latency > 0.5:
        print('FAILED: later than 0.5 s')
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
