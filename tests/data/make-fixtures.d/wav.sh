#!/usr/bin/env bash
# WAV files of every format the codec service decodes, each with the 16-bit PCM reference
# decode beside it (<name>.ref.wav), plus a few malformed files (bad/) that seed the fuzz target.
# Linear formats are made and reduced to 16 bits by sox without dither (rounded); compressed
# formats are decoded for reference by sox where it has a decoder of its own, and by ffmpeg
# for IMA ADPCM and MPEG audio. Argument: the tests/data folder.
set -euo pipefail
out="$1/wav"
rm -rf "$out"
mkdir -p "$out/bad"
cd "$out"
sx() { sox -D -R "$@"; }
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

# Sources: two tones per file, a different one on each channel.
sx -n -r 44100 -c 2 -b 24 -t wavpcm src-44100.wav synth 0.08 sine 440 sine 1250 vol 0.8
sx -n -r 8000 -c 1 -b 16 src-8000.wav synth 0.25 sine 300 vol 0.7
sx -n -r 22050 -c 2 -b 16 src-22050.wav synth 0.15 sine 500 sine 2000 vol 0.7
sx -n -r 22050 -c 6 -b 16 src-6ch.wav synth 0.05 sine 200 sine 300 sine 400 sine 60 sine 500 sine 600 vol 0.5

# Linear PCM and float, plain and extensible.
sx src-8000.wav -b 8 -e unsigned -t wavpcm pcm-u8-mono-8000.wav
sx src-44100.wav -b 16 -t wavpcm pcm-s16-stereo-44100.wav
sx src-44100.wav -b 24 -t wavpcm pcm-s24-stereo-44100.wav
sx src-22050.wav -b 32 -e signed -t wavpcm pcm-s32-stereo-22050.wav
sx src-44100.wav -b 32 -e floating-point -t wavpcm float32-stereo-44100.wav
sx src-8000.wav -b 64 -e floating-point -t wavpcm float64-mono-8000.wav
sx src-44100.wav -b 24 ext-pcm24-stereo-44100.wav
ff -i src-22050.wav -c:a pcm_f32le ext-float32-stereo-22050.wav
ff -i src-6ch.wav -c:a pcm_s16le ext-pcm16-6ch-22050.wav

# Compressed formats.
ff -i src-22050.wav -c:a adpcm_ima_wav ima-adpcm-stereo-22050.wav
ff -i src-8000.wav -c:a adpcm_ms -block_size 256 ms-adpcm-mono-8000.wav
sx src-8000.wav -e a-law alaw-mono-8000.wav
sx src-22050.wav -e mu-law mulaw-stereo-22050.wav
sx src-8000.wav -e gsm-full-rate gsm610-mono-8000.wav
ff -i src-22050.wav -c:a libmp3lame -b:a 64k mp3-stereo-22050.wav
# The same stream stopped 100 bytes short of its end, inside its last frame: decoders give that
# frame out only once they are told the stream has ended.
head -c -100 mp3-stereo-22050.wav > mp3-cut-stereo-22050.wav

for file in pcm-*.wav float*.wav ext-*.wav ms-*.wav alaw-*.wav mulaw-*.wav gsm610-*.wav; do
  sx "$file" -b 16 -e signed -t wavpcm "${file%.wav}.ref.wav"
done
# sox's and ffmpeg's IMA ADPCM decoders differ in the rounding of their step arithmetic (by up
# to a few tens of steps); the codec service decodes with ffmpeg's. sox has no MPEG decoder here.
for file in ima-*.wav; do
  ff -i "$file" -c:a pcm_s16le "${file%.wav}.ref.wav"
done
# ffmpeg's MPEG audio decoder gives float samples: the reference keeps them, so that the test
# rounds them to 16 bits as the conversion stage does and compares the decodes exactly.
for file in mp3-*.wav; do
  ff -i "$file" -c:a pcm_f32le "${file%.wav}.ref.wav"
done
rm -f src-*.wav

# Malformed files: cut headers, wrong ids, odd sizes, a compressed file cut inside a block.
head -c 11 pcm-s16-stereo-44100.wav > bad/cut-11-bytes.wav
head -c 30 pcm-s16-stereo-44100.wav > bad/cut-in-fmt.wav
sed '1s/^RIFF/riff/' pcm-u8-mono-8000.wav > bad/lower-case-riff.wav
head -c 1000 ima-adpcm-stereo-22050.wav > bad/ima-cut-in-block.wav
head -c 777 ms-adpcm-mono-8000.wav > bad/ms-cut-in-block.wav
head -c 1500 mp3-stereo-22050.wav > bad/mp3-cut-in-frame.wav
python3 - bad <<'PY'
import struct, sys, os
bad = sys.argv[1]
def chunk(cid, payload, size=None):
    size = len(payload) if size is None else size
    return cid + struct.pack('<I', size) + payload + (b'\0' if len(payload) % 2 else b'')
def riff(children, form=b'WAVE', size=None):
    body = form + b''.join(children)
    return b'RIFF' + struct.pack('<I', len(body) if size is None else size) + body
fmt = struct.pack('<HHIIHH', 1, 2, 8000, 32000, 4, 16)
data = bytes(range(256)) * 4
files = {
    'block-align-0.wav': riff([chunk(b'fmt ', struct.pack('<HHIIHH', 1, 2, 8000, 32000, 0, 16)), chunk(b'data', data)]),
    'huge-sizes.wav': riff([chunk(b'fmt ', fmt), chunk(b'data', data, 0xFFFFFFFF)], size=0xFFFFFFFF),
    'size-past-end.wav': riff([chunk(b'fmt ', fmt), chunk(b'junk', b'x' * 10, 100000), chunk(b'data', data)]),
    'fmt-4k.wav': riff([chunk(b'fmt ', fmt + b'\0\0' + b'\xee' * 4078), chunk(b'data', data)]),
    'odd-chunks-and-list.wav': riff([chunk(b'odd ', b'abc'), chunk(b'fmt ', fmt), chunk(b'LIST', b'INFOINAM\x03\0\0\0abc\0'), chunk(b'data', data[:33])]),
    'not-wave.wav': riff([chunk(b'fmt ', fmt), chunk(b'data', data)], form=b'AVI '),
    'zero-rate-ima.wav': riff([chunk(b'fmt ', struct.pack('<HHIIHHHH', 0x11, 1, 0, 0, 256, 4, 2, 505)), chunk(b'data', data)]),
    'absurd-values.wav': riff([chunk(b'fmt ', struct.pack('<HHIIHH', 3, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFF, 0xFFFF)), chunk(b'data', data)]),
    'eight-bytes.wav': b'RIFF\0\0\0\0',
    'empty.wav': b'',
}
for name, payload in files.items():
    with open(os.path.join(bad, name), 'wb') as f:
        f.write(payload)
PY

du -sh .
