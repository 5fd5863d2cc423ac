#!/usr/bin/env bash
# Builds the Debian package from a build folder, unpacks it into a scratch folder (no root
# needed) and checks it: the programs run from the unpacked tree and find their encoder library
# and media module in the private folder without LD_LIBRARY_PATH, a WAV converts to MP3 and an
# MP3 to WAV there, the file list has the programs, the two libraries (the encoder library with
# no test control in it), the manual page, the desktop entry and an icon, the module exports its
# entry point only, the manual page documents every option --help prints, and Depends was
# computed from the shared libraries (FFmpeg's from the module's).
#
# Usage: PackageTest.sh CPACK BUILD_DIR SCRATCH_DIR
set -euo pipefail

cpack=$1
build=$2
scratch=$3

fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$scratch"
mkdir -p "$scratch/out" "$scratch/root" "$scratch/work/mp3" "$scratch/home/.config"

# The unpacked programs read no settings of the user running the test.
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config

# The package, built by the same configuration `make package` uses, into the scratch folder.
"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 \
  || { cat "$scratch/cpack.log" >&2; fail "cpack did not build the package"; }
shopt -s nullglob
debs=("$scratch"/out/varkonel_*.deb)
[ ${#debs[@]} -eq 1 ] || fail "expected one varkonel_*.deb, found ${#debs[@]}"
deb=${debs[0]}

# Control fields.
[ "$(dpkg-deb -f "$deb" Package)" = varkonel ] || fail "package name is not varkonel"
[ -n "$(dpkg-deb -f "$deb" Version)" ] || fail "no Version"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no Maintainer"
[ -n "$(dpkg-deb -f "$deb" Description)" ] || fail "no Description"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for library in libc6 libavcodec libvorbisenc libmp3lame libqt6widgets; do
  grep -q "\b$library" <<<"$depends" || fail "Depends does not name $library: $depends"
done

# File list.
contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for path in ./usr/bin/varkonel ./usr/bin/varkonel-convert ./usr/lib/varkonel/liblame_enc.so \
            ./usr/lib/varkonel/libvarkonel_media.so ./usr/share/man/man1/varkonel-convert.1.gz ./usr/share/applications/varkonel.desktop; do
  grep -qxF "$path" <<<"$contents" || fail "the package has no $path"
done
grep -qE '^\./usr/share/icons/hicolor/[0-9]+x[0-9]+/apps/varkonel\.png$' <<<"$contents" \
  || fail "the package has no hicolor icon"
if grep -qE '^\./usr/bin/.*\.so' <<<"$contents"; then fail "a library is installed in /usr/bin"; fi
# Nothing of the test suite: no test variant of the encoder library, and no test control in the
# library that is shipped (its exports are the published calls alone).
if grep -q 'lame_enc_test' <<<"$contents"; then fail "the package has the test variant of the encoder library"; fi

# Unpacked, the programs run from the scratch folder with nothing pointing at the build tree.
dpkg-deb -x "$deb" "$scratch/root"
root=$scratch/root
unset LD_LIBRARY_PATH
exports=$(nm -D --defined-only "$root/usr/lib/varkonel/liblame_enc.so" | awk '{print $NF}')
if grep -qi 'test' <<<"$exports"; then fail "the encoder library exports test symbols: $(grep -i test <<<"$exports" | tr '\n' ' ')"; fi
for call in beInitStream beEncodeChunk beDeinitStream beCloseStream beGetInfoFrame; do
  grep -qxF "$call" <<<"$exports" || fail "the encoder library does not export $call"
done
help=$("$root/usr/bin/varkonel-convert" --help) || fail "varkonel-convert --help failed"
grep -q '^Usage: varkonel-convert' <<<"$help" || fail "unexpected --help output"

# FFmpeg and libvorbis are the module's, not the programs': they load it only when a job needs it.
for program in varkonel varkonel-convert; do
  if readelf -d "$root/usr/bin/$program" | grep -qE 'NEEDED.*(libav|libvorbis|libogg)'; then
    fail "$program links FFmpeg or libvorbis itself"
  fi
done
exports=$(nm -D --defined-only "$root/usr/lib/varkonel/libvarkonel_media.so" | awk '{print $NF}')
[ "$exports" = VarkonelMediaModuleTable ] || fail "the media module exports more than its entry point: $exports"

# Every option --help prints is in the manual page.
# Only the item lines of the OPTIONS section count (an option in an example is not documented).
zcat "$root/usr/share/man/man1/varkonel-convert.1.gz" | sed 's/\\-/-/g' >"$scratch/man.txt"
grep -q '^\.TH VARKONEL-CONVERT 1' "$scratch/man.txt" || fail "the manual page has no .TH line"
awk '/^\.SH/ { in_options = ($2 == "OPTIONS") } in_options && previous == ".TP" { print } { previous = $0 }' \
  "$scratch/man.txt" >"$scratch/man-options.txt"
options=$(grep -oE '(^|[ ,])--?[a-z][a-z-]*' <<<"$help" | tr -d ' ,' | sort -u)
[ -n "$options" ] || fail "no options found in --help"
for option in $options; do
  grep -qE -- "(^|[^a-z-])${option}([^a-z-]|$)" "$scratch/man-options.txt" || fail "the manual page does not document $option"
done

# One conversion: a short WAV to MP3, with the encoder library from usr/lib/varkonel.
sox -n -r 44100 -c 2 -b 16 "$scratch/work/tone.wav" synth 0.5 sine 440
(cd "$scratch/work" && "$root/usr/bin/varkonel-convert" -q -y -b 192KB -o "$scratch/work/mp3" tone.wav) \
  || fail "the unpacked varkonel-convert did not convert a WAV"
mp3=$scratch/work/mp3/tone.mp3
[ -s "$mp3" ] || fail "no MP3 written"
type=$(file -b "$mp3")
grep -qE 'MPEG ADTS, layer III|Audio file with ID3' <<<"$type" || fail "the output is not an MP3: $type"

# And back: the MP3 is read by the media module from usr/lib/varkonel.
mkdir -p "$scratch/work/wav"
"$root/usr/bin/varkonel-convert" -q -y -o "$scratch/work/wav" "$mp3" \
  || fail "the unpacked varkonel-convert did not convert an MP3"
wavType=$(file -b "$scratch/work/wav/tone.wav")
grep -q 'WAVE audio' <<<"$wavType" || fail "the output is not a WAV: $wavType"
echo "PASS: $deb ($type)"
