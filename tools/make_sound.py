#!/usr/bin/env python3
"""Makes the default alert sound, resources/ts.mp3: a short three-note chime (E6, G6, C7) with
soft attacks and decays. Writes a WAV with the standard library and encodes it with Debian's
`lame` (apt-get install lame); the MP3 is committed, so building never needs either.

    tools/make_sound.py resources/ts.mp3
"""
import math
import struct
import subprocess
import sys
import tempfile
import wave

RATE = 22050


def chime():
    notes = [(1318.5, 0.00), (1568.0, 0.18), (2093.0, 0.36)]
    length = int(RATE * 1.4)
    samples = [0.0] * length
    for frequency, start in notes:
        first = int(start * RATE)
        for i in range(first, length):
            t = (i - first) / RATE
            envelope = min(1.0, t / 0.01) * math.exp(-t * 4.0)
            samples[i] += 0.3 * envelope * (math.sin(2 * math.pi * frequency * t)
                                            + 0.3 * math.sin(4 * math.pi * frequency * t))
    peak = max(abs(s) for s in samples)
    return [int(32000 * s / peak) for s in samples]


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "resources/ts.mp3"
    with tempfile.NamedTemporaryFile(suffix=".wav") as wav_file:
        with wave.open(wav_file.name, "wb") as wav:
            wav.setnchannels(1)
            wav.setsampwidth(2)
            wav.setframerate(RATE)
            wav.writeframes(b"".join(struct.pack("<h", s) for s in chime()))
        subprocess.run(["lame", "--quiet", "-b", "48", wav_file.name, out], check=True)


if __name__ == "__main__":
    main()
