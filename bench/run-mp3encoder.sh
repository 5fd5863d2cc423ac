#!/usr/bin/env bash
# The MP3 writer against the lame command-line encoder with the same LAME settings, on the
# same 10-minute mono PCM (pink noise), at the "64KB" and "32KB" settings.
# Argument: the build's bin folder.
set -euo pipefail
bin=$(cd "${1:?usage: run-mp3encoder.sh <bin dir>}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

seconds=600
now() { date +%s.%N; }

run() { # name rate lame-options...
  local name=$1 rate=$2; shift 2
  sox -q -n -r "$rate" -c 1 -b 16 -e signed-integer "$work/in.raw" synth "$seconds" pinknoise vol 0.5
  echo "== $name: $seconds s of mono 16-bit PCM at $rate Hz"
  echo -n "Mp3Encoder: "
  "$bin/Mp3EncoderBench" "$work/in.raw" "$rate" "$work/ours.mp3"
  local ours=999999 lame=999999 t0 t1 i
  for i in 1 2 3; do # best of three runs each, alternating, on a shared machine
    t0=$(now); "$bin/Mp3EncoderBench" "$work/in.raw" "$rate" "$work/ours.mp3" >/dev/null; t1=$(now)
    ours=$(echo "if ($t1 - $t0 < $ours) $t1 - $t0 else $ours" | bc)
    t0=$(now)
    lame --quiet -r -s "$(echo "scale=3; $rate/1000" | bc)" --bitwidth 16 --signed --little-endian -m m \
      --noreplaygain -t --cbr "$@" "$work/in.raw" "$work/lame.mp3" 2>/dev/null
    t1=$(now)
    lame=$(echo "if ($t1 - $t0 < $lame) $t1 - $t0 else $lame" | bc)
  done
  /usr/bin/time -f "lame: peak memory %M KB" lame --quiet -r -s "$(echo "scale=3; $rate/1000" | bc)" --bitwidth 16 \
    --signed --little-endian -m m --noreplaygain -t --cbr "$@" "$work/in.raw" "$work/lame.mp3" 2>&1 | grep peak
  echo "best of 3: ours $ours s, lame $lame s, ratio $(echo "scale=3; $ours / $lame" | bc)"
  if cmp -s <(head -c -128 "$work/ours.mp3") "$work/lame.mp3"; then
    echo "audio bytes identical to lame's (ours adds the 128-byte tag)"
  else
    echo "audio bytes differ from lame's: ours $(stat -c %s "$work/ours.mp3"), lame $(stat -c %s "$work/lame.mp3") bytes"
  fi
}

# "64KB": 44100 Hz, 64 kbps CBR, no resampling, quality 5, original bit off.
run 64KB 44100 -b 64 --resample 44.1 -q 5 -o
# "32KB": 22050 Hz, 32 kbps CBR, output rate left to LAME, quality 0, no bit reservoir, original bit.
run 32KB 22050 -b 32 -q 0 --nores
