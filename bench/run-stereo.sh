#!/usr/bin/env bash
# Stereo WAV -> MP3 with varkonel-convert against LAME alone doing the same job, in the same
# run: a generated 10-minute 44.1 kHz stereo WAV file, joint stereo, constant bitrate, the
# same LAME quality level, no ReplayGain analysis, and LAME's information frame on both sides.
#   "64KB": 44100 Hz, 64 kbit/s, LAME quality 5 (lame -q 5 --resample 44.1: left to itself,
#           lame would encode 64 kbit/s stereo at 24 kHz, a smaller job)
#   "32KB": 22050 Hz, 32 kbit/s, LAME quality 0 without the bit reservoir (lame -q 0 --nores,
#           resampling to 22.05 kHz itself)
# Prints the best of three times of each and their ratio (ours / lame; the target is at most
# 1.05), and fails when a conversion fails or an output is not joint stereo at the bitrate.
# Argument: the build's bin folder.
set -euo pipefail
bin=$(cd "${1:?usage: run-stereo.sh <bin dir>}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
command -v lame >/dev/null || { echo "lame is needed for the comparison" >&2; exit 1; }

seconds=600
now() { date +%s.%N; }
best() { echo "if ($1 < $2) $1 else $2" | bc; }
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

sox -q -n -r 44100 -c 2 -b 16 "$work/in.wav" synth "$seconds" pinknoise synth "$seconds" sine mix 330 \
  remix 1 1v0.5 vol 0.4
mkdir -p "$work/ours" "$work/peer"
echo "== $seconds s of 44.1 kHz stereo WAV -> joint stereo MP3"
status=0
for setting in 64KB 32KB; do
  case $setting in
    64KB) kbps=64 peer=(-q 5 --resample 44.1) index=5 ;; # MPEG-1 layer III: index 5 is 64 kbit/s
    32KB) kbps=32 peer=(-q 0 --nores --resample 22.05) index=4 ;; # MPEG-2: index 4 is 32 kbit/s
  esac
  ours=999999 lame=999999
  for run in 1 2 3; do
    t0=$(now); "$bin/varkonel-convert" -q -y -c stereo -b "$setting" -o "$work/ours" "$work/in.wav"; t1=$(now)
    ours=$(best "$(echo "$t1 - $t0" | bc)" "$ours")
    t0=$(now); lame --quiet -m j --cbr -b "$kbps" "${peer[@]}" --noreplaygain "$work/in.wav" "$work/peer/in.mp3"; t1=$(now)
    lame=$(best "$(echo "$t1 - $t0" | bc)" "$lame")
  done
  read -r mode found < <(first_frame "$work/ours/in.mp3")
  if [ "$mode" != 1 ] || [ "$found" != "$index" ]; then
    echo "\"$setting\": the output is not joint stereo at $kbps kbit/s (mode $mode, bitrate index $found)"
    status=1
  fi
  echo "\"$setting\" stereo, best of 3: varkonel-convert $ours s, lame $lame s, ratio $(echo "scale=3; $ours / $lame" | bc)"
done
exit $status
