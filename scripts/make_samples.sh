#!/bin/sh
# Makes the sample WMA files that ship in the "Samples" folder beside the
# program (resources/program/Samples/):
#   scripts/make_samples.sh [BUILD_DIR]
# Each is about ten seconds of 44100 Hz stereo audio, encoded as wmav2 at
# 64 kbit/s by the project's mkwma tool (built in BUILD_DIR, default build/):
# spoken words from espeak-ng, a generated tone melody, and a voice over
# chords. Each carries a title, artist, album and track number, and the
# window icon (resources/icons/brenvale.png) as its front cover, so that the
# results show tags too. Needs espeak-ng and python3.
set -eu
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build}"
out="$here/resources/program/Samples"

command -v espeak-ng >/dev/null || { echo "make_samples: espeak-ng is not installed" >&2; exit 1; }
if [ ! -d "$build" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
ninja -C "$build" mkwma >/dev/null
mkwma="$build/tools/mkwma/mkwma"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

espeak-ng -v en-us -s 150 -w "$work/words1.wav" \
  "Welcome to Brenvale. This first sample holds spoken words only. \
Press Start Converting, and it becomes an M P 3 file."
espeak-ng -v en-gb -s 150 -w "$work/words3.wav" \
  "This third sample mixes a voice with music. Brenvale turns Windows Media Audio into M P 3 or WAV."

# Mixes speech and generated tones into 16-bit stereo WAV files of exactly
# ten seconds.
python3 - "$work" <<'PY'
import array, math, sys, wave

work = sys.argv[1]
RATE = 44100
SECONDS = 10.0
N = int(RATE * SECONDS)

def read_speech(path):
    with wave.open(path, "rb") as w:
        assert w.getsampwidth() == 2 and w.getnchannels() == 1
        rate = w.getframerate()
        data = array.array("h", w.readframes(w.getnframes()))
    if sys.byteorder == "big":
        data.byteswap()
    # Linear interpolation up to the output rate.
    out = [0.0] * N
    step = rate / RATE
    for i in range(N):
        pos = i * step
        j = int(pos)
        if j + 1 >= len(data):
            break
        frac = pos - j
        out[i] = (data[j] * (1 - frac) + data[j + 1] * frac) / 32768.0
    return out

def note_freq(midi):
    return 440.0 * 2 ** ((midi - 69) / 12.0)

def add_note(buf, start, length, midi, gain):
    """A plucked-sounding note: a few harmonics under a quick attack and a
    gentle exponential decay."""
    f = note_freq(midi)
    s0 = int(start * RATE)
    n = min(int(length * RATE), N - s0)
    for k in range(n):
        t = k / RATE
        env = min(1.0, t / 0.01) * math.exp(-3.0 * t / length)
        v = (math.sin(2 * math.pi * f * t)
             + 0.4 * math.sin(4 * math.pi * f * t)
             + 0.15 * math.sin(6 * math.pi * f * t))
        buf[s0 + k] += gain * env * v

def melody():
    left = [0.0] * N
    right = [0.0] * N
    # A small tune in C major, a quarter note every 0.42 s, and a bass line.
    tune = [72, 74, 76, 77, 79, 77, 76, 74, 72, 76, 79, 84,
            83, 79, 77, 74, 72, 71, 72, 76, 79, 76, 72]
    for i, m in enumerate(tune):
        add_note(left, i * 0.42, 0.6, m, 0.22)
        add_note(right, i * 0.42 + 0.02, 0.6, m, 0.16)
    bass = [48, 45, 41, 43, 48, 45, 41, 43, 48, 48]
    for i, m in enumerate(bass):
        add_note(left, i * 1.0, 1.0, m, 0.14)
        add_note(right, i * 1.0, 1.0, m, 0.2)
    return left, right

def chords():
    left = [0.0] * N
    right = [0.0] * N
    for i, root in enumerate([60, 57, 53, 55, 60]):
        for m in (root, root + 4 if root in (60, 53, 55) else root + 3, root + 7):
            add_note(left, i * 2.0, 2.0, m - 12, 0.07)
            add_note(right, i * 2.0 + 0.01, 2.0, m, 0.05)
    return left, right

def fade(buf):
    k = int(0.5 * RATE)
    for i in range(k):
        buf[N - 1 - i] *= i / k

def write(path, left, right):
    fade(left)
    fade(right)
    frames = array.array("h")
    for l, r in zip(left, right):
        frames.append(max(-32767, min(32767, int(round(l * 32767)))))
        frames.append(max(-32767, min(32767, int(round(r * 32767)))))
    if sys.byteorder == "big":
        frames.byteswap()
    with wave.open(path, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(frames.tobytes())

words1 = read_speech(work + "/words1.wav")
write(work + "/sample1.wav", [0.85 * v for v in words1], [0.85 * v for v in words1])
write(work + "/sample2.wav", *melody())
words3 = read_speech(work + "/words3.wav")
pad_l, pad_r = chords()
write(work + "/sample3.wav", [0.75 * v + 0.5 * p for v, p in zip(words3, pad_l)],
      [0.75 * v + 0.5 * p for v, p in zip(words3, pad_r)])
PY

mkdir -p "$out"
# sample OUT WAV TITLE TRACK
sample() {
  "$mkwma" encode "$out/$1" --wav "$work/$2" --bitrate 64000 --title "$3" --artist Brenvale \
    --album "Brenvale Samples" --track "$4/3" --picture "$here/resources/icons/brenvale.png"
}
sample "Sample 1 - Spoken Words.wma" sample1.wav "Brenvale Sample 1: Spoken Words" 1
sample "Sample 2 - Tone Melody.wma" sample2.wav "Brenvale Sample 2: Tone Melody" 2
sample "Sample 3 - Words and Music.wma" sample3.wav "Brenvale Sample 3: Words and Music" 3
ls -l "$out"
