# Shared by the bench/run-NAME.sh scripts (sourced, not run). Every script is called as
#   bench/run-NAME.sh BIN_DIR        (BIN_DIR: the build's bin folder, e.g. build/bin)
# writes only under BIN_DIR/../bench-scratch/NAME/, times whole processes (ours and the peer
# alternating, BENCH_RUNS runs, at least 5), and prints one line per target:
#   RESULT <target> <measured> <op> <limit> PASS|FAIL       (op: <=, >= or <)
# It exits 0 when every target is met, 1 when one is missed, and 2 on its own error: a command
# that failed, a missing tool, or an output that is not what the job should give. A broken run
# therefore never passes.
set -Eeuo pipefail

bench_name=$(basename "$0" .sh)
bench_name=${bench_name#run-}
bench_missed=0
runs=${BENCH_RUNS:-5}
((runs >= 5)) || runs=5

bench_error() {
  echo "$bench_name: $*" >&2
  exit 2
}
trap 'echo "$bench_name: command failed (line $LINENO): $BASH_COMMAND" >&2; exit 2' ERR

bin=${1:-}
[ -n "$bin" ] && [ -d "$bin" ] || bench_error "usage: bench/run-$bench_name.sh BIN_DIR (the build's bin folder)"
bin=$(cd "$bin" && pwd)
[ -x "$bin/varkonel-convert" ] || bench_error "$bin/varkonel-convert is missing: build first"
scratch="$(dirname "$bin")/bench-scratch/$bench_name"
rm -rf "$scratch"
mkdir -p "$scratch/tmp" "$scratch/config"
# Nothing outside the scratch folder: temporary files of the tools, and no settings file of the
# user's (every option the run depends on is given on the command line).
export TMPDIR="$scratch/tmp" XDG_CONFIG_HOME="$scratch/config"

# need TOOL...: each must be on the PATH.
need() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || bench_error "$tool is needed (scripts/setup-deps installs it)"
  done
}
need awk sort

# elapsed VAR COMMAND...: runs the command (its output discarded) and stores its wall time in
# seconds in VAR. A failing command is an error of the benchmark.
elapsed() {
  local var=$1 start end
  shift
  start=$EPOCHREALTIME
  "$@" >/dev/null 2>"$scratch/last-stderr" || bench_error "failed: $* ($(head -c 300 "$scratch/last-stderr"))"
  end=$EPOCHREALTIME
  printf -v "$var" '%s' "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }')"
}

# peak_kib COMMAND...: runs the command and prints its peak resident memory in KiB.
peak_kib() {
  need /usr/bin/time
  /usr/bin/time -f %M -o "$scratch/peak" "$@" >/dev/null 2>"$scratch/last-stderr" \
    || bench_error "failed: $* ($(head -c 300 "$scratch/last-stderr"))"
  tail -n 1 "$scratch/peak"
}

# median NUMBER...
median() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.6f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# ratios A-LIST B-LIST: the pairwise ratios a[i] / b[i] of two space-separated lists.
ratios() {
  awk -v a="$1" -v b="$2" 'BEGIN { n = split(a, x, " "); split(b, y, " ");
    for (i = 1; i <= n; i++) printf "%.6f\n", x[i] / y[i] }'
}

# paired LABEL-OURS LABEL-PEER: after the lists ours_times and peer_times are filled, prints the
# medians and sets `ratio` to the median of the paired ratios ours / peer.
paired() {
  local ours_median peer_median
  ours_median=$(median $ours_times)
  peer_median=$(median $peer_times)
  ratio=$(median $(ratios "$ours_times" "$peer_times"))
  printf '%s: median %.3f s; %s: median %.3f s; median of paired ratios %.3f (%d runs)\n' \
    "$1" "$ours_median" "$2" "$peer_median" "$ratio" "$runs"
}

# result TARGET MEASURED OP LIMIT: prints the RESULT line and remembers a missed target.
result() {
  local verdict
  verdict=$(awk -v m="$2" -v op="$3" -v l="$4" 'BEGIN {
    ok = op == "<=" ? m <= l : op == ">=" ? m >= l : op == "<" ? m < l : -1
    print ok == 1 ? "PASS" : ok == 0 ? "FAIL" : "BAD" }')
  [ "$verdict" != BAD ] || bench_error "unknown comparison $3"
  echo "RESULT $1 $2 $3 $4 $verdict"
  [ "$verdict" = PASS ] || bench_missed=1
}

bench_done() {
  exit $((bench_missed ? 1 : 0))
}

# mp3_check FILE RATE CHANNELS KBPS: the file is an MP3 stream at that rate and channel count,
# and its bitrate (as ffprobe reads it: the average over the file, which the information frame
# and the tag move a little) is within 2 % of KBPS, else an error of the benchmark.
mp3_check() {
  local found
  found=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels,bit_rate \
    -of csv=p=0 "$1" 2>/dev/null) || bench_error "$1: not readable as audio"
  awk -v f="$found" -v r="$2" -v c="$3" -v k="$4" 'BEGIN { split(f, v, ",");
    exit !(v[1] == "mp3" && v[2] == r && v[3] == c && v[4] > k * 980 && v[4] < k * 1020) }' \
    || bench_error "$1: expected an MP3 stream at $2 Hz, $3 channel(s), $4 kbit/s; found '$found'"
}

# mp3_audio FILE: the bytes of an MP3 file between its ID3v2 tag and its 128-byte ID3v1 tag,
# which hold the source's tags and the output path.
mp3_audio() {
  local size=0 a b c d
  if [ "$(head -c 3 "$1")" = ID3 ]; then
    read -r a b c d < <(od -An -tu1 -j6 -N4 "$1")
    size=$((10 + (a << 21 | b << 14 | c << 7 | d)))
  fi
  tail -c +$((size + 1)) "$1" | head -c -128
}

# duration FILE: the play time in seconds as ffprobe reads it.
duration() {
  ffprobe -v error -show_entries format=duration -of csv=p=0 "$1"
}

# plays_for FILE LOW HIGH: an error of the benchmark unless FILE plays more than LOW and less
# than HIGH seconds.
plays_for() {
  awk -v d="$(duration "$1")" -v low="$2" -v high="$3" 'BEGIN { exit !(d > low && d < high) }' \
    || bench_error "$1 does not play between $2 and $3 s"
}

# ffmpeg_mp3 SOURCE OUTPUT: ffmpeg doing what `varkonel-convert -c mono -b 64KB` does: downmix,
# 44100 Hz, libmp3lame at 64 kbit/s, LAME quality 5, bit reservoir on.
ffmpeg_mp3() {
  ffmpeg -nostdin -v error -y -i "$1" -ac 1 -ar 44100 -c:a libmp3lame -b:a 64k -compression_level 5 "$2"
}

# short_files DIR COUNT: COUNT one-second files in DIR named s0001.wav ... (four kinds of WAV
# file and one MP3 in ten), hard links to five files made once in DIR/../kinds.
short_files() {
  local kinds_dir k kind
  kinds_dir="$(dirname "$1")/kinds"
  mkdir -p "$kinds_dir" "$1"
  sox -q -n -r 44100 -c 2 -b 16 "$kinds_dir/a.wav" synth 1 sine 440 vol 0.4
  sox -q -n -r 22050 -c 1 -b 16 "$kinds_dir/b.wav" synth 1 sine 550 vol 0.4
  sox -q -n -r 48000 -c 2 -b 24 "$kinds_dir/c.wav" synth 1 sine 660 vol 0.4
  sox -q -n -r 8000 -c 1 -b 8 "$kinds_dir/d.wav" synth 1 sine 330 vol 0.4
  ffmpeg -nostdin -v error -y -i "$kinds_dir/a.wav" -c:a libmp3lame -b:a 128k "$kinds_dir/e.mp3"
  local kinds=(a.wav b.wav c.wav d.wav a.wav b.wav c.wav d.wav a.wav e.mp3)
  for k in $(seq -w 1 "$2"); do
    kind=${kinds[$((10#$k % 10))]}
    ln "$kinds_dir/$kind" "$1/s$k.${kind##*.}"
  done
}
