#!/usr/bin/env bash
# Stereo WAV -> MP3 with varkonel-convert against LAME alone doing the same job from the same
# file (a generated 44.1 kHz stereo WAV): joint stereo, constant bitrate, the same LAME quality
# level and bit reservoir setting, no ReplayGain analysis, LAME's information frame on both:
#   "64KB": 44100 Hz, 64 kbit/s, quality 5 (lame -q 5 --resample 44.1: left to itself, lame
#           would encode 64 kbit/s stereo at 24 kHz, a smaller job)
#   "32KB": 22050 Hz, 32 kbit/s, quality 0 without the bit reservoir (lame -q 0 --nores
#           --resample 22.05)
# Target: at most 1.05 times LAME's time at each setting (median of the paired ratios). An
# output that is not joint stereo at the bitrate is an error.
# Usage: bench/run-stereo.sh BIN_DIR
source "$(dirname "$0")/bench.sh"
need sox lame python3 ffprobe

seconds=120
# The channel mode (1 = joint stereo) and bitrate index of the first MPEG audio frame after the
# ID3v2 tag and the information frame ("Xing"/"Info"), which may have a bitrate of its own.
first_frame() { python3 -c '
import sys
b = open(sys.argv[1], "rb").read()
start = 10 + (b[6] << 21 | b[7] << 14 | b[8] << 7 | b[9]) if b[:3] == b"ID3" else 0
frames = [i for i in range(start, len(b) - 3) if b[i] == 0xFF and b[i + 1] & 0xE0 == 0xE0 and 0 < b[i + 2] >> 4 < 15]
info = b[frames[0]:frames[0] + 64]
i = frames[0]
if b"Xing" in info or b"Info" in info:
    i = next(j for j in frames if j > frames[0] + 64)
print(b[i + 3] >> 6, b[i + 2] >> 4)' "$1"; }

sox -q -n -r 44100 -c 2 -b 16 "$scratch/in.wav" synth "$seconds" pinknoise synth "$seconds" sine mix 330 \
  remix 1 1v0.5 vol 0.4
mkdir -p "$scratch/ours" "$scratch/peer"
for setting in 64KB 32KB; do
  case $setting in
    64KB) rate=44100 kbps=64 peer=(-q 5 --resample 44.1) index=5 ;; # MPEG-1 layer III: index 5 is 64 kbit/s
    32KB) rate=22050 kbps=32 peer=(-q 0 --nores --resample 22.05) index=4 ;; # MPEG-2: index 4 is 32 kbit/s
  esac
  ours_times="" peer_times=""
  for _ in $(seq "$runs"); do
    elapsed t "$bin/varkonel-convert" -q -y -c stereo -b "$setting" -o "$scratch/ours" "$scratch/in.wav"
    ours_times+=" $t"
    elapsed t lame --quiet -m j --cbr -b "$kbps" "${peer[@]}" --noreplaygain "$scratch/in.wav" "$scratch/peer/in.mp3"
    peer_times+=" $t"
  done
  mp3_check "$scratch/ours/in.mp3" "$rate" 2 "$kbps"
  read -r mode found < <(first_frame "$scratch/ours/in.mp3")
  [ "$mode" = 1 ] && [ "$found" = "$index" ] \
    || bench_error "\"$setting\": the output is not joint stereo at $kbps kbit/s (mode $mode, bitrate index $found)"
  paired "\"$setting\" stereo varkonel-convert" "lame"
  result "stereo-$setting-over-lame" "$ratio" "<=" 1.05
done
bench_done
