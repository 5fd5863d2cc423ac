#!/usr/bin/env bash
# Each chosen output format against the reference encoder of its codec, from the same file (a
# generated 10-minute 44.1 kHz stereo 16-bit WAV), each side at the same quality:
#   flac (level 5)    flac -5
#   opus (128)        opusenc --bitrate 128        (both resample to 48 kHz, both VBR)
#   ogg (5)           oggenc -q5
#   m4a (192)         ffmpeg -c:a aac -b:a 192k    (FFmpeg's own AAC encoder, as ours)
#   mp3 (V2)          lame -V2                      (LAME's defaults: quality 3, the reservoir on)
# Targets: at most 1.10 times the reference's time (1.05 for MP3; median of the paired ratios),
# and a peak resident memory under 40 MiB for each format: the audio streams through.
# Usage: bench/run-formats.sh BIN_DIR
source "$(dirname "$0")/bench.sh"
need sox ffmpeg ffprobe flac opusenc oggenc lame /usr/bin/time

seconds=600
mkdir -p "$scratch/ours" "$scratch/peer"
sox -q -n -r 44100 -c 2 -b 16 "$scratch/in.wav" synth "$seconds" pinknoise synth "$seconds" sine mix 440 vol 0.4

# peer FORMAT OUTPUT: the reference encoder's command for FORMAT.
peer() {
  case $1 in
    flac) flac --silent -f -5 -o "$2" "$scratch/in.wav" ;;
    opus) opusenc --quiet --bitrate 128 "$scratch/in.wav" "$2" ;;
    ogg) oggenc --quiet -q5 -o "$2" "$scratch/in.wav" ;;
    m4a) ffmpeg -nostdin -v error -y -i "$scratch/in.wav" -c:a aac -b:a 192k "$2" ;;
    mp3) lame --quiet -V2 --noreplaygain "$scratch/in.wav" "$2" ;;
  esac
}

# check FILE CODEC RATE: the file holds one stream of CODEC at RATE, two channels, playing the
# source's ten minutes (within a frame of the codec), else an error of the benchmark.
check() {
  local found
  found=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels \
    -of csv=p=0 "$1" 2>/dev/null) || bench_error "$1: not readable as audio"
  [ "$found" = "$2,$3,2" ] || bench_error "$1: expected $2 at $3 Hz in stereo; found '$found'"
  plays_for "$1" "$((seconds - 1)).95" "$seconds.05"
}

for row in "flac 5 flac 44100 1.10" "opus 128 opus 48000 1.10" "ogg 5 vorbis 44100 1.10" \
  "m4a 192 aac 44100 1.10" "mp3 V2 mp3 44100 1.05"; do
  read -r format quality codec rate limit <<<"$row"
  ours_times="" peer_times=""
  for _ in $(seq "$runs"); do
    elapsed t "$bin/varkonel-convert" -q -y -c stereo -f "$format" --quality "$quality" \
      -o "$scratch/ours" "$scratch/in.wav"
    ours_times+=" $t"
    elapsed t peer "$format" "$scratch/peer/in.$format"
    peer_times+=" $t"
  done
  check "$scratch/ours/in.$format" "$codec" "$rate"
  check "$scratch/peer/in.$format" "$codec" "$rate"
  paired "$format $quality varkonel-convert" "reference encoder"
  result "format-$format-$quality-over-reference" "$ratio" "<=" "$limit"
  peak=$(peak_kib "$bin/varkonel-convert" -q -y -c stereo -f "$format" --quality "$quality" \
    -o "$scratch/ours" "$scratch/in.wav")
  echo "$format $quality: peak $peak KiB"
  result "format-$format-peak-kib" "$peak" "<=" 40959 # under 40 MiB
done
bench_done
