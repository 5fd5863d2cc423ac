#!/usr/bin/env bash
# varkonel-convert with -j 1 and -j 2 on 8 generated 2-minute 44.1 kHz stereo WAV files at the
# default "32KB" setting (22050 Hz mono MP3), and the peer in the same run: ffmpeg doing the
# same job (downmix, resample, libmp3lame at 32 kbps), one file at a time and two at a time.
# Prints the times and the speed-ups of -j 2 over -j 1 (the target on 2 cores is 1.7 or more).
# Argument: the build's bin folder.
set -euo pipefail
bin=$(cd "${1:?usage: run-cli-jobs.sh <bin dir>}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

files=8
seconds=120
now() { date +%s.%N; }
best() { echo "if ($1 < $2) $1 else $2" | bc; }

mkdir -p "$work/in" "$work/out" "$work/j1" "$work/f1" "$work/f2"
for k in $(seq 1 $files); do
  sox -q -n -r 44100 -c 2 -b 16 "$work/in/song$k.wav" synth "$seconds" pinknoise synth "$seconds" \
    sine mix $((200 + 50 * k)) vol 0.4
done
echo "== $files files of $seconds s, 44.1 kHz stereo WAV -> 22050 Hz mono MP3 at 32 kbps ($(nproc) cores)"

ours1=999999 ours2=999999 peer1=999999 peer2=999999
for run in 1 2 3; do # best of three each, alternating, on a shared machine
  # Both write into the same folder (the MP3 tag holds the start of the output path); the
  # results of -j 1 are kept aside to compare.
  t0=$(now); "$bin/varkonel-convert" -q -y -b 32KB -j 1 -o "$work/out" "$work/in"/*.wav; t1=$(now)
  ours1=$(best "$(echo "$t1 - $t0" | bc)" "$ours1")
  cp "$work/out"/*.mp3 "$work/j1/"
  t0=$(now); "$bin/varkonel-convert" -q -y -b 32KB -j 2 -o "$work/out" "$work/in"/*.wav; t1=$(now)
  ours2=$(best "$(echo "$t1 - $t0" | bc)" "$ours2")
  peer() { # parallel count, output folder
    printf '%s\n' "$work/in"/*.wav | xargs -P "$1" -I{} sh -c \
      'ffmpeg -v error -y -i "$1" -ac 1 -ar 22050 -c:a libmp3lame -b:a 32k -compression_level 0 "$2/$(basename "$1" .wav).mp3"' \
      _ {} "$2"
  }
  t0=$(now); peer 1 "$work/f1"; t1=$(now)
  peer1=$(best "$(echo "$t1 - $t0" | bc)" "$peer1")
  t0=$(now); peer 2 "$work/f2"; t1=$(now)
  peer2=$(best "$(echo "$t1 - $t0" | bc)" "$peer2")
done

for k in $(seq 1 $files); do
  cmp -s "$work/j1/song$k.mp3" "$work/out/song$k.mp3" || { echo "song$k.mp3 differs between -j 1 and -j 2"; exit 1; }
done
echo "outputs of -j 1 and -j 2: byte-identical"
echo "best of 3: varkonel-convert -j 1 $ours1 s, -j 2 $ours2 s; ffmpeg one at a time $peer1 s, two at a time $peer2 s"
echo "speed-up of -j 2: varkonel-convert $(echo "scale=2; $ours1 / $ours2" | bc), ffmpeg $(echo "scale=2; $peer1 / $peer2" | bc)"
echo "varkonel-convert -j 2 / ffmpeg two at a time: $(echo "scale=2; $ours2 / $peer2" | bc)"
