#!/usr/bin/env bash
# Start-up and short jobs, whole processes:
#   - varkonel-convert --help: at most 20 ms (median wall time) and 15 MiB peak resident memory;
#   - a one-second WAV file (44.1 kHz stereo) to MP3 at "64KB" mono, start to end: at most 80 ms
#     (median wall time), beside ffmpeg doing the same job for reference;
#   - neither of the two loads the media module or FFmpeg (the system loader's LD_DEBUG=files
#     log), while a job on an MP3 file does.
# Usage: bench/run-startup.sh BIN_DIR
source "$(dirname "$0")/bench.sh"
need sox ffmpeg ffprobe /usr/bin/time

# --help: the text must be the help, not an error.
"$bin/varkonel-convert" --help >"$scratch/help.txt" 2>&1 || bench_error "--help failed"
grep -q -- "--cd-device" "$scratch/help.txt" || bench_error "--help does not print the help"
help_times="" help_peaks=""
for _ in $(seq "$runs"); do
  elapsed t "$bin/varkonel-convert" --help
  help_times+=" $t"
  help_peaks+=" $(peak_kib "$bin/varkonel-convert" --help)"
done
help_ms=$(awk -v s="$(median $help_times)" 'BEGIN { printf "%.1f", s * 1000 }')
help_mib=$(awk -v k="$(median $help_peaks)" 'BEGIN { printf "%.1f", k / 1024 }')
echo "varkonel-convert --help: median ${help_ms} ms, peak ${help_mib} MiB ($runs runs)"

mkdir -p "$scratch/ours" "$scratch/peer"
sox -q -n -r 44100 -c 2 -b 16 "$scratch/one.wav" synth 1 pinknoise synth 1 sine mix 440 vol 0.4
ours_times="" peer_times=""
for _ in $(seq "$runs"); do
  elapsed t "$bin/varkonel-convert" -q -y -c mono -b 64KB -o "$scratch/ours" "$scratch/one.wav"
  ours_times+=" $t"
  elapsed t ffmpeg_mp3 "$scratch/one.wav" "$scratch/peer/one.mp3"
  peer_times+=" $t"
done
mp3_check "$scratch/ours/one.mp3" 44100 1 64
plays_for "$scratch/ours/one.mp3" 0.95 1.1
paired "varkonel-convert, 1 s WAV -> MP3" "ffmpeg"
one_ms=$(awk -v s="$(median $ours_times)" 'BEGIN { printf "%.1f", s * 1000 }')

# ffmpeg_loads COMMAND...: how many of the media module's and FFmpeg's libraries the command loads.
ffmpeg_loads() {
  LD_DEBUG=files "$@" 2>&1 >/dev/null \
    | awk 'match($0, /file=[^ ]*(libvarkonel_media|libav[a-z]*|libswresample)\.so[^ ]*/) {
        seen[substr($0, RSTART, RLENGTH)] = 1 } END { print length(seen) }'
}
help_loads=$(ffmpeg_loads "$bin/varkonel-convert" --help)
wav_loads=$(ffmpeg_loads "$bin/varkonel-convert" -q -y -c mono -b 64KB -o "$scratch/ours" "$scratch/one.wav")
mkdir -p "$scratch/back"
mp3_loads=$(ffmpeg_loads "$bin/varkonel-convert" -q -y -o "$scratch/back" "$scratch/ours/one.mp3")
echo "libraries of the media module and FFmpeg loaded: --help $help_loads, WAV job $wav_loads, MP3 job $mp3_loads"
((mp3_loads >= 2)) || bench_error "an MP3 job loaded no media module: LD_DEBUG=files shows nothing to count"

result help-time-ms "$help_ms" "<=" 20
result help-peak-mib "$help_mib" "<=" 15
result one-second-job-ms "$one_ms" "<=" 80
result help-ffmpeg-libraries "$help_loads" "<=" 0
result wav-job-ffmpeg-libraries "$wav_loads" "<=" 0
bench_done
