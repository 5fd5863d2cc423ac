#!/usr/bin/env bash
# A music library: 5,000 one-second FLAC files (44.1 kHz stereo 16-bit) in 250 album folders,
# music/Artist NN/Album MMM/TT - Title TT.flac (50 artists, 5 albums each, 20 tracks an album),
# each carrying the tags a tagger writes (ARTIST, ALBUMARTIST, ALBUM, TITLE, TRACKNUMBER,
# TRACKTOTAL, DISCNUMBER, DATE, GENRE: names that differ from the file and folder names, some with
# accents, slashes and question marks) and a front cover of some 20 KB (a JPEG), as a library
# ripped and tagged by a user is. The peer is `metaflac --show-tag=ALBUM --show-tag=TITLE` over
# every file in one process: the least a program that names outputs from the tags has to read.
# Timed against it, alternating, 7 runs each (BENCH_RUNS sets another count), median of the paired
# ratios:
#   - planning the library: `--probe --layout tags -f opus -o OUT music`, which lists every
#     source and the output's path named from its tags; at most 0.5 times metaflac, and its peak
#     memory under 100 MiB;
#   - bringing a converted library up to date when nothing changed: the whole tree converted to
#     Opus with the tags layout once (with -j 2, not timed), then the same command with
#     --skip-up-to-date; at most 0.5 times metaflac. The re-run must write nothing (every output
#     keeps its size and time, none comes or goes).
# Also printed, as a figure only: the same re-run with the mirror layout (outputs named as the
# sources, folders kept), after a conversion of its own. That one needs no tags, so it must not
# open a single source: its run under strace (openat) names no .flac file.
# Making the tree takes seconds, the two conversions about a minute each on two cores.
# BENCH_LIBRARY_TREE=DIR makes the tree in DIR once and reuses it on later runs (it is left
# there), instead of making it anew under the scratch folder each time.
# The options of the run can be given another way for trying the script on a build that lacks
# them: LIBRARY_LAYOUT_ARGS (default "--layout tags"), LIBRARY_MIRROR_ARGS (default
# "--layout mirror") and LIBRARY_SKIP_ARGS (default "--skip-up-to-date").
# Usage: bench/run-library.sh BIN_DIR
source "$(dirname "$0")/bench.sh"
need sox ffmpeg ffprobe metaflac strace find cmp diff getconf /usr/bin/python3
/usr/bin/python3 -c 'import mutagen' 2>/dev/null || bench_error "mutagen is needed (scripts/setup-deps installs python3-mutagen)"

runs=${BENCH_RUNS:-7}
((runs >= 5)) || runs=5
files=5000
read -r -a layout_args <<<"${LIBRARY_LAYOUT_ARGS---layout tags}"
read -r -a mirror_args <<<"${LIBRARY_MIRROR_ARGS---layout mirror}"
read -r -a skip_args <<<"${LIBRARY_SKIP_ARGS---skip-up-to-date}"
music=${BENCH_LIBRARY_TREE:-$scratch/music}
# What a finished tree holds besides the music (hidden names, which the converter leaves out):
# the mark that it is complete, naming the way it was made, and one line per file with its tags.
tree_mark="library tree 1: $files files, 50 artists x 5 albums x 20 tracks, 1 s FLAC, 20 KB cover"

# make_tree DIR: the library. A handful of one-second FLAC files (sine chords, no tags: sox
# writes none when its comment is empty) and ten covers are made once; one Python process then
# copies them into place and tags all 5,000 with mutagen, which takes far less time than a
# tagger's process per file would.
make_tree() {
  local dir=$1 kinds="$scratch/kinds" k
  mkdir -p "$kinds" "$dir"
  # Marks the folder as ours from the start, so that a tree left half made is made anew.
  echo incomplete >"$dir/.library-tree"
  for k in 1 2 3 4 5 6; do
    sox -q -n -r 44100 -c 2 -b 16 --comment "" "$kinds/k$k.flac" \
      synth 1 sine $((110 * k + 55)) sine $((165 * k + 7)) vol 0.4
  done
  # A 170x170 picture of noise stays some 20 KB as a JPEG, as a scanned cover does.
  ffmpeg -nostdin -v error -y -f lavfi -i "nullsrc=s=170x170,geq=random(1)*255:128:128" -frames:v 10 \
    -q:v 3 "$kinds/cover%02d.jpg"
  /usr/bin/python3 - "$dir" "$kinds" <<'EOF' || bench_error "tagging the tree failed"
import glob, os, random, shutil, sys
from mutagen.flac import FLAC, Picture

root, kinds = sys.argv[1:3]
audio = sorted(glob.glob(os.path.join(kinds, "k*.flac")))
covers = [open(p, "rb").read() for p in sorted(glob.glob(os.path.join(kinds, "cover*.jpg")))]
rng = random.Random(5000)

first = ["The", "Los", "Little", "Big", "Old", "Young", "Electric", "Silent", "Velvet", "Northern",
         "Café", "Über", "Señor", "Mighty", "Blue", "Paper", "Glass", "Iron", "Golden", "Wild"]
second = ["Lanterns", "Harbours", "Foxes", "Pilots", "Strangers", "Rivers", "Engines", "Choir",
          "Orchestra", "Brothers", "Sisters", "Machines", "Gardens", "Ghosts", "Sailors", "Trio",
          "Björk Collective", "Up/Down", "Sound System", "Quartet"]
words = ["harbour", "lights", "silver", "roads", "morning", "after", "midnight", "train", "river",
         "song", "for", "you", "déjà", "vu", "the", "long", "way", "home", "summer", "rain",
         "electric", "dreams", "north", "star", "café", "noir", "über", "alles", "niño", "blue",
         "hour", "paper", "moon", "glass", "house", "iron", "heart", "golden", "gate", "wild",
         "honey", "slow", "dance", "fire", "ocean", "city", "of", "angels", "last", "call"]
tails = ["", "", "", "", "", "", " (Live)", " (Remastered)", ": Reprise", " - Second Movement", "?",
         " (feat. Mira Okafor)", " / Interlude", " (Radio Edit)"]
genres = ["Rock", "Pop", "Jazz", "Electronic", "Folk", "Classical", "Hip-Hop", "Soul", "Ambient"]

def phrase(low, high):
    return " ".join(w.capitalize() for w in rng.sample(words, rng.randint(low, high)))

artists = set()
while len(artists) < 50:
    artists.add(rng.choice(first) + " " + rng.choice(second))
artists = sorted(artists, key=lambda a: rng.random())

manifest = []
album_no = 0
n = 0
for a, artist in enumerate(artists, 1):
    albums = set()
    while len(albums) < 5:
        albums.add(phrase(1, 3))
    for album in sorted(albums):
        album_no += 1
        folder = os.path.join(root, "Artist %02d" % a, "Album %03d" % album_no)
        os.makedirs(folder, exist_ok=True)
        year = str(1965 + rng.randrange(58))
        genre = rng.choice(genres)
        cover = covers[album_no % len(covers)]
        titles = set()
        while len(titles) < 20:
            titles.add(phrase(1, 4) + rng.choice(tails))
        for t, title in enumerate(sorted(titles, key=lambda x: rng.random()), 1):
            path = os.path.join(folder, "%02d - Title %02d.flac" % (t, t))
            shutil.copyfile(audio[n % len(audio)], path)
            n += 1
            f = FLAC(path)
            f["ARTIST"] = artist if t % 7 else artist + " feat. Mira Okafor"
            f["ALBUMARTIST"] = artist
            f["ALBUM"] = album
            f["TITLE"] = title
            f["TRACKNUMBER"] = str(t)
            f["TRACKTOTAL"] = "20"
            f["DISCNUMBER"] = "1"
            f["DATE"] = year
            f["GENRE"] = genre
            picture = Picture()
            picture.type = 3
            picture.mime = "image/jpeg"
            picture.width = picture.height = 170
            picture.depth = 24
            picture.data = cover
            f.add_picture(picture)
            f.save()
            manifest.append("\t".join([os.path.relpath(path, root), artist, album, title]))

with open(os.path.join(root, ".manifest.tsv"), "w", encoding="utf-8") as out:
    out.write("\n".join(manifest) + "\n")
EOF
}

if [ -n "${BENCH_LIBRARY_TREE:-}" ] && [ "$(cat "$music/.library-tree" 2>/dev/null)" = "$tree_mark" ]; then
  echo "reusing the tree in $music"
else
  if [ -e "$music" ]; then
    # Only a folder this script made (complete or not) is made anew; anything else is left alone.
    [ -f "$music/.library-tree" ] || [ -z "$(ls -A "$music")" ] \
      || bench_error "$music holds files that are not a library tree of this benchmark"
    rm -rf "$music"
  fi
  start=$EPOCHREALTIME
  make_tree "$music"
  echo "$tree_mark" >"$music/.library-tree"
  echo "made the tree in $(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }') s"
fi

# The sources, in one list (find's order does not matter to either side).
mapfile -t sources < <(cd "$music" && find . -name '*.flac' -printf '%P\n' | LC_ALL=C sort)
((${#sources[@]} == files)) || bench_error "the tree holds ${#sources[@]} FLAC files, not $files"
[ "$(wc -l <"$music/.manifest.tsv")" -eq $files ] || bench_error "the tree's list of tags is not whole"
paths=("${sources[@]/#/$music/}")
echo "$files files in $(find "$music" -mindepth 2 -maxdepth 2 -type d | wc -l) album folders," \
  "$(du -sk "$music" | cut -f1) KiB"

# A sample file, read by metaflac: the stream as made, and the tags and the cover the tree's list
# names (one from the middle of the tree whose title is plain words, which no file name changes).
IFS=$'\t' read -r sample s_artist s_album s_title \
  < <(awk -F'\t' -v n=$((files / 2)) 'NR > n && $4 ~ /^[A-Za-z ]+$/ { print; exit }' "$music/.manifest.tsv")
[ -n "${s_title:-}" ] && [ -f "$music/$sample" ] || bench_error "the tree's list of tags does not match the tree"
info=$(metaflac --show-sample-rate --show-channels --show-bps --show-total-samples "$music/$sample" | tr '\n' ' ')
[ "$info" = "44100 2 16 44100 " ] || bench_error "$sample: expected 44100 Hz, 2 channels, 16 bits, 1 s; found '$info'"
tags=$(metaflac --export-tags-to=- "$music/$sample")
for expected in "ALBUMARTIST=$s_artist" "ALBUM=$s_album" "TITLE=$s_title" "TRACKTOTAL=20" "DISCNUMBER=1"; do
  grep -qxF "$expected" <<<"$tags" || bench_error "$sample lacks the tag $expected"
done
picture=$(metaflac --list --block-type=PICTURE "$music/$sample")
grep -q 'type: 3 (Cover (front))' <<<"$picture" && grep -q 'MIME type: image/jpeg' <<<"$picture" \
  || bench_error "$sample carries no JPEG front cover"
cover_bytes=$(awk '$1 == "data" && $2 == "length:" { print $3 }' <<<"$picture")
((cover_bytes > 15000 && cover_bytes < 30000)) || bench_error "$sample: its cover is $cover_bytes bytes, not some 20 KB"

# The peer reads every file in one process: the arguments must fit in one command line.
arg_bytes=$(printf '%s\n' "${paths[@]}" | wc -c)
((arg_bytes + $(env | wc -c) + 4096 < $(getconf ARG_MAX))) \
  || bench_error "the $files paths ($arg_bytes bytes) do not fit in one command line: use a shorter BENCH_LIBRARY_TREE"
peer() { metaflac --show-tag=ALBUM --show-tag=TITLE "${paths[@]}"; }
lines=$(peer | wc -l)
((lines == 2 * files)) || bench_error "metaflac printed $lines lines, not 2 for each of $files files"

out="$scratch/out"
probe=("$bin/varkonel-convert" --probe "${layout_args[@]}" -f opus -o "$out" "$music")

# The plan lists every source once, with its tags; when the outputs are named from the tags,
# each name holds its title (checked where the title is plain words, which no name changes).
mkdir -p "$out"
"${probe[@]}" >"$scratch/probe.out" 2>"$scratch/last-stderr" || bench_error "--probe failed: $(head -c 300 "$scratch/last-stderr")"
[ -z "$(ls -A "$out")" ] || bench_error "--probe wrote into $out"
listed=$(awk -F'\t' -v m="$music/" 'index($4, m) == 1 { print substr($4, length(m) + 1) }' "$scratch/probe.out" \
  | LC_ALL=C sort)
[ "$listed" = "$(printf '%s\n' "${sources[@]}")" ] \
  || bench_error "--probe listed $(wc -l <"$scratch/probe.out") rows, not each of the $files sources once"
if [[ " ${layout_args[*]} " == *" tags "* ]]; then
  awk -F'\t' -v m="$music/" 'NR == FNR { title[$1] = $4; next }
    { t = title[substr($4, length(m) + 1)] }
    t ~ /^[A-Za-z ]+$/ && index($6, t) == 0 { bad++; if (bad == 1) print "--probe named " $4 " as " $6 " (title " t ")" > "/dev/stderr" }
    END { exit bad > 0 }' "$music/.manifest.tsv" "$scratch/probe.out" \
    || bench_error "--probe ${layout_args[*]} named outputs without their titles"
fi

ours_times="" peer_times=""
for run in $(seq "$runs"); do
  if ((run % 2)); then
    elapsed ours_t "${probe[@]}"; elapsed peer_t peer
  else
    elapsed peer_t peer; elapsed ours_t "${probe[@]}"
  fi
  echo "run $run: --probe $ours_t s, metaflac $peer_t s"
  ours_times+=" $ours_t" peer_times+=" $peer_t"
done
paired "--probe ${layout_args[*]}" "metaflac"
result library-probe-tags-over-metaflac "$(printf %.3f "$ratio")" "<=" 0.5
peak=$(peak_kib "${probe[@]}")
echo "--probe over $files files: peak $peak KiB"
result library-probe-peak-kib "$peak" "<=" 102399 # under 100 MiB

# snapshot DIR: every file beneath DIR with its size and modification time, one a line.
snapshot() { (cd "$1" && find . -type f -printf '%P\t%s\t%T@\n' | LC_ALL=C sort); }

# convert DIR LAYOUT-ARGS...: the whole tree converted into DIR (not timed).
convert() {
  local dir=$1 start
  shift
  start=$EPOCHREALTIME
  mkdir -p "$dir"
  "$bin/varkonel-convert" -q -y -j 2 -f opus "$@" -o "$dir" "$music" </dev/null >/dev/null 2>"$scratch/last-stderr" \
    || bench_error "converting the tree failed: $(head -c 300 "$scratch/last-stderr")"
  snapshot "$dir" >"$dir.before"
  [ "$(wc -l <"$dir.before")" -eq $files ] || bench_error "converting the tree wrote $(wc -l <"$dir.before") files, not $files"
  echo "converted the tree with ${*:-no layout option}: $(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }') s"
}
# rerun DIR LAYOUT-ARGS...: the same command again, outputs kept when up to date. It keeps -y, so
# that nothing but the up-to-date check keeps an output from being written again.
rerun() {
  local dir=$1
  shift
  "$bin/varkonel-convert" -q -y -f opus "$@" "${skip_args[@]}" -o "$dir" "$music" </dev/null
}
# unchanged DIR: an error of the benchmark unless every output is as the conversion left it.
unchanged() {
  snapshot "$1" | cmp -s - "$1.before" \
    || bench_error "the re-run changed $1: $(snapshot "$1" | diff - "$1.before" | grep -c '^[<>]') lines of its listing differ"
}

convert "$out" "${layout_args[@]}"
opus=$(find "$out" -name '*.opus' -print -quit)
found=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels \
  -of csv=p=0 "$opus" 2>/dev/null) || bench_error "$opus: not readable as audio"
[ "$found" = "opus,48000,2" ] || bench_error "$opus: expected Opus at 48000 Hz in stereo; found '$found'"
plays_for "$opus" 0.95 1.1
# The conversion wrote the outputs the plan named.
diff <(cut -f1 "$out.before" | sed 's|.*/||' | LC_ALL=C sort) <(cut -f6 "$scratch/probe.out" | sed 's|.*/||' | LC_ALL=C sort) \
  >/dev/null || bench_error "the conversion's outputs are not the ones --probe named"

# The mirror layout: each output where its source is, beneath the output folder.
mirror="$scratch/out-mirror"
convert "$mirror" "${mirror_args[@]}"
diff <(printf '%s\n' "${sources[@]%.flac}") <(cut -f1 "$mirror.before" | sed 's/\.opus$//' | LC_ALL=C sort) >/dev/null \
  || bench_error "the mirror layout did not put each output where its source is"
# Its re-run opens no source: the outputs are up to date by their times alone.
strace -f -qq -e trace=openat,openat2 -o "$scratch/openat" "$bin/varkonel-convert" -q -y -f opus \
  "${mirror_args[@]}" "${skip_args[@]}" -o "$mirror" "$music" </dev/null >/dev/null 2>"$scratch/last-stderr" \
  || bench_error "the traced re-run failed: $(head -c 300 "$scratch/last-stderr")"
grep -q 'openat' "$scratch/openat" || bench_error "strace recorded no openat at all"
opened=$(grep -cF "$music/" "$scratch/openat" || true)
opened_flac=$(grep -c '\.flac"' "$scratch/openat" || true)
((opened_flac == 0)) || bench_error "the mirror re-run opened $opened_flac sources (e.g. $(grep -m1 '\.flac"' "$scratch/openat"))"
echo "the mirror re-run under strace: no source opened ($opened opens beneath the tree, its folders)"
unchanged "$mirror"

ours_times="" peer_times="" mirror_times=""
for run in $(seq "$runs"); do
  if ((run % 2)); then
    elapsed ours_t rerun "$out" "${layout_args[@]}"; elapsed peer_t peer
  else
    elapsed peer_t peer; elapsed ours_t rerun "$out" "${layout_args[@]}"
  fi
  elapsed mirror_t rerun "$mirror" "${mirror_args[@]}"
  echo "run $run: re-run (tags) $ours_t s, metaflac $peer_t s, re-run (mirror) $mirror_t s"
  ours_times+=" $ours_t" peer_times+=" $peer_t" mirror_times+=" $mirror_t"
done
unchanged "$out"
unchanged "$mirror"
paired "the re-run ${layout_args[*]} ${skip_args[*]}" "metaflac"
printf 'the re-run %s %s: median %.3f s (a figure, no target)\n' "${mirror_args[*]}" "${skip_args[*]}" \
  "$(median $mirror_times)"
result library-rerun-over-metaflac "$(printf %.3f "$ratio")" "<=" 0.5
bench_done
