#!/usr/bin/python3
"""Writes and reads the tags of audio files with mutagen (Debian's python3-mutagen, hence
/usr/bin/python3 rather than whatever python3 comes first on the PATH), so that the tests and the
benchmarks can make tagged sources and check converted files with a tool that is not ours.

  tagtool.py write FILE SPEC.json [--id3 3|4]
      Replaces every tag of FILE with the tag set of SPEC, in the native tag format of FILE's
      type (by extension): .flac, .ogg/.oga (Vorbis), .opus, .mp3 and .wav (ID3v2.4, or v2.3 with
      --id3 3), .m4a/.mp4, .wma/.asf, .wv/.ape (APEv2). SPEC:
        {"fields": [["KEY", ["value", ...]], ...],
         "pictures": [{"type": 3, "mime": "image/jpeg", "description": "", "file": "c.jpg"}]}
      KEY is a TagLib property-map name in upper case (TITLE, TRACKTOTAL, MUSICBRAINZ_TRACKID,
      REPLAYGAIN_TRACK_GAIN, ...) or any custom name. Each container gets the frames, atoms or
      items that MusicBrainz Picard writes; a custom key goes where that container keeps free
      fields (TXXX, a "----:com.apple.iTunes:" atom, an attribute or item of that name).
      A tag set the container cannot hold is an error, not a silent loss (see below).

  tagtool.py dump FILE
      Prints the tag set of FILE in those model keys, the same lines for the same tags whatever
      the container:
        CONTAINER flac|vorbis|opus|id3v2.3|id3v2.4|id3v1.1|mp4|asf|ape|wav+id3v2.4|wav|none
        KEY=value                     one line per value, sorted by key, a key's values in order
        PICTURE type mime bytes sha1  sorted by type, pictures of one type in stored order
        TECH name=value               encoder and technical fields under their native names
        OPUS_OUTPUT_GAIN=n            Opus only: the gain of the OpusHead header (not a tag)
        INFO id=value                 WAV only: the RIFF LIST INFO items
        OTHER ...                     anything stored that has no place in the model
      Values: newlines print as \\n, carriage returns as \\r, backslashes as \\\\. TRACKNUMBER and
      DISCNUMBER are split from "n/total" pairs and atoms (leading zeros dropped, a total or a
      number of 0 is none); COMPILATION prints as 1 when set and not at all when not; keys are upper
      case (so ReplayGain names stored in lower case read as the others). ID3v2.3: TYER+TDAT(+TIME)
      give DATE "YYYY-MM-DD"(THH:MM); the people frames (TPE1 TPE2 TPE3 TPE4 TCOM TEXT TOLY TOPE)
      and the MusicBrainz ids are split on "/" (a MusicBrainz id never holds one).

What a container cannot hold (checked against mutagen 1.46; dump shows the loss):
  - ID3v2.3: several values of a key that is neither a people frame nor a MusicBrainz id (GENRE,
    COMMENT, TITLE, custom TXXX...) come back as one value joined with "/"; DATE keeps only
    year, day and month of its first value (TYER, TDAT); a "/" in a people value is read as a
    separator.
  - ID3 (both): one value each for LYRICS (USLT), MUSICBRAINZ_TRACKID (UFID), TRACKNUMBER,
    TRACKTOTAL, DISCNUMBER, DISCTOTAL; picture descriptions must differ, so repeats get " (n)"
    appended, as Picard does.
  - MP4: no picture types (covr has none: PICTURE lines print type "-", the front cover is
    written first) and no picture descriptions; only JPEG, PNG, GIF and BMP pictures; BPM is an
    integer; one value each for the number pairs and COMPILATION.
  - ASF: WM/TrackNumber and WM/PartOfSet are written as "n/total" text, WM/IsCompilation as a
    boolean; attributes over 64 KiB (large pictures) live in the metadata library object, so the
    stored order of pictures may differ from the written one (dump sorts pictures by type).
  - APEv2: one picture per type (items "Cover Art (Front)" ...), no picture MIME type (sniffed
    from the bytes) and no description; one value each for the number pairs.
  - Vorbis comments and FLAC hold everything.
  - mutagen reads no RIFF INFO chunk: WAV is written with an ID3 chunk only.
"""
import base64
import hashlib
import io
import json
import re
import struct
import sys

try:
    import mutagen
    from mutagen import id3
    from mutagen.apev2 import APEv2, APEValue, BINARY, APENoHeaderError
    from mutagen.asf import ASF, ASFBoolAttribute, ASFByteArrayAttribute
    from mutagen.flac import FLAC, Picture
    from mutagen.mp4 import MP4, MP4Cover, MP4FreeForm, AtomDataType
    from mutagen.oggopus import OggOpus
    from mutagen.oggvorbis import OggVorbis
    from mutagen.ogg import OggPage
    from mutagen.wave import WAVE
except ImportError as e:  # pragma: no cover
    sys.exit("tagtool.py: mutagen is needed (Debian: apt-get install python3-mutagen): %s" % e)


class Refused(Exception):
    """The tag set cannot go into the container as asked."""


def kind_of(path):
    ext = path.rsplit(".", 1)[-1].lower() if "." in path else ""
    kinds = {"flac": "flac", "ogg": "vorbis", "oga": "vorbis", "opus": "opus", "mp3": "id3",
             "wav": "wav", "m4a": "mp4", "mp4": "mp4", "m4b": "mp4", "wma": "asf", "asf": "asf",
             "wv": "ape", "ape": "ape"}
    if ext not in kinds:
        raise Refused("%s: unknown file type .%s" % (path, ext))
    return kinds[ext]


# The ID3 picture types, named as the APEv2 "Cover Art (...)" items name them.
PICTURE_NAMES = ["Other", "Icon", "Other Icon", "Front", "Back", "Leaflet", "Media", "Lead Artist",
                 "Artist", "Conductor", "Band", "Composer", "Lyricist", "Recording Location",
                 "During Recording", "During Performance", "Video Capture", "Fish",
                 "Illustration", "Band Logotype", "Publisher Logotype"]

MUSICBRAINZ_IDS = ["MUSICBRAINZ_TRACKID", "MUSICBRAINZ_ALBUMID", "MUSICBRAINZ_ARTISTID",
                   "MUSICBRAINZ_ALBUMARTISTID", "MUSICBRAINZ_RELEASEGROUPID",
                   "MUSICBRAINZ_RELEASETRACKID"]
# Picard's names of the MusicBrainz ids in ID3 TXXX frames and MP4 freeform atoms ("Track Id" is
# the recording's id; in ID3 that one goes into a UFID frame instead).
PICARD_MB_NAMES = {"MUSICBRAINZ_TRACKID": "MusicBrainz Track Id",
                   "MUSICBRAINZ_ALBUMID": "MusicBrainz Album Id",
                   "MUSICBRAINZ_ARTISTID": "MusicBrainz Artist Id",
                   "MUSICBRAINZ_ALBUMARTISTID": "MusicBrainz Album Artist Id",
                   "MUSICBRAINZ_RELEASEGROUPID": "MusicBrainz Release Group Id",
                   "MUSICBRAINZ_RELEASETRACKID": "MusicBrainz Release Track Id"}
REPLAYGAIN = ["REPLAYGAIN_TRACK_GAIN", "REPLAYGAIN_TRACK_PEAK", "REPLAYGAIN_ALBUM_GAIN",
              "REPLAYGAIN_ALBUM_PEAK"]
MB_MUSICBRAINZ_UFID = "http://musicbrainz.org"

# ID3 text frames, both ways. DATE is TDRC in v2.4 and TYER/TDAT in v2.3, apart from this table.
ID3_TEXT = {"TITLE": "TIT2", "ARTIST": "TPE1", "ALBUMARTIST": "TPE2", "ALBUM": "TALB",
            "GENRE": "TCON", "COMPOSER": "TCOM", "BPM": "TBPM", "COMPILATION": "TCMP",
            "ARTISTSORT": "TSOP", "ALBUMSORT": "TSOA", "ALBUMARTISTSORT": "TSO2",
            "TITLESORT": "TSOT", "COMPOSERSORT": "TSOC", "ISRC": "TSRC", "COPYRIGHT": "TCOP",
            "LABEL": "TPUB", "LYRICIST": "TEXT", "CONDUCTOR": "TPE3", "REMIXER": "TPE4",
            "ENCODEDBY": "TENC", "SUBTITLE": "TIT3", "MEDIA": "TMED", "LANGUAGE": "TLAN",
            "INITIALKEY": "TKEY", "ORIGINALALBUM": "TOAL", "ORIGINALARTIST": "TOPE",
            "ORIGINALLYRICIST": "TOLY"}
# Read only: v2.4 frames a v2.3 tag cannot carry, written as TXXX by this tool.
ID3_TEXT_READ = dict(ID3_TEXT, MOOD="TMOO", DISCSUBTITLE="TSST", ORIGINALDATE="TDOR")
ID3_PEOPLE = {"TPE1", "TPE2", "TPE3", "TPE4", "TCOM", "TEXT", "TOLY", "TOPE"}

MP4_TEXT = {"TITLE": "\xa9nam", "ARTIST": "\xa9ART", "ALBUMARTIST": "aART", "ALBUM": "\xa9alb",
            "DATE": "\xa9day", "GENRE": "\xa9gen", "COMMENT": "\xa9cmt", "COMPOSER": "\xa9wrt",
            "LYRICS": "\xa9lyr", "ARTISTSORT": "soar", "ALBUMSORT": "soal",
            "ALBUMARTISTSORT": "soaa", "TITLESORT": "sonm", "COMPOSERSORT": "soco",
            "COPYRIGHT": "cprt", "GROUPING": "\xa9grp"}
MP4_FREEFORM = dict(PICARD_MB_NAMES, ISRC="ISRC", LABEL="LABEL",
                    **{k: k.lower() for k in REPLAYGAIN})
MP4_MEAN = "----:com.apple.iTunes:"
MP4_IMAGE = {MP4Cover.FORMAT_JPEG: "image/jpeg", MP4Cover.FORMAT_PNG: "image/png",
             12: "image/gif", 27: "image/bmp"}

ASF_NAMES = {"TITLE": "Title", "ARTIST": "Author", "ALBUMARTIST": "WM/AlbumArtist",
             "ALBUM": "WM/AlbumTitle", "DATE": "WM/Year", "GENRE": "WM/Genre",
             "COMMENT": "Description", "COMPOSER": "WM/Composer", "LYRICS": "WM/Lyrics",
             "BPM": "WM/BeatsPerMinute", "COMPILATION": "WM/IsCompilation",
             "ARTISTSORT": "WM/ArtistSortOrder", "ALBUMSORT": "WM/AlbumSortOrder",
             "ALBUMARTISTSORT": "WM/AlbumArtistSortOrder", "TITLESORT": "WM/TitleSortOrder",
             "ISRC": "WM/ISRC", "COPYRIGHT": "Copyright", "LABEL": "WM/Publisher",
             "LYRICIST": "WM/Writer", "CONDUCTOR": "WM/Conductor", "REMIXER": "WM/ModifiedBy",
             "SUBTITLE": "WM/SubTitle", "DISCSUBTITLE": "WM/SetSubTitle", "MOOD": "WM/Mood",
             "MEDIA": "WM/Media", "ENCODEDBY": "WM/EncodedBy", "LANGUAGE": "WM/Language",
             "INITIALKEY": "WM/InitialKey", "GROUPING": "WM/ContentGroupDescription",
             "TRACKNUMBER": "WM/TrackNumber", "DISCNUMBER": "WM/PartOfSet",
             **{k: "MusicBrainz/" + v[len("MusicBrainz "):] for k, v in PICARD_MB_NAMES.items()}}
ASF_TECH = {"WM/EncodingSettings", "WMFSDKVersion", "WMFSDKNeeded", "IsVBR",
            "DeviceConformanceTemplate", "WM/ToolName", "WM/ToolVersion", "WM/EncodingTime"}

# APEv2 item names that differ from the model key (items are compared without case).
APE_NAMES = {"TITLE": "Title", "ARTIST": "Artist", "ALBUMARTIST": "Album Artist",
             "ALBUM": "Album", "DATE": "Year", "TRACKNUMBER": "Track", "DISCNUMBER": "Disc",
             "GENRE": "Genre", "COMMENT": "Comment", "COMPOSER": "Composer", "LYRICS": "Lyrics",
             "BPM": "BPM", "COMPILATION": "Compilation", "COPYRIGHT": "Copyright",
             "LABEL": "Label", "REMIXER": "MixArtist"}
APE_READ = dict({v.lower(): k for k, v in APE_NAMES.items()}, albumartist="ALBUMARTIST")


# ---------------------------------------------------------------------------------------------
# The tag set of a SPEC file.

def load_spec(path):
    with open(path, encoding="utf-8") as f:
        spec = json.load(f)
    fields = {}  # KEY -> [values], in the order the keys first appear
    for entry in spec.get("fields", []):
        if not (isinstance(entry, list) and len(entry) == 2 and isinstance(entry[0], str)
                and isinstance(entry[1], list) and all(isinstance(v, str) for v in entry[1])):
            raise Refused("SPEC: a field is [\"KEY\", [\"value\", ...]], not %r" % (entry,))
        key = entry[0]
        if not key or key != key.upper() or "=" in key:
            raise Refused("SPEC: key %r must be upper case, non-empty, without '='" % key)
        fields.setdefault(key, []).extend(entry[1])
    pictures = []
    for p in spec.get("pictures", []):
        ptype = p.get("type", 3)
        if not isinstance(ptype, int) or not 0 <= ptype <= 20:
            raise Refused("SPEC: picture type %r is not 0..20" % (ptype,))
        with open(p["file"], "rb") as f:
            data = f.read()
        pictures.append({"type": ptype, "mime": p.get("mime") or sniff_mime(data),
                         "description": p.get("description", ""), "data": data})
    return fields, pictures


def one(fields, key, container):
    values = fields.get(key, [])
    if len(values) > 1:
        raise Refused("%s holds one value of %s, not %d" % (container, key, len(values)))
    return values[0] if values else None


def pair_text(fields, number_key, total_key, container):
    """"n/total", "n" or None from the number and total keys of the tag set."""
    n, total = one(fields, number_key, container), one(fields, total_key, container)
    if total:
        return "%s/%s" % (n or "", total)
    return n


def pair_ints(fields, number_key, total_key, container):
    try:
        n = int(one(fields, number_key, container) or 0)
        total = int(one(fields, total_key, container) or 0)
    except ValueError:
        raise Refused("%s holds only whole numbers in %s and %s" % (container, number_key, total_key))
    return (n, total) if n or total else None


def sniff_mime(data):
    if data[:3] == b"\xff\xd8\xff":
        return "image/jpeg"
    if data[:8] == b"\x89PNG\r\n\x1a\n":
        return "image/png"
    if data[:4] == b"GIF8":
        return "image/gif"
    if data[:2] == b"BM":
        return "image/bmp"
    if data[:4] == b"RIFF" and data[8:12] == b"WEBP":
        return "image/webp"
    return "application/octet-stream"


def image_size(data):
    """(width, height, bits per pixel) of a PNG or baseline/progressive JPEG, else zeros."""
    if data[:8] == b"\x89PNG\r\n\x1a\n" and data[12:16] == b"IHDR":
        width, height, depth, colour = struct.unpack(">IIBB", data[16:26])
        channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}.get(colour, 1)
        return width, height, depth * channels
    if data[:2] == b"\xff\xd8":
        pos = 2
        while pos + 9 < len(data) and data[pos] == 0xFF:
            marker = data[pos + 1]
            length = struct.unpack(">H", data[pos + 2:pos + 4])[0]
            if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
                precision, height, width, components = struct.unpack(">BHHB", data[pos + 4:pos + 10])
                return width, height, precision * components
            pos += 2 + length
    return 0, 0, 0


def flac_picture(p):
    pic = Picture()
    pic.type, pic.mime, pic.desc, pic.data = p["type"], p["mime"], p["description"], p["data"]
    pic.width, pic.height, pic.depth = image_size(p["data"])
    return pic


# ---------------------------------------------------------------------------------------------
# Writing.

def write_vorbis_fields(tags, fields):
    tags.clear()
    for key, values in fields.items():
        for value in values:
            tags.append((key, value))


def write_flac(path, fields, pictures, _):
    f = FLAC(path)
    if f.tags is None:
        f.add_tags()
    write_vorbis_fields(f.tags, fields)
    f.clear_pictures()
    for p in pictures:
        f.add_picture(flac_picture(p))
    f.save(deleteid3=True)


def write_ogg(cls):
    def write(path, fields, pictures, _):
        f = cls(path)
        write_vorbis_fields(f.tags, fields)
        for p in pictures:
            f.tags.append(("METADATA_BLOCK_PICTURE",
                           base64.b64encode(flac_picture(p).write()).decode("ascii")))
        f.save()
    return write


def id3_frames(fields, pictures):
    """The ID3v2.4 frames of the tag set (turned into v2.3 ones by the caller when asked)."""
    c = "ID3"
    frames = []
    done = set()
    for key in ("TRACK", "DISC"):
        text = pair_text(fields, key + "NUMBER", key + "TOTAL", c)
        if text:
            frames.append((id3.TRCK if key == "TRACK" else id3.TPOS)(encoding=3, text=[text]))
        done |= {key + "NUMBER", key + "TOTAL"}
    for key, values in fields.items():
        if key in done:
            continue
        if key in ID3_TEXT:
            frames.append(id3.Frames[ID3_TEXT[key]](encoding=3, text=values))
        elif key == "DATE":
            frames.append(id3.TDRC(encoding=3, text=values))
        elif key == "COMMENT":
            frames.append(id3.COMM(encoding=3, lang="eng", desc="", text=values))
        elif key == "LYRICS":
            frames.append(id3.USLT(encoding=3, lang="eng", desc="", text=one(fields, key, c)))
        elif key == "MUSICBRAINZ_TRACKID":
            frames.append(id3.UFID(owner=MB_MUSICBRAINZ_UFID,
                                   data=one(fields, key, c).encode("ascii")))
        else:
            desc = PICARD_MB_NAMES.get(key, key)
            frames.append(id3.TXXX(encoding=3, desc=desc, text=values))
    seen = {}
    for p in pictures:
        desc = p["description"]
        count = seen.get(desc, 0)
        seen[desc] = count + 1
        if count:  # ID3 wants one picture per description
            desc = "%s (%d)" % (desc, count) if desc else "(%d)" % count
        frames.append(id3.APIC(encoding=3, mime=p["mime"], type=p["type"], desc=desc,
                               data=p["data"]))
    return frames


def fill_id3(tags, fields, pictures, version):
    for frame in id3_frames(fields, pictures):
        tags.add(frame)
    if version == 3:
        # mutagen's conversion drops the sort frames TSOP TSOA TSOT as v2.4-only; Picard keeps
        # them in v2.3 because players read them there too.
        kept = [tags.pop(k) for k in ("TSOP", "TSOA", "TSOT") if k in tags]
        tags.update_to_v23()  # TDRC -> TYER + TDAT "DDMM"; save() alone would not convert
        for frame in kept:
            tags.add(frame)


def write_id3(path, fields, pictures, version):
    tags = id3.ID3()
    fill_id3(tags, fields, pictures, version)
    # v1=0 removes an ID3v1 tag; v2.3 joins several values of a frame with "/".
    tags.save(path, v1=0, v2_version=version, v23_sep="/")


def write_wav(path, fields, pictures, version):
    f = WAVE(path)
    if f.tags is None:
        f.add_tags()
    f.tags.clear()
    fill_id3(f.tags, fields, pictures, version)
    f.save(v2_version=version, v23_sep="/")


def write_mp4(path, fields, pictures, _):
    c = "MP4"
    f = MP4(path)
    if f.tags is None:
        f.add_tags()
    tags = f.tags
    tags.clear()
    for key, atom in (("TRACK", "trkn"), ("DISC", "disk")):
        value = pair_ints(fields, key + "NUMBER", key + "TOTAL", c)
        if value:
            tags[atom] = [value]
    for key, values in fields.items():
        if key in ("TRACKNUMBER", "TRACKTOTAL", "DISCNUMBER", "DISCTOTAL"):
            continue
        if key in MP4_TEXT:
            tags[MP4_TEXT[key]] = values
        elif key == "BPM":
            try:
                tags["tmpo"] = [int(one(fields, key, c))]
            except ValueError:
                raise Refused("MP4 holds only a whole number of beats per minute")
        elif key == "COMPILATION":
            tags["cpil"] = one(fields, key, c) not in ("", "0")
        else:
            name = MP4_MEAN + MP4_FREEFORM.get(key, key)
            tags[name] = [MP4FreeForm(v.encode("utf-8"), dataformat=AtomDataType.UTF8)
                          for v in values]
    formats = {v: k for k, v in MP4_IMAGE.items()}
    covers = []
    for p in sorted(pictures, key=lambda p: p["type"] != 3):  # the front cover first
        if p["mime"] not in formats:
            raise Refused("MP4 holds no %s picture" % p["mime"])
        covers.append(MP4Cover(p["data"], imageformat=formats[p["mime"]]))
    if covers:
        tags["covr"] = covers
    f.save()


def asf_picture(p):
    return (struct.pack("<BI", p["type"], len(p["data"]))
            + p["mime"].encode("utf-16-le") + b"\0\0"
            + p["description"].encode("utf-16-le") + b"\0\0" + p["data"])


def write_asf(path, fields, pictures, _):
    c = "ASF"
    f = ASF(path)
    f.tags.clear()
    for key in ("TRACK", "DISC"):
        text = pair_text(fields, key + "NUMBER", key + "TOTAL", c)
        if text:
            f.tags[ASF_NAMES[key + "NUMBER"]] = [text]
    for key, values in fields.items():
        if key in ("TRACKNUMBER", "TRACKTOTAL", "DISCNUMBER", "DISCTOTAL"):
            continue
        if key == "COMPILATION":
            f.tags[ASF_NAMES[key]] = [ASFBoolAttribute(one(fields, key, c) not in ("", "0"))]
        else:
            f.tags[ASF_NAMES.get(key, key)] = values
    if pictures:
        f.tags["WM/Picture"] = [ASFByteArrayAttribute(asf_picture(p)) for p in pictures]
    f.save()


def write_ape(path, fields, pictures, _):
    c = "APEv2"
    tags = APEv2()
    for key in ("TRACK", "DISC"):
        text = pair_text(fields, key + "NUMBER", key + "TOTAL", c)
        if text:
            tags[APE_NAMES[key + "NUMBER"]] = text
    for key, values in fields.items():
        if key not in ("TRACKNUMBER", "TRACKTOTAL", "DISCNUMBER", "DISCTOTAL"):
            tags[APE_NAMES.get(key, key)] = values  # a list: values separated by "\0"
    for p in pictures:
        item = "Cover Art (%s)" % PICTURE_NAMES[p["type"]]
        if item in tags:
            raise Refused("APEv2 holds one picture of type %d" % p["type"])
        ext = {"image/jpeg": ".jpg", "image/png": ".png", "image/gif": ".gif",
               "image/bmp": ".bmp"}.get(p["mime"], "")
        name = p["description"] or item + ext
        tags[item] = APEValue(name.encode("utf-8") + b"\0" + p["data"], BINARY)
    try:  # the old tag goes only once the new one is complete
        APEv2(path).delete()
    except APENoHeaderError:
        pass
    tags.save(path)


WRITERS = {"flac": write_flac, "vorbis": write_ogg(OggVorbis), "opus": write_ogg(OggOpus),
           "id3": write_id3, "wav": write_wav, "mp4": write_mp4, "asf": write_asf,
           "ape": write_ape}


# ---------------------------------------------------------------------------------------------
# Reading. Each reader fills a Dump with the model keys and values as stored; normalise() then
# does what is common to every container.

class Dump:
    def __init__(self, container):
        self.container = container
        self.fields = []    # (KEY, value)
        self.pictures = []  # (type or "-", mime, data)
        self.tech = []      # (name, value)
        self.extra = []     # whole lines


def read_vorbis_comment(d, comment, pictures_allowed):
    d.tech.append(("vendor", comment.vendor))
    for key, value in comment:
        key = key.upper()
        if key == "ENCODER":
            d.tech.append((key, value))
        elif key == "METADATA_BLOCK_PICTURE":
            try:
                pic = Picture(base64.b64decode(value))
            except Exception:
                d.extra.append("OTHER METADATA_BLOCK_PICTURE unreadable (%d characters)" % len(value))
                continue
            if pictures_allowed:
                d.pictures.append((pic.type, pic.mime, pic.data))
            else:  # FLAC keeps pictures in blocks of their own, not in the comment
                d.extra.append("OTHER comment-picture %d %s %d %s" % (
                    pic.type, pic.mime, len(pic.data), hashlib.sha1(pic.data).hexdigest()))
        else:
            d.fields.append((key, value))


def read_flac(path):
    f = FLAC(path)
    d = Dump("flac")
    if f.tags is not None:
        read_vorbis_comment(d, f.tags, False)
    d.pictures += [(p.type, p.mime, p.data) for p in f.pictures]
    return d


def read_ogg(cls, container):
    def read(path):
        f = cls(path)
        d = Dump(container)
        read_vorbis_comment(d, f.tags, True)
        if container == "opus":
            with open(path, "rb") as fileobj:
                head = OggPage(fileobj).packets[0]
            if head[:8] != b"OpusHead":
                raise Refused("%s: the first Ogg packet is not OpusHead" % path)
            d.extra.append("OPUS_OUTPUT_GAIN=%d" % struct.unpack("<h", head[16:18])[0])
        return d
    return read


def text_of(value):
    return value if isinstance(value, str) else str(value)


def read_id3_tags(d, tags):
    v23 = tags.version[:2] == (2, 3)
    text_keys = {v: k for k, v in ID3_TEXT_READ.items()}
    txxx_keys = {v.lower(): k for k, v in PICARD_MB_NAMES.items()}
    dates = {}
    for frame in tags.values():
        fid = frame.FrameID
        if fid in ("TYER", "TDAT", "TIME") and v23:
            dates[fid] = text_of(frame.text[0]) if frame.text else ""
        elif fid == "TDRC" and not v23:
            d.fields += [("DATE", text_of(t)) for t in frame.text]
        elif fid in text_keys:
            values = frame.genres if fid == "TCON" else [text_of(t) for t in frame.text]
            if v23 and fid in ID3_PEOPLE:
                values = [part for v in values for part in v.split("/")]
            d.fields += [(text_keys[fid], v) for v in values]
        elif fid in ("TRCK", "TPOS"):
            key = "TRACKNUMBER" if fid == "TRCK" else "DISCNUMBER"
            d.fields += [(key, text_of(t)) for t in frame.text]
        elif fid == "TSSE":
            d.tech += [(fid, text_of(t)) for t in frame.text]
        elif fid == "COMM" and frame.desc in ("iTunNORM", "iTunSMPB"):
            d.tech += [(frame.desc, t) for t in frame.text]
        elif fid == "COMM":
            key = "COMMENT:" + frame.desc.upper() if frame.desc else "COMMENT"
            d.fields += [(key, t) for t in frame.text]
        elif fid == "USLT":
            d.fields.append(("LYRICS:" + frame.desc.upper() if frame.desc else "LYRICS", frame.text))
        elif fid == "UFID" and frame.owner == MB_MUSICBRAINZ_UFID:
            d.fields.append(("MUSICBRAINZ_TRACKID", frame.data.decode("ascii", "replace")))
        elif fid == "TXXX" and frame.desc in ("iTunNORM", "iTunSMPB"):
            d.tech += [(frame.desc, t) for t in frame.text]
        elif fid == "TXXX":
            key = txxx_keys.get(frame.desc.lower()) or free_key(frame.desc, ID3_NATIVE, "TXXX:")
            values = list(frame.text)
            if v23 and key in MUSICBRAINZ_IDS:
                values = [part for v in values for part in v.split("/")]
            d.fields += [(key, v) for v in values]
        elif fid == "APIC":
            d.pictures.append((int(frame.type), frame.mime, frame.data))
        else:
            d.extra.append("OTHER id3v2.%d %s" % (tags.version[1], short(frame.pprint())))
    if dates:
        date = dates.get("TYER", "")
        ddmm = dates.get("TDAT", "")
        if re.fullmatch(r"\d{4}", ddmm):
            date += "-%s-%s" % (ddmm[2:], ddmm[:2])
            hhmm = dates.get("TIME", "")
            if re.fullmatch(r"\d{4}", hhmm):
                date += "T%s:%s" % (hhmm[:2], hhmm[2:])
        d.fields.append(("DATE", date))


NUMBER_KEYS = {"TRACKNUMBER", "TRACKTOTAL", "DISCNUMBER", "DISCTOTAL"}
ID3_NATIVE = set(ID3_TEXT) | NUMBER_KEYS | {"DATE", "COMMENT", "LYRICS", "MUSICBRAINZ_TRACKID"}
MP4_NATIVE = set(MP4_TEXT) | NUMBER_KEYS | {"BPM", "COMPILATION"}
ASF_NATIVE = set(ASF_NAMES) | NUMBER_KEYS


def free_key(name, native, marker):
    """The model key of a free-form field (TXXX, "----" atom, ASF attribute) not in the tables.
    One that spells a key the container keeps elsewhere (TXXX "ARTIST" instead of TPE1, an
    attribute "MUSICBRAINZ_ALBUMID" instead of "MusicBrainz/Album Id") is a misplaced field:
    it keeps a marker so that it shows."""
    key = name.upper()
    if key in native or key in PICARD_MB_NAMES:
        return marker + name
    return key


def short(text):
    return text if len(text) <= 200 else text[:200] + "..."


def read_id3(path):
    try:
        tags = id3.ID3(path, translate=False)
    except id3.ID3NoHeaderError:
        return Dump("none")
    d = Dump("id3v%d.%d" % tags.version[:2])
    read_id3_tags(d, tags)
    with open(path, "rb") as f:
        f.seek(0, 2)
        if tags.version[0] == 2 and f.tell() >= 128:
            f.seek(-128, 2)
            if f.read(3) == b"TAG":
                d.tech.append(("id3v1", "present"))
    return d


def riff_chunks(data, start, end):
    pos = start
    while pos + 8 <= end:
        cid, size = struct.unpack("<4sI", data[pos:pos + 8])
        yield cid, data[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)


def read_wav(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise Refused("%s: not a RIFF WAVE file" % path)
    d = Dump("wav")
    for cid, body in riff_chunks(data, 12, len(data)):
        if cid in (b"id3 ", b"ID3 "):
            tags = id3.ID3(io.BytesIO(body), translate=False)
            d.container = "wav+id3v%d.%d" % tags.version[:2]
            read_id3_tags(d, tags)
        elif cid == b"LIST" and body[:4] == b"INFO":
            for iid, value in riff_chunks(body, 4, len(body)):
                text = value.split(b"\0", 1)[0].decode("utf-8", "replace")
                d.extra.append("INFO %s=%s" % (iid.decode("latin-1"), escape(text)))
    return d


def read_mp4(path):
    f = MP4(path)
    d = Dump("mp4")
    text_keys = {v: k for k, v in MP4_TEXT.items()}
    freeform_keys = {v.lower(): k for k, v in MP4_FREEFORM.items()}
    for atom, values in (f.tags or {}).items():
        if atom in text_keys:
            d.fields += [(text_keys[atom], v) for v in values]
        elif atom in ("trkn", "disk"):
            key = "TRACK" if atom == "trkn" else "DISC"
            for n, total in values:
                d.fields += [(key + "NUMBER", str(n)), (key + "TOTAL", str(total))]
        elif atom == "tmpo":
            d.fields += [("BPM", str(v)) for v in values]
        elif atom == "cpil":
            d.fields.append(("COMPILATION", "1" if values else "0"))
        elif atom == "covr":
            d.pictures += [("-", MP4_IMAGE.get(c.imageformat, "image/unknown-%d" % c.imageformat),
                            bytes(c)) for c in values]
        elif atom == "\xa9too":
            d.tech += [(atom, v) for v in values]
        elif atom.startswith(MP4_MEAN):
            name = atom[len(MP4_MEAN):]
            texts = [bytes(v).decode("utf-8", "replace") for v in values]
            if name in ("iTunSMPB", "iTunNORM"):
                d.tech += [(name, t) for t in texts]
            else:
                key = freeform_keys.get(name.lower()) or free_key(name, MP4_NATIVE, "----:")
                d.fields += [(key, t) for t in texts]
        else:
            d.extra.append("OTHER mp4 %s=%s" % (atom, short(repr(values))))
    return d


def asf_text(value):
    if isinstance(value, ASFBoolAttribute):
        return "1" if value.value else "0"
    return text_of(value.value)


def read_asf(path):
    f = ASF(path)
    d = Dump("asf")
    names = {v: k for k, v in ASF_NAMES.items()}
    for name, value in f.tags:
        if name == "WM/Picture":
            raw = value.value
            ptype, size = struct.unpack("<BI", raw[:5])
            texts, pos = [], 5
            for _ in range(2):  # MIME type, then description: UTF-16 ending in a 0 code unit
                end = pos
                while end < len(raw) and raw[end:end + 2] != b"\0\0":
                    end += 2
                texts.append(raw[pos:end].decode("utf-16-le"))
                pos = end + 2
            d.pictures.append((ptype, texts[0], raw[pos:pos + size]))
        elif name in ASF_TECH:
            d.tech.append((name, asf_text(value)))
        else:
            key = names.get(name) or free_key(name, ASF_NATIVE, "ASF:")
            d.fields.append((key, asf_text(value)))
    return d


def read_ape(path):
    try:
        tags = APEv2(path)
    except APENoHeaderError:
        return Dump("none")
    d = Dump("ape")
    names = {("cover art (%s)" % n).lower(): i for i, n in enumerate(PICTURE_NAMES)}
    for item, value in tags.items():
        low = item.lower()
        if value.kind == BINARY and low in names:
            data = value.value.split(b"\0", 1)[1] if b"\0" in value.value else b""
            d.pictures.append((names[low], sniff_mime(data), data))
        elif value.kind == BINARY:
            d.extra.append("OTHER ape binary %s (%d bytes)" % (item, len(value.value)))
        else:
            key = APE_READ.get(low, item.upper())
            d.fields += [(key, v) for v in value]  # iterating splits at "\0"
    return d


READERS = {"flac": read_flac, "vorbis": read_ogg(OggVorbis, "vorbis"),
           "opus": read_ogg(OggOpus, "opus"), "id3": read_id3, "wav": read_wav,
           "mp4": read_mp4, "asf": read_asf, "ape": read_ape}


def escape(text):
    return text.replace("\\", "\\\\").replace("\n", "\\n").replace("\r", "\\r")


def normalise(fields):
    """The model's lines of the stored fields: number pairs split, totals and flags settled."""
    out = []
    for key, value in fields:
        key = key.upper()
        base = key[:-len("NUMBER")] if key in ("TRACKNUMBER", "DISCNUMBER") else None
        if base or key in ("TRACKTOTAL", "DISCTOTAL"):
            m = re.fullmatch(r"\s*(\d*)\s*(?:/\s*(\d*)\s*)?", value)
            if not m:
                out.append((key, value))
                continue
            number, total = (m.group(1), m.group(2)) if base else ("", m.group(1))
            base = base or key[:-len("TOTAL")]
            if number and int(number):
                out.append((base + "NUMBER", str(int(number))))
            # A total given twice over (Vorbis "4/12" beside TRACKTOTAL=12) is one total.
            if total and int(total) and (base + "TOTAL", str(int(total))) not in out:
                out.append((base + "TOTAL", str(int(total))))
        elif key == "COMPILATION":
            if value.strip().lower() not in ("", "0", "false", "no"):
                out.append((key, "1"))
        else:
            out.append((key, value))
    return sorted(out, key=lambda kv: kv[0])  # stable: a key's values stay in order


def dump(path):
    d = READERS[kind_of(path)](path)
    lines = ["CONTAINER " + d.container]
    lines += ["%s=%s" % (k, escape(v)) for k, v in normalise(d.fields)]
    # Pictures of one type keep their stored order; MP4's carry no type.
    pictures = sorted(d.pictures, key=lambda p: -1 if p[0] == "-" else p[0])
    lines += ["PICTURE %s %s %d %s" % (t, m, len(b), hashlib.sha1(b).hexdigest())
              for t, m, b in pictures]
    lines += ["TECH %s=%s" % (n, escape(v)) for n, v in sorted(d.tech)]
    lines += d.extra
    print("\n".join(lines))


def main(argv):
    usage = "usage: tagtool.py write FILE SPEC.json [--id3 3|4] | tagtool.py dump FILE"
    try:
        if len(argv) == 2 and argv[0] == "dump":
            dump(argv[1])
        elif len(argv) in (3, 5) and argv[0] == "write":
            version = 4
            if len(argv) == 5:
                if argv[3] != "--id3" or argv[4] not in ("3", "4"):
                    raise Refused(usage)
                version = int(argv[4])
            kind = kind_of(argv[1])
            fields, pictures = load_spec(argv[2])
            WRITERS[kind](argv[1], fields, pictures, version)
        else:
            print(usage, file=sys.stderr)
            return 2
    except (Refused, mutagen.MutagenError, OSError, ValueError) as e:
        print("tagtool.py: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
