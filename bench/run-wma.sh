#!/usr/bin/env bash
# Decoding speed of WmaStream beside ffmpeg on the same 10-minute 128 kbps stereo MP3, in the
# same run. Argument: the build's bin folder. The input is generated once into that folder.
set -euo pipefail
bin=${1:?usage: run-wma.sh <build/bin>}
input="$bin/wma-bench-10min.mp3"
runs=3
if [ ! -s "$input" ]; then
  echo "generating $input"
  ffmpeg -nostdin -v error -y -f lavfi \
    -i "aevalsrc=0.3*sin(2*PI*(200+50*sin(t/7))*t)+0.05*sin(2*PI*4000*t)|0.3*sin(2*PI*330*t)+0.1*sin(2*PI*(900+100*sin(t/3))*t):s=44100:d=600" \
    -f wav - | lame --quiet -b 128 - "$input"
fi

ours=$("$bin/WmaBench" "$input" "$runs")
echo "$ours" | head -1
ours_seconds=$(echo "$ours" | sed -n 's/^seconds=//p')

best=""
for _ in $(seq "$runs"); do
  start=$(date +%s.%N)
  ffmpeg -nostdin -v error -i "$input" -f s16le -y /dev/null
  end=$(date +%s.%N)
  t=$(echo "$end - $start" | bc -l)
  if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
done
printf 'ffmpeg:    %.3f s\n' "$best"
printf 'ratio WmaStream / ffmpeg: %.2f (limit 1.10)\n' "$(echo "$ours_seconds / $best" | bc -l)"
