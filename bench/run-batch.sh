#!/usr/bin/env bash
# A batch of 200 one-second WAV files (44.1 kHz stereo) to MP3 at "64KB" mono, one file at a
# time (-j 1), against ffmpeg run once per file doing the same job (downmix, libmp3lame at
# 64 kbit/s, LAME quality 5, bit reservoir on, 44100 Hz). Targets:
#   - the batch is at least 3 times as fast as the ffmpeg runs (median of the paired ratios
#     ffmpeg / ours);
#   - no file of the batch takes more than 1.5 times the median file. A file's time is the gap
#     between the moment its output got its name and the moment the previous output got its
#     own: the job's work plus however long the batch took to notice the previous job's end
#     and start this one. (The first file also carries the program's start and is left out.)
#     The moments are those of the system calls that name the outputs (linkat, rename*), taken
#     by the kernel's tracepoints through perf in a traced run beside each timed one (the output
#     files' own times are kept in clock ticks of 4 ms, too coarse for jobs of some 10 ms). Where
#     perf may not trace (no permission), strace takes them instead; strace stops every thread the
#     batch makes (three per job) to attach to it, which makes jobs slower and less even than
#     they are, so its figure is only an upper bound. Each run
#     gives the slowest file over the median file; the figure is the median of the runs, so a
#     single stall of a shared machine does not decide it, while a batch that keeps missing
#     job ends does.
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
    ffmpeg_mp3 "$f" "$scratch/peer/$(basename "$f" .wav).mp3" || return 1
  done
}

# The moments (in seconds, one a line) at which the outputs of a batch got their names: from
# perf when it may trace system calls, else from strace.
events="syscalls:sys_exit_linkat,syscalls:sys_exit_rename,syscalls:sys_exit_renameat,syscalls:sys_exit_renameat2"
if command -v perf >/dev/null && perf record -q -o "$scratch/perf-check" -e "$events" -- true 2>/dev/null; then
  naming_moments() {
    perf record -q -o "$scratch/perf.data" -e "$events" -- "$@" 2>/dev/null || return 1
    perf script -i "$scratch/perf.data" -F time,trace 2>/dev/null | awk '$NF == "0x0" { sub(":", "", $1); print $1 }'
  }
else
  need strace
  echo "perf may not trace system calls here: strace times the batch (slower and less even)"
  naming_moments() {
    strace -f -qq --seccomp-bpf -ttt -e trace=linkat,rename,renameat,renameat2 -o "$scratch/trace" "$@" || return 1
    grep -E '(linkat|rename[a-z0-9]*)\(.*\.mp3.* = 0$' "$scratch/trace" | awk '{ print $2 }'
  }
fi

# The slowest file over the median file of a traced batch: the gaps between the moments the
# outputs were named.
spread() {
  rm -f "$scratch/ours"/*.mp3
  naming_moments "$bin/varkonel-convert" -q -y -j 1 -c mono -b 64KB -o "$scratch/ours" "$scratch/in"/*.wav \
    > "$scratch/moments" || bench_error "the traced batch failed"
  sort -g "$scratch/moments" | awk '
    NR > 1 { gap[++n] = $1 - last } { last = $1 }
    END {
      if (n < 2) { print "error"; exit }
      for (i = 2; i <= n; i++) { v = gap[i]; j = i - 1; while (j > 0 && gap[j] > v) { gap[j + 1] = gap[j]; j-- } gap[j + 1] = v }
      median = n % 2 ? gap[(n + 1) / 2] : (gap[n / 2] + gap[n / 2 + 1]) / 2
      printf "%.3f %.4f %.4f %d\n", gap[n] / median, median, gap[n], n + 1
    }'
}

ours_times="" peer_times="" spreads=""
for run in $(seq "$runs"); do
  read -r worst median_file slowest named < <(spread)
  [ "$worst" != error ] && [ "$named" -eq $files ] || bench_error "the traced batch did not name $files outputs"
  spreads+=" $worst"
  rm -f "$scratch/ours"/*.mp3
  elapsed t "$bin/varkonel-convert" -q -y -j 1 -c mono -b 64KB -o "$scratch/ours" "$scratch/in"/*.wav
  ours_times+=" $t"
  echo "run $run: batch $t s; traced: median file $median_file s, slowest $slowest s ($worst x)"
  elapsed t peer_batch
  peer_times+=" $t"
done

count=$(find "$scratch/ours" -name '*.mp3' | wc -l)
[ "$count" -eq $files ] || bench_error "the batch wrote $count of $files files"
for f in "$scratch/ours"/s001.mp3 "$scratch/ours"/s$files.mp3; do
  mp3_check "$f" 44100 1 64
  plays_for "$f" 0.95 1.1
done

# The target is a speed-up: the peer's time over ours.
paired "varkonel-convert -j 1, $files files" "ffmpeg once per file"
speedup=$(median $(ratios "$peer_times" "$ours_times"))
result batch-speedup-vs-ffmpeg "$speedup" ">=" 3
result batch-slowest-over-median-file "$(median $spreads)" "<=" 1.5
bench_done
