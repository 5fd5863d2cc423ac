#!/usr/bin/env bash
# MP3 -> WAV with varkonel-convert beside two peers doing the same job, as whole processes:
# a generated 10-minute 44.1 kHz joint-stereo MP3 (128 kbit/s, LAME's information frame) to
# mono 16-bit WAV at the rate of the "32KB" (22050 Hz) and "64KB" (44100 Hz) settings.
#   ffmpeg:  ffmpeg -v error -y -i in.mp3 -ac 1 -ar RATE -c:a pcm_s16le out.wav
#   mpg123:  mpg123 -q -m -r RATE -w out.wav in.mp3
# The three run in turn, in an order that alternates from run to run, RUNS times (at least 5).
# For each setting and peer it prints the median times and the median of the per-run ratios
# ours / peer, and one line per target:
#   RESULT mp3-to-wav-<setting>-vs-<peer> <median ratio> <= <limit> PASS|FAIL
# Targets: at most 1.00 x ffmpeg and at most 1.30 x mpg123.
# Every output is checked (mono, 16-bit signed PCM, the rate, the sample count, a level close
# to ffmpeg's) so that a broken run cannot pass.
# Usage: run-mp3-to-wav.sh BIN_DIR. Writes only under BIN_DIR/../bench-scratch/mp3-to-wav/,
# which it removes at the end. Exit status: 0 all targets met, 1 a target missed, 2 an error of
# the benchmark itself (a failing command, a missing tool, an unexpected output).
set -Eeuo pipefail
trap 'echo "run-mp3-to-wav.sh: failed at line $LINENO: $BASH_COMMAND" >&2; exit 2' ERR

fail() { # message: an error of the benchmark itself
  echo "run-mp3-to-wav.sh: $*" >&2
  exit 2
}

[ $# -eq 1 ] || fail "usage: run-mp3-to-wav.sh BIN_DIR"
bin=$(cd "$1" && pwd) || fail "no folder $1"
[ -x "$bin/varkonel-convert" ] || fail "$bin/varkonel-convert is missing"
for tool in ffmpeg mpg123 sox soxi lame awk; do
  command -v "$tool" >/dev/null || fail "$tool is needed (scripts/setup-deps installs it)"
done

scratch=$(cd "$bin/.." && pwd)/bench-scratch/mp3-to-wav
rm -rf "$scratch"
mkdir -p "$scratch/ours" "$scratch/ffmpeg" "$scratch/mpg123"
trap 'rm -rf "$scratch"' EXIT

seconds=${SECONDS_OF_AUDIO:-600}
runs=${RUNS:-7}
[ "$seconds" -ge 300 ] || fail "SECONDS_OF_AUDIO must be at least 300"
[ "$runs" -ge 5 ] || fail "RUNS must be at least 5"

# Pink noise with a sweeping tone on each side, different left and right, as joint-stereo MP3.
sox -q -r 44100 -c 2 -n -b 16 "$scratch/in.wav" synth "$seconds" pinknoise synth "$seconds" \
  sine mix 300-900 sine mix 2000-700 vol 0.5
lame --quiet -b 128 -m j "$scratch/in.wav" "$scratch/in.mp3"
rm -f "$scratch/in.wav"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", b - a }'; }
median() { # numbers on standard input
  sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) exit 1; m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.3f", m }'
}
ratios() { # two files of times, one per line: ours / peer for each run
  paste "$1" "$2" | awk '{ printf "%.4f\n", $1 / $2 }'
}

# The output must be mono 16-bit signed PCM at the rate with the source's length (the peers may
# differ by a few milliseconds at the edges), and at a level within 1 dB of ffmpeg's.
check() { # file rate reference-rms
  local file=$1 rate=$2 reference=${3:-}
  [ -s "$file" ] || fail "no output $file"
  local channels bits encoding got count expected rms
  channels=$(soxi -c "$file") bits=$(soxi -b "$file") encoding=$(soxi -e "$file") got=$(soxi -r "$file")
  count=$(soxi -s "$file")
  expected=$((seconds * rate))
  [ "$channels" = 1 ] && [ "$bits" = 16 ] && [ "$encoding" = "Signed Integer PCM" ] && [ "$got" = "$rate" ] \
    || fail "$file is not mono 16-bit PCM at $rate Hz ($channels channels, $bits bits, $encoding, $got Hz)"
  awk -v c="$count" -v e="$expected" -v r="$rate" 'BEGIN { d = c - e; exit !(d <= r / 50 && -d <= r / 50) }' \
    || fail "$file holds $count samples, $expected expected"
  rms=$(sox "$file" -n stat 2>&1 | awk '/^RMS +amplitude/ { print $3 }')
  [ -n "$rms" ] || fail "no level of $file"
  if [ -n "$reference" ]; then
    awk -v a="$rms" -v b="$reference" 'BEGIN { exit !(a > 0 && b > 0 && (a / b < 1.122 && b / a < 1.122)) }' \
      || fail "$file has an RMS level of $rms, ffmpeg's has $reference"
  fi
  echo "$rms"
}

status=0
result() { # target measured limit
  local verdict=PASS
  awk -v m="$2" -v l="$3" 'BEGIN { exit !(m <= l) }' || { verdict=FAIL; status=1; }
  printf 'RESULT %s %.2f <= %.2f %s\n' "$1" "$2" "$3" "$verdict"
}

echo "== $seconds s of 44.1 kHz joint-stereo MP3 at 128 kbit/s -> mono 16-bit WAV, $runs runs, $(nproc) cores"
for setting in 32KB 64KB; do
  case $setting in
    32KB) rate=22050 ;;
    64KB) rate=44100 ;;
  esac
  : >"$scratch/t-ours" ; : >"$scratch/t-ffmpeg" ; : >"$scratch/t-mpg123"
  ours() { "$bin/varkonel-convert" -q -y -c mono -b "$setting" -o "$scratch/ours" "$scratch/in.mp3" >/dev/null; }
  ffmpeg_peer() {
    ffmpeg -nostdin -v error -y -i "$scratch/in.mp3" -ac 1 -ar "$rate" -c:a pcm_s16le "$scratch/ffmpeg/in.wav"
  }
  mpg123_peer() { mpg123 -q -m -r "$rate" -w "$scratch/mpg123/in.wav" "$scratch/in.mp3"; }
  timed() { # times file, command
    local t0 t1
    t0=$(now); "$2"; t1=$(now)
    echo "$(elapsed "$t0" "$t1")" >>"$1"
  }
  for run in $(seq 1 "$runs"); do
    if [ $((run % 2)) = 1 ]; then
      timed "$scratch/t-ours" ours; timed "$scratch/t-ffmpeg" ffmpeg_peer; timed "$scratch/t-mpg123" mpg123_peer
    else
      timed "$scratch/t-mpg123" mpg123_peer; timed "$scratch/t-ffmpeg" ffmpeg_peer; timed "$scratch/t-ours" ours
    fi
  done
  reference=$(check "$scratch/ffmpeg/in.wav" "$rate")
  check "$scratch/ours/in.wav" "$rate" "$reference" >/dev/null
  check "$scratch/mpg123/in.wav" "$rate" "$reference" >/dev/null

  echo "\"$setting\" ($rate Hz), median of $runs: varkonel-convert $(median <"$scratch/t-ours") s," \
    "ffmpeg $(median <"$scratch/t-ffmpeg") s, mpg123 $(median <"$scratch/t-mpg123") s"
  result "mp3-to-wav-$setting-vs-ffmpeg" "$(ratios "$scratch/t-ours" "$scratch/t-ffmpeg" | median)" 1.00
  result "mp3-to-wav-$setting-vs-mpg123" "$(ratios "$scratch/t-ours" "$scratch/t-mpg123" | median)" 1.30
done
exit $status
