#!/usr/bin/env bash
# varkonel-convert with -j 1 and -j 2 on 8 generated one-minute 44.1 kHz stereo WAV files at
# the "32KB" setting (22050 Hz mono MP3, LAME quality 0, no bit reservoir), beside the peer:
# ffmpeg doing the same job one file at a time and two at a time. Target (on 2 cores or more):
# -j 2 is at least 1.7 times as fast as -j 1 (median of the paired ratios). The outputs of
# -j 1 and -j 2 must be byte for byte the same.
# Usage: bench/run-cli-jobs.sh BIN_DIR
source "$(dirname "$0")/bench.sh"
need sox ffmpeg ffprobe cmp xargs

files=8
seconds=60
mkdir -p "$scratch/in" "$scratch/j1" "$scratch/j2" "$scratch/f1" "$scratch/f2"
for k in $(seq 1 $files); do
  sox -q -n -r 44100 -c 2 -b 16 "$scratch/in/song$k.wav" synth "$seconds" pinknoise synth "$seconds" \
    sine mix $((200 + 50 * k)) vol 0.4
done
echo "$files files of $seconds s, 44.1 kHz stereo WAV -> 22050 Hz mono MP3 at 32 kbit/s ($(nproc) cores)"

peer() { # files at once, output folder
  printf '%s\n' "$scratch/in"/*.wav | xargs -P "$1" -I{} sh -c \
    'ffmpeg -nostdin -v error -y -i "$1" -ac 1 -ar 22050 -c:a libmp3lame -b:a 32k -compression_level 0 -reservoir 0 "$2/$(basename "$1" .wav).mp3"' \
    _ {} "$2"
}

ours1="" ours2="" peer1="" peer2=""
for _ in $(seq "$runs"); do
  elapsed t "$bin/varkonel-convert" -q -y -c mono -b 32KB -j 1 -o "$scratch/j1" "$scratch/in"/*.wav
  ours1+=" $t"
  elapsed t "$bin/varkonel-convert" -q -y -c mono -b 32KB -j 2 -o "$scratch/j2" "$scratch/in"/*.wav
  ours2+=" $t"
  elapsed t peer 1 "$scratch/f1"
  peer1+=" $t"
  elapsed t peer 2 "$scratch/f2"
  peer2+=" $t"
done

for k in $(seq 1 $files); do
  mp3_check "$scratch/j1/song$k.mp3" 22050 1 32
  # The ID3v1 tag holds the start of the output path: the audio must be the same.
  cmp -s <(mp3_audio "$scratch/j1/song$k.mp3") <(mp3_audio "$scratch/j2/song$k.mp3") \
    || bench_error "song$k.mp3 differs between -j 1 and -j 2"
done
printf 'medians: varkonel-convert -j 1 %.3f s, -j 2 %.3f s; ffmpeg one at a time %.3f s, two at a time %.3f s\n' \
  "$(median $ours1)" "$(median $ours2)" "$(median $peer1)" "$(median $peer2)"
echo "ffmpeg's speed-up from two at a time: $(median $(ratios "$peer1" "$peer2"))"
result jobs-2-speedup "$(median $(ratios "$ours1" "$ours2"))" ">=" 1.7
bench_done
