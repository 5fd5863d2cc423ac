#!/usr/bin/env bash
# What tags cost: 200 one-second FLAC files (44.1 kHz stereo) carrying a full tag set (every
# kind of field, several values, MusicBrainz ids, ReplayGain, custom fields, a 96 KB JPEG front
# cover and a PNG back cover, written by tests/support/tagtool.py with mutagen) converted to
# Opus at 128 kbit/s with -j 1, against the same batch of the same files with no tags at all.
# The two batches alternate, 7 runs each (BENCH_RUNS sets another count), and the figure is the
# median of the paired ratios, as in the other benchmarks. Targets: the tagged batch takes at
# most 1.05 times the untagged one, and peaks under 60 MiB of resident memory. Also printed, as a figure only: how many of the source's tag
# values and pictures reach the output, as mutagen reads them.
# Usage: bench/run-tags.sh BIN_DIR
source "$(dirname "$0")/bench.sh"
need sox ffmpeg ffprobe comm /usr/bin/python3
tagtool="$(cd "$(dirname "$0")/.." && pwd)/tests/support/tagtool.py"
[ -x "$tagtool" ] || bench_error "$tagtool is missing"
/usr/bin/python3 -c 'import mutagen' 2>/dev/null || bench_error "mutagen is needed (scripts/setup-deps installs python3-mutagen)"

files=200
runs=${BENCH_RUNS:-7}
mkdir -p "$scratch/plain" "$scratch/tagged" "$scratch/out-plain" "$scratch/out-tagged"

# The covers: a 360x360 noise picture stays some 96 KB as a JPEG; a small PNG test card.
ffmpeg -nostdin -v error -y -f lavfi -i "nullsrc=s=360x360,geq=random(1)*255:128:128" -frames:v 1 \
  -q:v 2 "$scratch/front.jpg"
ffmpeg -nostdin -v error -y -f lavfi -i "testsrc=s=64x64" -frames:v 1 "$scratch/back.png"

# spec N: the tag set of file N (its title and track number its own, the rest shared).
spec() {
  cat <<EOF
{"fields": [
 ["TITLE", ["Track $1: part/whole\nsecond line"]], ["ARTIST", ["Alpha Artist", "Beta Artist"]],
 ["ALBUMARTIST", ["Alpha Artist"]], ["ALBUM", ["The Album"]], ["DATE", ["2001-05-03"]],
 ["TRACKNUMBER", ["$1"]], ["TRACKTOTAL", ["$files"]], ["DISCNUMBER", ["2"]], ["DISCTOTAL", ["3"]],
 ["GENRE", ["Rock", "Pop"]], ["COMMENT", ["A comment"]], ["COMPOSER", ["Composer One", "Composer Two"]],
 ["LYRICS", ["la la\nla la la"]], ["BPM", ["120"]], ["COMPILATION", ["1"]],
 ["ARTISTSORT", ["Artist, Alpha"]], ["ALBUMSORT", ["Album, The"]], ["ALBUMARTISTSORT", ["Artist, Alpha"]],
 ["TITLESORT", ["Track $1"]], ["ISRC", ["USABC01$(printf %05d "$1")"]], ["COPYRIGHT", ["2001 Someone"]],
 ["LABEL", ["Some Label"]],
 ["MUSICBRAINZ_TRACKID", ["11111111-1111-1111-1111-$(printf %012d "$1")"]],
 ["MUSICBRAINZ_ALBUMID", ["22222222-2222-2222-2222-222222222222"]],
 ["MUSICBRAINZ_ARTISTID", ["33333333-3333-3333-3333-333333333333", "44444444-4444-4444-4444-444444444444"]],
 ["MUSICBRAINZ_ALBUMARTISTID", ["33333333-3333-3333-3333-333333333333"]],
 ["MUSICBRAINZ_RELEASEGROUPID", ["55555555-5555-5555-5555-555555555555"]],
 ["MUSICBRAINZ_RELEASETRACKID", ["66666666-6666-6666-6666-$(printf %012d "$1")"]],
 ["REPLAYGAIN_TRACK_GAIN", ["-6.50 dB"]], ["REPLAYGAIN_TRACK_PEAK", ["0.988212"]],
 ["REPLAYGAIN_ALBUM_GAIN", ["-7.10 dB"]], ["REPLAYGAIN_ALBUM_PEAK", ["0.999969"]],
 ["R128_TRACK_GAIN", ["-1234"]], ["R128_ALBUM_GAIN", ["-1400"]],
 ["MY_CUSTOM_FIELD", ["custom one", "custom two"]]],
 "pictures": [{"type": 3, "mime": "image/jpeg", "description": "", "file": "$scratch/front.jpg"},
              {"type": 4, "mime": "image/png", "description": "back", "file": "$scratch/back.png"}]}
EOF
}

# fields FILE, pictures FILE: the tag values and the pictures of FILE as mutagen reads them,
# one a line, sorted.
fields() { "$tagtool" dump "$1" | grep -Ev '^(CONTAINER |TECH |OTHER |PICTURE |OPUS_OUTPUT_GAIN=)' | sort || true; }
pictures() { "$tagtool" dump "$1" | grep '^PICTURE ' | sort || true; }

# The same audio on both sides: sox writes no tags when its own comment is empty (the vendor
# string aside), the tagged copy gets the whole set.
for k in $(seq -w 1 $files); do
  sox -q -n -r 44100 -c 2 -b 16 --comment "" "$scratch/plain/s$k.flac" synth 1 pinknoise synth 1 sine \
    mix $((200 + 3 * 10#$k)) vol 0.4
  cp "$scratch/plain/s$k.flac" "$scratch/tagged/s$k.flac"
  spec $((10#$k)) >"$scratch/spec.json"
  "$tagtool" write "$scratch/tagged/s$k.flac" "$scratch/spec.json" || bench_error "tagging s$k.flac failed"
done
[ -z "$(fields "$scratch/plain/s001.flac")" ] || bench_error "the untagged files carry tags"
echo "$files files of 1 s: $(du -sk "$scratch/plain" | cut -f1) KiB untagged, $(du -sk "$scratch/tagged" | cut -f1) KiB tagged"

batch() { # side
  rm -f "$scratch/out-$1"/*.opus
  elapsed t "$bin/varkonel-convert" -q -y -j 1 -c stereo -f opus --quality 128 -o "$scratch/out-$1" \
    "$scratch/$1"/*.flac
}
# The two batches alternate which goes first, so that a slow spell of a shared machine falls on
# both sides; the figure is the median of the paired ratios.
ours_times="" peer_times=""
for run in $(seq $runs); do
  if [ $((run % 2)) -eq 1 ]; then
    batch tagged; tagged_t=$t; batch plain; plain_t=$t
  else
    batch plain; plain_t=$t; batch tagged; tagged_t=$t
  fi
  echo "run $run: tagged $tagged_t s, untagged $plain_t s"
  ours_times="$ours_times $tagged_t" peer_times="$peer_times $plain_t"
done

for side in plain tagged; do
  count=$(find "$scratch/out-$side" -name '*.opus' | wc -l)
  [ "$count" -eq $files ] || bench_error "the $side batch wrote $count of $files files"
  for f in "$scratch/out-$side/s001.opus" "$scratch/out-$side/s$files.opus"; do
    found=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels \
      -of csv=p=0 "$f" 2>/dev/null) || bench_error "$f: not readable as audio"
    [ "$found" = "opus,48000,2" ] || bench_error "$f: expected Opus at 48000 Hz in stereo; found '$found'"
    plays_for "$f" 0.95 1.1
  done
done

# How much of the tag set arrives (the Opus header's gain and the encoder's own fields aside).
src="$scratch/tagged/s$files.flac" out="$scratch/out-tagged/s$files.opus"
echo "tags carried to Opus (s$files): $(comm -12 <(fields "$src") <(fields "$out") | wc -l) of" \
  "$(fields "$src" | wc -l) values, $(comm -12 <(pictures "$src") <(pictures "$out") | wc -l) of" \
  "$(pictures "$src" | wc -l) pictures"

paired tagged untagged
result tags-tagged-over-untagged "$(printf %.3f "$ratio")" "<=" 1.05
rm -f "$scratch/out-tagged"/*.opus
peak=$(peak_kib "$bin/varkonel-convert" -q -y -j 1 -c stereo -f opus --quality 128 -o "$scratch/out-tagged" \
  "$scratch/tagged"/*.flac)
echo "tagged batch: peak $peak KiB"
result tags-peak-kib "$peak" "<=" 61439 # under 60 MiB
bench_done
