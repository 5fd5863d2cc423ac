#!/usr/bin/env bash
# A track of a CD image against the same audio from a WAV file, both to MP3 at "64KB" mono
# with varkonel-convert: the image (BIN/CUE, one audio track) is made from the WAV file's
# samples, so the two jobs differ only in how the audio is read. Target: the track takes at
# most 1.02 times as long as the WAV file (median of the paired ratios), and both give the
# same MP3 audio.
# Usage: bench/run-cd.sh BIN_DIR
source "$(dirname "$0")/bench.sh"
need sox ffprobe cmp

seconds=300 # 22500 CD frames: a whole number of frames
mkdir -p "$scratch/ours-cd" "$scratch/ours-wav"
sox -q -n -r 44100 -c 2 -b 16 "$scratch/song.wav" synth "$seconds" pinknoise synth "$seconds" sine mix 330 vol 0.4
sox -q "$scratch/song.wav" -t raw -e signed-integer -b 16 -L "$scratch/disc.bin"
printf 'FILE "disc.bin" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n' >"$scratch/disc.cue"

ours_times="" peer_times=""
for _ in $(seq "$runs"); do
  elapsed t "$bin/varkonel-convert" -q -y -c mono -b 64KB -o "$scratch/ours-cd" --cd-device "$scratch/disc.cue" Track-00
  ours_times+=" $t"
  elapsed t "$bin/varkonel-convert" -q -y -c mono -b 64KB -o "$scratch/ours-wav" "$scratch/song.wav"
  peer_times+=" $t"
done
mp3_check "$scratch/ours-cd/Track-00.mp3" 44100 1 64
# The same samples in, the same MP3 audio out: the files differ at most in their ID3 tags.
cmp -s <(mp3_audio "$scratch/ours-cd/Track-00.mp3") <(mp3_audio "$scratch/ours-wav/song.mp3") \
  || bench_error "the track and the WAV file gave different MP3 audio"

paired "CD image track" "WAV file"
result cd-track-over-wav "$ratio" "<=" 1.02
bench_done
