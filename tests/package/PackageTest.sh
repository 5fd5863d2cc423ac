#!/usr/bin/env bash
# Builds the Debian package from a build folder, unpacks it into a scratch folder (no root
# needed) and checks it: the programs run from the unpacked tree and find their encoder library
# and media module in the private folder without LD_LIBRARY_PATH, a WAV converts to MP3 and an
# MP3 to WAV there, the file list has the programs, the two libraries (the encoder library with
# no test control in it), the manual pages, the desktop entry, the icon at every size of the
# hicolor theme (each the SVG drawing at that size), the copyright file and the changelog, the
# module exports its entry point only, each manual page documents every option its program's --help prints, lintian finds no error
# and no warning but the ones listed below, appstreamcli accepts the metainfo, one version is
# everywhere (both --version, the package, the changelog, the manual pages, the metainfo), and
# Depends was computed from the shared libraries (FFmpeg's from the module's).
#
# Usage: PackageTest.sh CPACK BUILD_DIR SCRATCH_DIR PRIVATE_LIBDIR (relative to /usr)
set -euo pipefail

cpack=$1
build=$2
scratch=$3
private=./usr/$4

fail() { echo "FAIL: $*" >&2; exit 1; }

pixels=$(cd "$(dirname "$0")/../support" && pwd)/png-pixels.py
for tool in dpkg-deb lintian appstreamcli man file sox rsvg-convert python3; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/deps/package.txt lists what the test needs)"
done

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
description=$(dpkg-deb -f "$deb" Description)
[ -n "$description" ] || fail "no Description"
# Every line of the long description is its own text, not a list joined with ';'.
if grep -q '^ *;' <<<"$description"; then fail "a description line starts with ';': $description"; fi
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for library in libc6 libavcodec libvorbisenc libmp3lame libqt6widgets; do
  grep -q "\b$library" <<<"$depends" || fail "Depends does not name $library: $depends"
done

# File list.
contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
icon_sizes=(16 24 32 48 64 128 256)
for path in ./usr/bin/varkonel ./usr/bin/varkonel-convert $private/liblame_enc.so \
            $private/libvarkonel_media.so ./usr/share/man/man1/varkonel-convert.1.gz \
            ./usr/share/man/man1/varkonel.1.gz ./usr/share/applications/varkonel.desktop \
            ./usr/share/doc/varkonel/copyright ./usr/share/doc/varkonel/changelog.Debian.gz \
            ./usr/share/metainfo/org.example.varkonel.metainfo.xml \
            ./usr/share/icons/hicolor/scalable/apps/varkonel.svg; do
  grep -qxF "$path" <<<"$contents" || fail "the package has no $path"
done
if grep -qE '^\./usr/bin/.*\.so' <<<"$contents"; then fail "a library is installed in /usr/bin"; fi
# Nothing of the test suite: no test variant of the encoder library, and no test control in the
# library that is shipped (its exports are the published calls alone).
if grep -q 'lame_enc_test' <<<"$contents"; then fail "the package has the test variant of the encoder library"; fi

# Unpacked, the programs run from the scratch folder with nothing pointing at the build tree.
dpkg-deb -x "$deb" "$scratch/root"
root=$scratch/root
unset LD_LIBRARY_PATH
exports=$(nm -D --defined-only "$root/$private/liblame_enc.so" | awk '{print $NF}')
if grep -qi 'test' <<<"$exports"; then fail "the encoder library exports test symbols: $(grep -i test <<<"$exports" | tr '\n' ' ')"; fi
for call in beInitStream beEncodeChunk beDeinitStream beCloseStream beGetInfoFrame; do
  grep -qxF "$call" <<<"$exports" || fail "the encoder library does not export $call"
done

# FFmpeg and libvorbis are the module's, not the programs': they load it only when a job needs it.
for program in varkonel varkonel-convert; do
  if readelf -d "$root/usr/bin/$program" | grep -qE 'NEEDED.*(libav|libvorbis|libogg)'; then
    fail "$program links FFmpeg or libvorbis itself"
  fi
done
exports=$(nm -D --defined-only "$root/$private/libvarkonel_media.so" | awk '{print $NF}')
[ "$exports" = VarkonelMediaModuleTable ] || fail "the media module exports more than its entry point: $exports"

# The icon at every size, each picture of the size its folder names.
for size in "${icon_sizes[@]}"; do
  icon=$root/usr/share/icons/hicolor/${size}x${size}/apps/varkonel.png
  [ -f "$icon" ] || fail "no ${size}x${size} icon"
  grep -q "PNG image data, $size x $size," <<<"$(file -b "$icon")" || fail "the ${size}x${size} icon is $(file -b "$icon")"
done
[ "$(find "$root/usr/share/icons" -name 'varkonel.png' | wc -l)" -eq ${#icon_sizes[@]} ] \
  || fail "icons at other sizes than ${icon_sizes[*]}"
# Each size above 16 is the scalable drawing rendered at that size (16 is the window's own
# small image, drawn for that size), so the pictures cannot lag behind a change to the drawing.
svg=$root/usr/share/icons/hicolor/scalable/apps/varkonel.svg
for size in "${icon_sizes[@]:1}"; do
  rsvg-convert --width "$size" --height "$size" --output "$scratch/rendered-$size.png" "$svg"
  [ "$("$pixels" "$scratch/rendered-$size.png")" = "$("$pixels" "$root/usr/share/icons/hicolor/${size}x${size}/apps/varkonel.png")" ] \
    || fail "the ${size}x${size} icon is not the SVG drawing at that size (run ui/resources/icons/make-icons.sh)"
done

# One version everywhere: both programs' --version, the package's upstream version, the top entry
# of the changelog, the manual pages' title lines and the metainfo's release.
version=$("$root/usr/bin/varkonel-convert" --version | sed -n 's/^varkonel-convert //p')
[ -n "$version" ] || fail "varkonel-convert --version printed no version"
window_version=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/varkonel" --version) \
  || fail "varkonel --version failed"
[ "$window_version" = "varkonel $version" ] || fail "varkonel --version says '$window_version', not $version"
package_version=$(dpkg-deb -f "$deb" Version)
[ "${package_version%-*}" = "$version" ] || fail "the package's version $package_version is not $version"
changelog_version=$(zcat "$root/usr/share/doc/varkonel/changelog.Debian.gz" | sed -n '1s/^varkonel (\([^)]*\)).*/\1/p')
[ "$changelog_version" = "$package_version" ] || fail "the changelog's version '$changelog_version' is not $package_version"
metainfo=$root/usr/share/metainfo/org.example.varkonel.metainfo.xml
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo's release is not $version"

# Each manual page: its title line with the version, and every option its program's --help prints,
# among the item lines of its OPTIONS section (an option in an example is not documented).
for program in varkonel-convert varkonel; do
  help=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/$program" --help) \
    || fail "$program --help failed"
  grep -q "^Usage: $program" <<<"$help" || fail "unexpected $program --help output"
  page=$scratch/$program.1
  zcat "$root/usr/share/man/man1/$program.1.gz" | sed 's/\\-/-/g' >"$page"
  title=$(tr 'a-z' 'A-Z' <<<"$program")
  grep -qxF ".TH $title 1 \"\" \"Varkonel $version\" \"User Commands\"" "$page" \
    || fail "the manual page of $program has no .TH line with version $version"
  awk '/^\.SH/ { in_options = ($2 == "OPTIONS") } in_options && previous == ".TP" { print } { previous = $0 }' \
    "$page" >"$page.options"
  options=$(grep -oE '(^|[ ,])--?[a-z][a-z-]*' <<<"$help" | tr -d ' ,' | sort -u)
  [ -n "$options" ] || fail "no options found in $program --help"
  for option in $options; do
    grep -qE -- "(^|[^a-z-])${option}([^a-z-]|$)" "$page.options" || fail "the manual page of $program does not document $option"
  done
  # man finds the page in the installed tree and formats it without a complaint.
  rendered=$(MANPATH=$root/usr/share/man MANWIDTH=80 man --warnings "$program" 2>"$page.warnings") \
    || fail "man $program failed: $(cat "$page.warnings")"
  [ ! -s "$page.warnings" ] || fail "man $program warns: $(cat "$page.warnings")"
  grep -q "^NAME" <<<"$rendered" || fail "man $program shows no NAME section"
done

# The metainfo: valid for appstreamcli (without the network: the screenshot's address is not
# fetched), with the desktop entry's media types.
appstreamcli validate --no-net "$metainfo" >"$scratch/appstream.log" 2>&1 \
  || { cat "$scratch/appstream.log" >&2; fail "appstreamcli validate rejects the metainfo"; }
entry_types=$(sed -n 's/^MimeType=//p' "$root/usr/share/applications/varkonel.desktop" | tr ';' '\n' | sed '/^$/d' | sort)
metainfo_types=$(sed -n 's/.*<mediatype>\(.*\)<\/mediatype>.*/\1/p' "$metainfo" | sort)
[ -n "$entry_types" ] && [ "$entry_types" = "$metainfo_types" ] \
  || fail "the metainfo's media types differ from the desktop entry's: $(diff <(echo "$entry_types") <(echo "$metainfo_types") | tr '\n' ' ')"

# lintian: no error, and no warning but these, which do not apply to a package built here.
# - initial-upload-closes-no-bugs: the changelog's only entry closes no Debian bug, as a
#   package that is not uploaded to Debian has no "intent to package" bug to close;
allowed_warnings=(initial-upload-closes-no-bugs)
lintian --no-cfg --tag-display-limit 0 "$deb" >"$scratch/lintian.log" 2>&1 || true
cat "$scratch/lintian.log"
if grep -q '^E: ' "$scratch/lintian.log"; then fail "lintian reports errors: $(grep '^E: ' "$scratch/lintian.log" | tr '\n' ' ')"; fi
while read -r line; do
  tag=$(awk '{print $3}' <<<"$line")
  allowed=no
  for each in "${allowed_warnings[@]}"; do [ "$tag" = "$each" ] && allowed=yes; done
  [ $allowed = yes ] || fail "lintian warns: $line"
done < <(grep '^W: ' "$scratch/lintian.log")

# One conversion: a short WAV to MP3, with the encoder library from the private folder.
sox -n -r 44100 -c 2 -b 16 "$scratch/work/tone.wav" synth 0.5 sine 440
(cd "$scratch/work" && "$root/usr/bin/varkonel-convert" -q -y -b 192KB -o "$scratch/work/mp3" tone.wav) \
  || fail "the unpacked varkonel-convert did not convert a WAV"
mp3=$scratch/work/mp3/tone.mp3
[ -s "$mp3" ] || fail "no MP3 written"
type=$(file -b "$mp3")
grep -qE 'MPEG ADTS, layer III|Audio file with ID3' <<<"$type" || fail "the output is not an MP3: $type"

# And back: the MP3 is read by the media module from the private folder.
mkdir -p "$scratch/work/wav"
"$root/usr/bin/varkonel-convert" -q -y -o "$scratch/work/wav" "$mp3" \
  || fail "the unpacked varkonel-convert did not convert an MP3"
wavType=$(file -b "$scratch/work/wav/tone.wav")
grep -q 'WAVE audio' <<<"$wavType" || fail "the output is not a WAV: $wavType"
echo "PASS: $deb ($type)"
