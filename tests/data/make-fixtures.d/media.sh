#!/usr/bin/env bash
# Compressed sources for the media reader and WmaStream tests: small MP3 files made with lame and
# WMA files made with ffmpeg, in mono and stereo at several rates, each with a reference decode
# (raw 16-bit little-endian PCM made by ffmpeg, "<name>.s16") to compare against.
# manifest.txt lists per file: name, rate, channels, frames of the source signal, and whether
# the file states its encoder delay and padding (so that its decoded length is exact).
set -euo pipefail
data=${1:?usage: media.sh <tests/data folder>}
out="$data/media"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$out"
mkdir -p "$out"

# A deterministic test signal: a rising sweep with a steady high tone, different on the right.
signal() { # rate channels seconds file
  local left='0.35*sin(2*PI*(200+300*t)*t)+0.08*sin(2*PI*3100*t)'
  local right='0.3*sin(2*PI*(650-200*t)*t)+0.1*sin(2*PI*1900*t)'
  local expr="$left"
  [ "$2" = 2 ] && expr="$left|$right"
  ffmpeg -nostdin -v error -y -f lavfi -i "aevalsrc=$expr:s=$1:d=$3" -c:a pcm_s16le "$4"
}

reference() { # compressed file -> .s16 beside it
  ffmpeg -nostdin -v error -y -i "$1" -map 0:a:0 -f s16le -c:a pcm_s16le "$1.s16"
}

echo "# name rate channels source-frames exact-length" > "$out/manifest.txt"
record() { # name rate channels seconds exact
  local frames
  frames=$(awk -v r="$2" -v s="$4" 'BEGIN { printf "%d", r * s + 0.5 }')
  echo "$1 $2 $3 $frames $5" >> "$out/manifest.txt"
}

# MPEG-2 layer III, mono, CBR, with the encoder's Info header (the bitrate leaves room for it).
signal 22050 1 2.0 "$work/a.wav"
lame --quiet -b 56 -m m "$work/a.wav" "$out/mono-22050-cbr.mp3"
record mono-22050-cbr.mp3 22050 1 2.0 yes

# MPEG-1 layer III, stereo, VBR with a Xing header, an ID3v2 tag and cover art.
signal 44100 2 0.8 "$work/b.wav"
ffmpeg -nostdin -v error -y -f lavfi -i "color=c=red:s=16x16" -frames:v 1 "$work/cover.png"
lame --quiet -V 5 --add-id3v2 --tt "Sweep" --ta "Varkonel tests" --ti "$work/cover.png" \
  "$work/b.wav" "$out/stereo-44100-vbr-id3.mp3"
record stereo-44100-vbr-id3.mp3 44100 2 0.8 yes

# MPEG-2.5 layer III at 8000 Hz, mono, long enough for whole-second lengths and seeks.
signal 8000 1 4.5 "$work/c.wav"
lame --quiet -b 24 -m m "$work/c.wav" "$out/mono-8000-mpeg25.mp3"
record mono-8000-mpeg25.mp3 8000 1 4.5 yes

# MPEG-2 layer III, stereo, CBR without any header: the delay and padding are unknown.
signal 16000 2 1.0 "$work/d.wav"
lame --quiet -t -b 64 "$work/d.wav" "$out/stereo-16000-noheader.mp3"
record stereo-16000-noheader.mp3 16000 2 1.0 no

# Windows Media Audio version 2, stereo.
signal 22050 2 1.0 "$work/e.wav"
ffmpeg -nostdin -v error -y -i "$work/e.wav" -c:a wmav2 -b:a 64k "$out/stereo-22050-v2.wma"
record stereo-22050-v2.wma 22050 2 1.0 no

# Windows Media Audio version 1, mono, with an upper-case extension.
signal 16000 1 2.5 "$work/f.wav"
ffmpeg -nostdin -v error -y -i "$work/f.wav" -c:a wmav1 -b:a 32k -f asf "$out/mono-16000-v1.WMA"
record mono-16000-v1.WMA 16000 1 2.5 no

for file in "$out"/*.mp3 "$out"/*.wma "$out"/*.WMA; do
  reference "$file"
done
du -sh "$out"
