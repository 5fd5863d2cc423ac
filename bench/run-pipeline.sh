#!/usr/bin/env bash
# The whole pipeline (WAV -> Mixer -> Mp3Encoder) against two peers in the same run, on one
# generated 10-minute 44.1 kHz stereo WAV, at the "64KB" (44100 Hz, 64 kbps) and "32KB"
# (22050 Hz, 32 kbps) settings:
#   - the lame encoder with the same LAME settings on an already-mono PCM file at the output
#     rate (made beforehand, not timed): the encoder's own limit;
#   - ffmpeg doing the same job from the same WAV (downmix, resample, libmp3lame at the same
#     bitrate and LAME quality).
# Argument: the build's bin folder.
set -euo pipefail
bin=$(cd "${1:?usage: run-pipeline.sh <bin dir>}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

seconds=600
now() { date +%s.%N; }
best() { echo "if ($1 < $2) $1 else $2" | bc; }

sox -q -n -r 44100 -c 2 -b 16 "$work/in.wav" synth "$seconds" pinknoise synth "$seconds" sine mix 440 vol 0.4

run() { # name rate kbps quality lame-options...
  local name=$1 rate=$2 kbps=$3 quality=$4; shift 4
  sox -q "$work/in.wav" -r "$rate" -c 1 -b 16 -e signed-integer "$work/mono.raw"
  echo "== $name: $seconds s of 44.1 kHz stereo WAV -> ${rate} Hz mono, ${kbps} kbps"
  echo -n "pipeline: "
  "$bin/PipelineBench" "$work/in.wav" "$rate" "$work/ours.mp3"
  local ours=999999 lame=999999 ffmpeg=999999 t0 t1 i
  for i in 1 2 3; do # best of three runs each, alternating, on a shared machine
    t0=$(now); "$bin/PipelineBench" "$work/in.wav" "$rate" "$work/ours.mp3" >/dev/null; t1=$(now)
    ours=$(best "$(echo "$t1 - $t0" | bc)" "$ours")
    t0=$(now)
    lame --quiet -r -s "$(echo "scale=3; $rate/1000" | bc)" --bitwidth 16 --signed --little-endian -m m \
      --noreplaygain -t --cbr -b "$kbps" "$@" "$work/mono.raw" "$work/lame.mp3" 2>/dev/null
    t1=$(now)
    lame=$(best "$(echo "$t1 - $t0" | bc)" "$lame")
    t0=$(now)
    ffmpeg -v error -y -i "$work/in.wav" -ac 1 -ar "$rate" -c:a libmp3lame -b:a "${kbps}k" \
      -compression_level "$quality" "$work/ffmpeg.mp3"
    t1=$(now)
    ffmpeg=$(best "$(echo "$t1 - $t0" | bc)" "$ffmpeg")
  done
  echo "best of 3: pipeline $ours s, lame $lame s, ffmpeg $ffmpeg s"
  echo "ratios: pipeline/lame $(echo "scale=3; $ours / $lame" | bc), pipeline/ffmpeg $(echo "scale=3; $ours / $ffmpeg" | bc)"
}

# The same LAME settings the encoder library gets for each setting.
run 64KB 44100 64 5 --resample 44.1 -q 5 -o
run 32KB 22050 32 0 -q 0 --nores
