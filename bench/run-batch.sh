#!/usr/bin/env bash
# A batch of 200 one-second WAV files (44.1 kHz stereo) to MP3 at "64KB" mono, one file at a
# time (-j 1), against ffmpeg run once per file doing the same job (downmix, libmp3lame at
# 64 kbit/s, LAME quality 5, bit reservoir on, 44100 Hz). Targets:
#   - the batch is at least 3 times as fast as the ffmpeg runs (median of the paired ratios
#     ffmpeg / ours);
#   - no file of the batch takes more than 1.5 times the median file. A file's time is the gap
#     between its output's last write and the previous output's: the job's work plus however
#     long the batch took to notice the previous job's end and start this one. (The first file
#     also carries the program's start and is left out.) Each run gives the slowest file over
#     the median file; the figure is the median of the runs, so one stray stall of a shared
#     machine does not decide it, while a batch that keeps missing job ends does.
# Usage: bench/run-batch.sh BIN_DIR
source "$(dirname "$0")/bench.sh"
need sox ffmpeg ffprobe

files=200
mkdir -p "$scratch/in" "$scratch/ours" "$scratch/peer"
for k in $(seq -w 1 $files); do
  sox -q -n -r 44100 -c 2 -b 16 "$scratch/in/s$k.wav" synth 1 pinknoise synth 1 sine mix $((200 + 3 * 10#$k)) vol 0.4
done

peer_batch() {
  local f
  for f in "$scratch/in"/*.wav; do
    ffmpeg -nostdin -v error -y -i "$f" -ac 1 -ar 44100 -c:a libmp3lame -b:a 64k -compression_level 5 \
      "$scratch/peer/$(basename "$f" .wav).mp3" || return 1
  done
}

# The slowest file over the median file of the batch just written (outputs by completion time).
spread() {
  stat -c %.9Y "$scratch/ours"/*.mp3 | sort -g | awk '
    NR > 1 { gap[++n] = $1 - last } { last = $1 }
    END {
      if (n < 2) { print "error"; exit }
      for (i = 1; i <= n; i++) sorted[i] = gap[i]
      for (i = 2; i <= n; i++) { v = sorted[i]; j = i - 1; while (j > 0 && sorted[j] > v) { sorted[j + 1] = sorted[j]; j-- } sorted[j + 1] = v }
      median = n % 2 ? sorted[(n + 1) / 2] : (sorted[n / 2] + sorted[n / 2 + 1]) / 2
      printf "%.3f %.4f %.4f\n", sorted[n] / median, median, sorted[n]
    }'
}

ours_times="" peer_times="" spreads=""
for run in $(seq "$runs"); do
  rm -f "$scratch/ours"/*.mp3
  elapsed t "$bin/varkonel-convert" -q -y -j 1 -c mono -b 64KB -o "$scratch/ours" "$scratch/in"/*.wav
  ours_times+=" $t"
  read -r worst median_file slowest < <(spread)
  [ "$worst" != error ] || bench_error "the batch left fewer than three outputs"
  spreads+=" $worst"
  echo "run $run: batch $t s; median file $median_file s, slowest $slowest s ($worst x)"
  elapsed t peer_batch
  peer_times+=" $t"
done

count=$(find "$scratch/ours" -name '*.mp3' | wc -l)
[ "$count" -eq $files ] || bench_error "the batch wrote $count of $files files"
for f in "$scratch/ours"/s001.mp3 "$scratch/ours"/s$files.mp3; do
  mp3_check "$f" 44100 1 64
  awk -v d="$(duration "$f")" 'BEGIN { exit !(d > 0.95 && d < 1.1) }' || bench_error "$f does not play one second"
done

# The target is a speed-up: the peer's time over ours.
paired "varkonel-convert -j 1, $files files" "ffmpeg once per file"
speedup=$(median $(ratios "$peer_times" "$ours_times"))
result batch-speedup-vs-ffmpeg "$speedup" ">=" 3
result batch-slowest-over-median-file "$(median $spreads)" "<=" 1.5
bench_done
