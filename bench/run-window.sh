#!/usr/bin/env bash
# The window with a long list: 5,000 one-second files given as the program's arguments (four
# kinds of WAV file, 8 to 48 kHz, mono and stereo, and one MP3 in ten; hard links to five
# generated files), listed by the window (WindowBench add: a MainDialog on Qt's offscreen
# platform, shown once the rows are in) against `varkonel-convert --probe` listing the same
# files. Both are timed as whole processes, alternating. Target: the window takes at most twice
# the time of --probe (median of the paired ratios). Also printed: the time the window spent in
# adding the rows and the event loop's longest stall meanwhile (the window does not answer
# while it adds).
# Usage: bench/run-window.sh BIN_DIR
source "$(dirname "$0")/bench.sh"
need sox ffmpeg ln
[ -x "$bin/WindowBench" ] || bench_error "$bin/WindowBench is missing: build the window (Qt 6) first"
export QT_QPA_PLATFORM=offscreen

files=5000
short_files "$scratch/in" "$files"
list=("$scratch/in"/*)
((${#list[@]} == files)) || bench_error "made ${#list[@]} files, not $files"

# Both list every file once.
rows=$("$bin/varkonel-convert" --probe "${list[@]}" | wc -l)
((rows == files)) || bench_error "--probe listed $rows rows of $files files"

# window VAR: runs the window's add over the list, its wall time in seconds into VAR and its
# report into $scratch/window.out.
window() {
  local start end
  start=$EPOCHREALTIME
  "$bin/WindowBench" add "$scratch/window.ini" "${list[@]}" >"$scratch/window.out" 2>"$scratch/last-stderr" \
    || bench_error "WindowBench failed: $(head -c 300 "$scratch/last-stderr")"
  end=$EPOCHREALTIME
  printf -v "$1" '%s' "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }')"
}
# reported NAME: a value of the last window report.
reported() {
  awk -v n="$1" '$1 == n { print $2 }' "$scratch/window.out"
}

ours_times="" peer_times="" adds="" stalls=""
for _ in $(seq "$runs"); do
  window t
  [ "$(reported rows)" = "$files" ] || bench_error "the window listed $(reported rows) rows of $files files"
  ours_times+=" $t"
  adds+=" $(reported add-ms)"
  stalls+=" $(reported stall-ms)"
  elapsed t "$bin/varkonel-convert" --probe "${list[@]}"
  peer_times+=" $t"
done

paired "the window adding $files files" "varkonel-convert --probe"
printf 'the window: median %.0f ms in AddFiles; the event loop held for at most %.0f ms (median of the runs)\n' \
  "$(median $adds)" "$(median $stalls)"
result window-add-over-probe "$ratio" "<=" 2.0
bench_done
