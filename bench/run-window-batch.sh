#!/usr/bin/env bash
# The window converting a selection with one START (WindowBench batch: a MainDialog on Qt's
# offscreen platform, every row selected, Convert and START pressed as a user would, the
# closing message answered), in two parts:
#  - 200 one-second 44.1 kHz stereo WAV files to MP3 at "64KB" stereo with 2 jobs, against
#    `varkonel-convert -j 2` with the same settings on the same files, each into a fresh empty
#    folder, alternating. The window's time is its batch's, from START until the Convert dialog
#    closes (the program's start and the listing are not part of it); the tool's is its whole
#    process. Target: at most 1.15 times the tool's time (median of the paired ratios). Both
#    must convert every file, to the same audio.
#  - The event loop's longest stall (a 5 ms timer's longest gap) while 2 jobs run over a list of
#    5,000 rows, stopped with ABORT after BENCH_ABORT_AFTER seconds (default 8; the whole list
#    takes about half a minute on two cores, and 0 runs it all). Target: below 100 ms (median of
#    the runs); ABORT must end the batch within 200 ms.
# Usage: bench/run-window-batch.sh BIN_DIR
source "$(dirname "$0")/bench.sh"
need sox ffmpeg ffprobe cmp ln
[ -x "$bin/WindowBench" ] || bench_error "$bin/WindowBench is missing: build the window (Qt 6) first"
export QT_QPA_PLATFORM=offscreen

# settings_file PATH OUTPUT-FOLDER BITRATE CHANNELS JOBS: the window's settings file with these
# texts (format and quality empty: Auto), as the window writes it: six counted texts.
settings_file() {
  local text
  {
    printf '\006\000'
    for text in "$2/" "$3" "$4" "" "" "$5"; do
      ((${#text} < 255)) || bench_error "settings text too long: $text"
      printf "\\$(printf %03o "${#text}")%s" "$text"
    done
  } >"$1"
}

# window_batch OUTPUT-FOLDER [--abort-after S] FILE...: the window's batch with 2 jobs at "64KB"
# stereo into OUTPUT-FOLDER (made fresh); its report into $scratch/window.out.
window_batch() {
  local out=$1
  shift
  rm -rf "$out" && mkdir -p "$out"
  settings_file "$scratch/window.ini" "$out" 64KB stereo 2
  local abort=()
  if [ "$1" = --abort-after ]; then
    [ "$2" = 0 ] || abort=(--abort-after "$2")
    shift 2
  fi
  "$bin/WindowBench" batch "${abort[@]}" "$scratch/window.ini" "$@" >"$scratch/window.out" \
    2>"$scratch/last-stderr" || bench_error "WindowBench failed: $(head -c 300 "$scratch/last-stderr")"
  [ "$(reported jobs)" = 2 ] || bench_error "the window ran $(reported jobs) jobs, not 2"
}
# reported NAME: a value of the last window report.
reported() {
  awk -v n="$1" '$1 == n { print $2 }' "$scratch/window.out"
}

# First: 200 files, the window against the tool.
files=200
mkdir -p "$scratch/in"
for k in $(seq -w 1 $files); do
  sox -q -n -r 44100 -c 2 -b 16 "$scratch/in/s$k.wav" synth 1 sine $((200 + 10#$k * 7)) vol 0.4
done
list=("$scratch/in"/*.wav)

ours_times="" peer_times="" ui_cpu=""
for run in $(seq "$runs"); do
  window_batch "$scratch/window-out" "${list[@]}"
  for name in rows converted; do
    [ "$(reported $name)" = "$files" ] || bench_error "the window's $name: $(reported $name) of $files"
  done
  [ "$(reported messages)" = 0 ] || bench_error "the window showed $(reported messages) message(s)"
  ours_times+=" $(awk -v ms="$(reported batch-ms)" 'BEGIN { printf "%.6f", ms / 1000 }')"
  ui_cpu+=" $(reported ui-cpu-ms)"
  rm -rf "$scratch/tool-out" && mkdir -p "$scratch/tool-out"
  elapsed t "$bin/varkonel-convert" -q -j 2 -b 64KB -c stereo -f auto -o "$scratch/tool-out" "${list[@]}"
  peer_times+=" $t"
done

for out in window-out tool-out; do
  made=$(find "$scratch/$out" -name '*.mp3' | wc -l)
  ((made == files)) || bench_error "$out holds $made MP3 files of $files"
done
for k in $(seq -w 1 37 $files); do
  mp3_check "$scratch/window-out/s$k.mp3" 44100 2 64
  plays_for "$scratch/window-out/s$k.mp3" 0.9 1.2
  # The tags hold the output path: the audio between them must be the same.
  cmp -s <(mp3_audio "$scratch/window-out/s$k.mp3") <(mp3_audio "$scratch/tool-out/s$k.mp3") \
    || bench_error "s$k.mp3 differs between the window and varkonel-convert"
done
paired "the window's batch of $files files, 2 jobs" "varkonel-convert -j 2"
printf "the window's interface thread took a median %.0f ms of processor time during the batch\n" "$(median $ui_cpu)"
result window-batch-over-cli "$ratio" "<=" 1.15

# Then: 5,000 rows (four kinds of WAV file and one MP3 in ten, hard links to five files).
rows=5000
seconds=${BENCH_ABORT_AFTER:-8}
short_files "$scratch/many" "$rows"
many=("$scratch/many"/*)

stalls="" aborts="" converted="" batch_ms=""
for run in $(seq "$runs"); do
  window_batch "$scratch/many-out" --abort-after "$seconds" "${many[@]}"
  [ "$(reported rows)" = "$rows" ] || bench_error "the window listed $(reported rows) rows of $rows"
  done_rows=$(reported converted)
  if [ "$seconds" = 0 ]; then
    ((done_rows == rows)) || bench_error "$done_rows rows of $rows converted"
  else
    ((done_rows > 0 && done_rows < rows)) || bench_error "$done_rows rows converted before ABORT"
  fi
  # An MP3 row converts to WAV: every converted row left a file.
  made=$(find "$scratch/many-out" -type f | wc -l)
  ((made >= done_rows)) || bench_error "$made output files for $done_rows converted rows"
  stalls+=" $(reported stall-ms)"
  batch_ms+=" $(reported batch-ms)"
  [ "$seconds" = 0 ] || aborts+=" $(reported abort-ms)"
  converted+=" $done_rows"
done
printf 'the window over %d rows, 2 jobs: median %.0f rows converted in %.1f s; the event loop held for at most %.0f ms (median of %d runs; the largest %.0f ms)\n' \
  "$rows" "$(median $converted)" "$(awk -v ms="$(median $batch_ms)" 'BEGIN { print ms / 1000 }')" "$(median $stalls)" "$runs" "$(printf '%s\n' $stalls | sort -g | tail -n 1)"
if [ "$seconds" != 0 ]; then
  printf 'ABORT pressed after %s s, answered in a median %.0f ms (at most %.0f)\n' \
    "$seconds" "$(median $aborts)" "$(printf '%s\n' $aborts | sort -g | tail -n 1)"
  result window-batch-abort-ms "$(median $aborts)" "<=" 200
fi
result window-batch-5000-stall-ms "$(median $stalls)" "<" 100
bench_done
