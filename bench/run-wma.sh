#!/usr/bin/env bash
# WMA to MP3 with varkonel-convert against ffmpeg doing the same job from the same file (a
# generated two-minute 128 kbit/s stereo WMA): decoded by FFmpeg on both sides, mixed down to
# mono and encoded at "64KB" (44100 Hz, 64 kbit/s, LAME quality 5, bit reservoir on). Target:
# at most 1.10 times ffmpeg's time (median of the paired ratios).
# Usage: bench/run-wma.sh BIN_DIR
source "$(dirname "$0")/bench.sh"
need ffmpeg ffprobe

seconds=120
mkdir -p "$scratch/ours" "$scratch/peer"
ffmpeg -nostdin -v error -y -f lavfi \
  -i "aevalsrc=0.3*sin(2*PI*(200+50*sin(t/7))*t)+0.05*sin(2*PI*4000*t)|0.3*sin(2*PI*330*t)+0.1*sin(2*PI*(900+100*sin(t/3))*t):s=44100:d=$seconds" \
  -c:a wmav2 -b:a 128k "$scratch/talk.wma"

ours_times="" peer_times=""
for _ in $(seq "$runs"); do
  elapsed t "$bin/varkonel-convert" -q -y -c mono -b 64KB -o "$scratch/ours" "$scratch/talk.wma"
  ours_times+=" $t"
  elapsed t ffmpeg_mp3 "$scratch/talk.wma" "$scratch/peer/talk.mp3"
  peer_times+=" $t"
done
mp3_check "$scratch/ours/talk.mp3" 44100 1 64
plays_for "$scratch/ours/talk.mp3" "$((seconds - 1)).8" "$seconds.2"
paired "varkonel-convert WMA -> MP3" "ffmpeg"
result wma-to-mp3-over-ffmpeg "$ratio" "<=" 1.10
bench_done
