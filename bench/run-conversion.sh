#!/usr/bin/env bash
# Converts a generated 10-minute 44.1 kHz stereo WAV file to 22050 Hz mono with our input path
# (WaveStream + ConversionStream) and with sox, in the same run, and prints both times and
# their ratio (ours / sox; the target is at most 1.1). Argument: the build's bin folder.
set -euo pipefail
bin=$(cd "${1:-build/bin}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
command -v sox >/dev/null || { echo "sox is needed for the comparison" >&2; exit 1; }

# Ten minutes of two tones and some noise, 16-bit stereo at 44100 Hz (about 101 MiB).
sox -D -R -n -r 44100 -c 2 -b 16 "$work/in.wav" synth 600 sine 440 sine 1250 synth 600 whitenoise amod 0.1 0.9 vol 0.5

best() { # best wall time of three runs of a command, in seconds
  local best=""
  for _ in 1 2 3; do
    local start end t
    start=$(date +%s.%N); "$@" >/dev/null; end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc -l)
    if [ -z "$best" ] || (( $(echo "$t < $best" | bc -l) )); then best=$t; fi
  done
  echo "$best"
}

ours=$("$bin/ConversionBench" "$work/in.wav" 3 | sed -n 's/^seconds=//p')
ours_file=$("$bin/ConversionBench" "$work/in.wav" 3 --write "$work/ours.wav" | sed -n 's/^seconds=//p')
peer=$(best sox "$work/in.wav" -c 1 -r 22050 "$work/sox.wav")

printf 'input: 600 s of 44.1 kHz stereo 16-bit, to 22050 Hz mono 16-bit\n'
printf 'varkonel conversion stage:          %7.3f s  (%4.0fx realtime)\n' "$ours" "$(echo "600 / $ours" | bc -l)"
printf 'varkonel conversion + WAV writing:  %7.3f s  (%4.0fx realtime)\n' "$ours_file" "$(echo "600 / $ours_file" | bc -l)"
printf 'sox -c 1 -r 22050:                  %7.3f s  (%4.0fx realtime)\n' "$peer" "$(echo "600 / $peer" | bc -l)"
printf 'ratio conversion / sox:             %7.3f  (target <= 1.1)\n' "$(echo "$ours / $peer" | bc -l)"
printf 'ratio file-to-file / sox:           %7.3f\n' "$(echo "$ours_file / $peer" | bc -l)"
