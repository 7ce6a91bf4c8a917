"""The benchmark generators' WAV output: 16-bit mono samples through Python's
wave module."""
import array
import sys
import wave


def write_mono16(path, rate, samples, program):
    """Writes `samples` (an array of 'h' in native byte order) as a 16-bit mono
    WAV file; exits with a message naming `program` when it can't."""
    pcm = array.array('h', samples)
    if sys.byteorder != 'little':
        pcm.byteswap()
    try:
        with open(path, 'wb') as f, wave.open(f, 'wb') as w:
            w.setnchannels(1)
            w.setsampwidth(2)
            w.setframerate(rate)
            w.writeframes(pcm.tobytes())
    except OSError as e:
        sys.exit(f"{program}: can't write {path}: {e}")
