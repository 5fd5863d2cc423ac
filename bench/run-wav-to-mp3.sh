#!/usr/bin/env bash
# WAV to MP3 with varkonel-convert against LAME alone doing the same job from the same file
# (a generated 44.1 kHz stereo WAV): mono, constant bitrate, the same LAME quality level and
# bit reservoir setting, the same output rate, no ReplayGain analysis, LAME's information
# frame on both sides:
#   "64KB": 44100 Hz, 64 kbit/s, quality 5, reservoir on   (lame -q 5 --resample 44.1 -o)
#   "32KB": 22050 Hz, 32 kbit/s, quality 0, reservoir off  (lame -q 0 --nores --resample 22.05)
# Targets: at most 1.05 times LAME's time at each setting (median of the paired ratios), and
# a peak resident memory under 32 MiB converting a long file (10 minutes, about 100 MiB): the
# audio streams through, it is never held whole.
# Usage: bench/run-wav-to-mp3.sh BIN_DIR
source "$(dirname "$0")/bench.sh"
need sox lame ffprobe /usr/bin/time

seconds=120
mkdir -p "$scratch/ours" "$scratch/peer" "$scratch/long"
sox -q -n -r 44100 -c 2 -b 16 "$scratch/in.wav" synth "$seconds" pinknoise synth "$seconds" sine mix 440 vol 0.4

for setting in 64KB 32KB; do
  case $setting in
    64KB) rate=44100 kbps=64 peer=(-q 5 --resample 44.1 -o) ;;
    32KB) rate=22050 kbps=32 peer=(-q 0 --nores --resample 22.05) ;;
  esac
  ours_times="" peer_times=""
  for _ in $(seq "$runs"); do
    elapsed t "$bin/varkonel-convert" -q -y -c mono -b "$setting" -o "$scratch/ours" "$scratch/in.wav"
    ours_times+=" $t"
    elapsed t lame --quiet -m m --cbr -b "$kbps" "${peer[@]}" --noreplaygain "$scratch/in.wav" "$scratch/peer/in.mp3"
    peer_times+=" $t"
  done
  mp3_check "$scratch/ours/in.mp3" "$rate" 1 "$kbps"
  mp3_check "$scratch/peer/in.mp3" "$rate" 1 "$kbps"
  plays_for "$scratch/ours/in.mp3" "$((seconds - 1)).9" "$seconds.1"
  paired "\"$setting\" varkonel-convert" "lame"
  result "wav-to-mp3-$setting-over-lame" "$ratio" "<=" 1.05
done

sox -q -n -r 44100 -c 2 -b 16 "$scratch/long/long.wav" synth 600 pinknoise synth 600 sine mix 440 vol 0.4
peak=$(peak_kib "$bin/varkonel-convert" -q -y -c mono -b 64KB -o "$scratch/long" "$scratch/long/long.wav")
mp3_check "$scratch/long/long.mp3" 44100 1 64
echo "10 minutes of WAV to \"64KB\": peak $peak KiB"
result wav-to-mp3-long-peak-kib "$peak" "<=" 32767 # under 32 MiB
bench_done
