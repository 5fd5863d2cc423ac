#include "encoders/OggCommentWriter.h"

#include "platform/DescriptorFile.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

namespace {

// A page: "OggS", version 0, flags, granule position (64 bits), stream serial number, page
// sequence number, checksum, segment count; then that many lacing values and the body. A packet
// is the run of segments up to the first lacing value under 255.
constexpr size_t kPageHeader = 27;
constexpr size_t kFlagsAt = 5;
constexpr size_t kGranuleAt = 6;
constexpr size_t kSerialAt = 14;
constexpr size_t kSequenceAt = 18; // the checksum follows it
constexpr size_t kChecksumAt = 22;
constexpr size_t kSegmentsAt = 26;
constexpr size_t kMaxSegments = 255;
constexpr uint8_t kSegment = 255;
constexpr uint8_t kContinued = 0x01;
constexpr uint8_t kFirstPage = 0x02;
// A page on which no packet ends has no granule position of its own.
constexpr uint64_t kNoGranule = ~uint64_t {0};

// Ogg's CRC-32: polynomial 0x04C11DB7, most significant bit first, starting at zero, no final
// inversion (not zlib's). Table k gives a byte's remainder once k zero bytes follow it, so eight
// bytes are folded in a step.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr CrcTables MakeCrcTables()
{
    CrcTables tables {};
    for (uint32_t byte = 0; byte < 256; ++byte) {
        uint32_t remainder = byte << 24;
        for (int bit = 0; bit < 8; ++bit)
            remainder = (remainder & 0x80000000u) ? (remainder << 1) ^ 0x04C11DB7u : remainder << 1;
        tables[0][byte] = remainder;
    }
    for (size_t k = 1; k < tables.size(); ++k) {
        for (size_t byte = 0; byte < 256; ++byte) {
            const uint32_t previous = tables[k - 1][byte];
            tables[k][byte] = (previous << 8) ^ tables[0][previous >> 24];
        }
    }
    return tables;
}

constexpr CrcTables kCrc = MakeCrcTables();

uint32_t Checksum(const uint8_t* bytes, size_t size)
{
    uint32_t crc = 0;
    for (; size >= 8; bytes += 8, size -= 8) {
        const uint32_t head = crc
            ^ (uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3]);
        crc = kCrc[7][head >> 24] ^ kCrc[6][(head >> 16) & 0xFF] ^ kCrc[5][(head >> 8) & 0xFF]
            ^ kCrc[4][head & 0xFF] ^ kCrc[3][bytes[4]] ^ kCrc[2][bytes[5]] ^ kCrc[1][bytes[6]]
            ^ kCrc[0][bytes[7]];
    }
    for (; size > 0; ++bytes, --size)
        crc = (crc << 8) ^ kCrc[0][(crc >> 24) ^ *bytes];
    return crc;
}

uint32_t Le32(const uint8_t* bytes)
{
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

void PutLe(uint8_t* at, uint64_t value, int size)
{
    for (int i = 0; i < size; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void AppendLe32(std::string& to, uint32_t value)
{
    uint8_t bytes[4];
    PutLe(bytes, value, 4);
    to.append(reinterpret_cast<const char*>(bytes), 4);
}

// Base64 digits for each 12 bits: two digits at a time.
using DigitPairs = std::array<std::array<char, 2>, 4096>;

constexpr DigitPairs MakeDigitPairs()
{
    constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    DigitPairs pairs {};
    for (size_t bits = 0; bits < pairs.size(); ++bits)
        pairs[bits] = {kDigits[bits >> 6], kDigits[bits & 63]};
    return pairs;
}

constexpr DigitPairs kDigitPairs = MakeDigitPairs();

// Appends `size` bytes in base64, padded with '='.
void AppendBase64(std::string& to, const uint8_t* bytes, size_t size)
{
    size_t at = to.size();
    to.resize(at + (size + 2) / 3 * 4);
    char* out = to.data() + at;
    for (; size >= 3; bytes += 3, size -= 3, out += 4) {
        const uint32_t group = uint32_t(bytes[0]) << 16 | uint32_t(bytes[1]) << 8 | bytes[2];
        std::memcpy(out, kDigitPairs[group >> 12].data(), 2);
        std::memcpy(out + 2, kDigitPairs[group & 0xFFF].data(), 2);
    }
    if (size > 0) {
        const uint32_t group = uint32_t(bytes[0]) << 16 | (size > 1 ? uint32_t(bytes[1]) << 8 : 0);
        std::memcpy(out, kDigitPairs[group >> 12].data(), 2);
        out[2] = size > 1 ? kDigitPairs[group & 0xFFF][0] : '=';
        out[3] = '=';
    }
}

// A picture block in base64: the head and the first bytes up to a whole group of three, then the
// rest of the bytes straight from where they are.
void AppendBase64(std::string& to, const OggCommentWriter::PictureBlock& picture)
{
    const std::vector<uint8_t>& bytes = *picture.bytes;
    const size_t lead = std::min(bytes.size(), (3 - picture.head.size() % 3) % 3);
    std::string first = picture.head;
    first.append(bytes.begin(), bytes.begin() + static_cast<long>(lead));
    AppendBase64(to, reinterpret_cast<const uint8_t*>(first.data()), first.size());
    AppendBase64(to, bytes.data() + lead, bytes.size() - lead);
}

size_t Base64Size(const OggCommentWriter::PictureBlock& picture)
{
    const size_t size = picture.head.size() + picture.bytes->size();
    const size_t lead = std::min(picture.bytes->size(), (3 - picture.head.size() % 3) % 3);
    const size_t first = picture.head.size() + lead;
    return (first + 2) / 3 * 4 + (size - first + 2) / 3 * 4;
}

constexpr std::string_view kPictureKey = "METADATA_BLOCK_PICTURE=";

// Stamps a finished page's checksum, computed with the checksum field zero.
void Seal(uint8_t* page, size_t size)
{
    PutLe(page + kChecksumAt, 0, 4);
    PutLe(page + kChecksumAt, Checksum(page, size), 4);
}

struct Page {
    std::vector<uint8_t> bytes; // the whole page

    uint8_t Flags() const { return bytes[kFlagsAt]; }
    uint32_t Serial() const { return Le32(&bytes[kSerialAt]); }
    uint32_t Sequence() const { return Le32(&bytes[kSequenceAt]); }
    size_t Segments() const { return bytes[kSegmentsAt]; }
    const uint8_t* Lacing() const { return bytes.data() + kPageHeader; }
    const uint8_t* Body() const { return Lacing() + Segments(); }
};

// Packets laid out on pages from `sequence` on, each page as full as 255 segments allow (a packet
// of a multiple of 255 bytes ends with an empty segment, which may start a page). The pages are
// made one at a time, so that a large comment is copied once more, a page at a time.
class Paginator {
public:
    Paginator(std::vector<const std::string*> packets, uint32_t serial, uint32_t sequence)
        : packets(std::move(packets))
        , serial(serial)
        , sequence(sequence)
    {
        for (size_t index = 0, at = 0; index < this->packets.size();) {
            Layout page {index, at, {}, false, 0};
            while (page.lacing.size() < kMaxSegments && index < this->packets.size()) {
                const size_t take = std::min<size_t>(this->packets[index]->size() - at, kSegment);
                page.lacing.push_back(static_cast<uint8_t>(take));
                page.body += take;
                at += take;
                if (take < kSegment) {
                    page.ended = true;
                    ++index;
                    at = 0;
                }
            }
            size += kPageHeader + page.lacing.size() + page.body;
            layout.push_back(std::move(page));
        }
    }

    uint32_t Count() const { return static_cast<uint32_t>(layout.size()); }
    // The bytes of all the pages.
    size_t Size() const { return size; }

    // Page `number` (from 0), whole and sealed, into `page`.
    void Render(size_t number, std::vector<uint8_t>& page) const
    {
        const Layout& layout = this->layout[number];
        page.resize(kPageHeader + layout.lacing.size() + layout.body);
        uint8_t* out = page.data();
        std::memcpy(out, "OggS", 4);
        out[4] = 0;
        out[kFlagsAt] = layout.at > 0 ? kContinued : 0;
        PutLe(out + kGranuleAt, layout.ended ? 0 : kNoGranule, 8);
        PutLe(out + kSerialAt, serial, 4);
        PutLe(out + kSequenceAt, sequence + number, 4);
        out[kSegmentsAt] = static_cast<uint8_t>(layout.lacing.size());
        out = std::copy(layout.lacing.begin(), layout.lacing.end(), out + kPageHeader);
        // The body: the segments' bytes, packet after packet.
        for (size_t index = layout.index, at = layout.at, left = layout.body; left > 0; ++index, at = 0) {
            const size_t take = std::min(left, packets[index]->size() - at);
            std::memcpy(out, packets[index]->data() + at, take);
            out += take;
            left -= take;
        }
        Seal(page.data(), page.size());
    }

private:
    struct Layout {
        size_t index; // the packet the page starts in
        size_t at; // where in it; more than 0 for a page that goes on with a packet
        std::vector<uint8_t> lacing;
        bool ended; // a packet ends on the page
        size_t body;
    };

    std::vector<const std::string*> packets;
    uint32_t serial;
    uint32_t sequence;
    std::vector<Layout> layout;
    size_t size = 0;
};

class Rewrite {
public:
    Rewrite(int descriptor, OggCommentWriter::Codec codec)
        : file(descriptor)
        , opus(codec == OggCommentWriter::Codec::Opus)
    { }

    // The identification header alone on the first page, then the other header packets, the last
    // one ending with a page.
    bool ReadHeaders()
    {
        Page first;
        if (!ReadPage(0, first) || !(first.Flags() & kFirstPage) || first.Sequence() != 0
            || !HoldsOnePacket(first)
            || !StartsWith(first.Body(), first.bytes.size() - kPageHeader - first.Segments(), Magic(0)))
            return false;
        serial = first.Serial();
        headersStart = static_cast<int64_t>(first.bytes.size());
        int64_t offset = headersStart;
        std::string packet;
        const size_t wanted = opus ? 1 : 2;
        while (packets.size() < wanted) {
            Page page;
            if (!ReadPage(offset, page) || page.Serial() != serial || page.Sequence() != oldPages + 1
                || !TakePackets(page, wanted, packet))
                return false;
            offset += static_cast<int64_t>(page.bytes.size());
            ++oldPages;
        }
        headersEnd = offset;
        return ReadVendor();
    }

    // The comment header: the magic, the vendor text, the number of comments, each with its
    // length (Vorbis ends it with a framing bit). False when a length passes 32 bits.
    bool CommentPacket(const std::vector<std::string>& comments,
        const std::vector<OggCommentWriter::PictureBlock>& pictures, std::string& packet) const
    {
        constexpr size_t kLimit = std::numeric_limits<uint32_t>::max();
        size_t size = Magic(1).size() + 8 + vendor.size() + 1;
        for (const std::string& comment : comments)
            size += 4 + comment.size();
        for (const OggCommentWriter::PictureBlock& picture : pictures) {
            if (kPictureKey.size() + Base64Size(picture) > kLimit)
                return false;
            size += 4 + kPictureKey.size() + Base64Size(picture);
        }
        if (comments.size() + pictures.size() > kLimit
            || std::any_of(comments.begin(), comments.end(),
                [](const std::string& comment) { return comment.size() > kLimit; }))
            return false;
        packet = Magic(1);
        packet.reserve(size);
        AppendLe32(packet, static_cast<uint32_t>(vendor.size()));
        packet += vendor;
        AppendLe32(packet, static_cast<uint32_t>(comments.size() + pictures.size()));
        for (const std::string& comment : comments) {
            AppendLe32(packet, static_cast<uint32_t>(comment.size()));
            packet += comment;
        }
        for (const OggCommentWriter::PictureBlock& picture : pictures) {
            AppendLe32(packet, static_cast<uint32_t>(kPictureKey.size() + Base64Size(picture)));
            packet += kPictureKey;
            AppendBase64(packet, picture);
        }
        if (!opus)
            packet += '\x01';
        return true;
    }

    // The new header pages in place of the old ones; the pages after them renumbered when their
    // number changed.
    bool Replace(const std::string& comment)
    {
        std::vector<const std::string*> headers {&comment};
        if (!opus)
            headers.push_back(&packets[1]);
        const Paginator paginator(std::move(headers), serial, 1);
        const int64_t end = headersStart + static_cast<int64_t>(paginator.Size());
        if (!file.MoveTail(headersEnd, end))
            return false;
        std::vector<uint8_t> page;
        for (int64_t offset = headersStart, number = 0; offset < end;
             offset += int64_t(page.size()), ++number) {
            paginator.Render(static_cast<size_t>(number), page);
            if (!file.WriteAt(offset, page.data(), page.size()))
                return false;
        }
        return paginator.Count() == oldPages || Renumber(end, paginator.Count() - oldPages);
    }

    const std::string& Failure() const { return file.Failure(); }
    const char* Container() const { return opus ? "Opus" : "Ogg Vorbis"; }

private:
    // The identification header's magic (0) or the comment header's (1).
    std::string Magic(int header) const
    {
        if (opus)
            return header == 0 ? "OpusHead" : "OpusTags";
        return std::string(1, header == 0 ? '\x01' : '\x03') + "vorbis";
    }

    static bool StartsWith(const uint8_t* bytes, size_t size, const std::string& magic)
    {
        return size >= magic.size() && std::memcmp(bytes, magic.data(), magic.size()) == 0;
    }

    static bool HoldsOnePacket(const Page& page)
    {
        const uint8_t* lacing = page.Lacing();
        return page.Segments() > 0
            && std::count_if(lacing, lacing + page.Segments(), [](uint8_t value) { return value < kSegment; })
            == 1
            && lacing[page.Segments() - 1] < kSegment;
    }

    // Adds the packets that end on `page` to `packets`, `packet` carrying one that goes on; the
    // last header packet must end the page.
    bool TakePackets(const Page& page, size_t wanted, std::string& packet)
    {
        const uint8_t* body = page.Body();
        for (size_t i = 0; i < page.Segments(); ++i) {
            const uint8_t size = page.Lacing()[i];
            packet.append(reinterpret_cast<const char*>(body), size);
            body += size;
            if (size == kSegment)
                continue;
            packets.push_back(std::move(packet));
            packet.clear();
            if (packets.size() == wanted)
                return i + 1 == page.Segments();
        }
        return true;
    }

    bool ReadVendor()
    {
        const std::string& comment = packets[0];
        const size_t at = Magic(1).size();
        const auto* bytes = reinterpret_cast<const uint8_t*>(comment.data());
        if (!StartsWith(bytes, comment.size(), Magic(1)) || comment.size() < at + 4)
            return false;
        const uint32_t length = Le32(bytes + at);
        if (length > comment.size() - at - 4)
            return false;
        vendor = comment.substr(at + 4, length);
        return true;
    }

    // Reads the whole page at `offset`; false at the end of the file or when no page is there.
    bool ReadPage(int64_t offset, Page& page)
    {
        page.bytes.resize(kPageHeader + kMaxSegments);
        const int64_t got = file.ReadAt(offset, page.bytes.data(), page.bytes.size());
        if (got < static_cast<int64_t>(kPageHeader) || std::memcmp(page.bytes.data(), "OggS", 4) != 0
            || page.bytes[4] != 0 || got < static_cast<int64_t>(kPageHeader + page.Segments()))
            return false;
        size_t size = kPageHeader + page.Segments();
        for (size_t i = 0; i < page.Segments(); ++i)
            size += page.Lacing()[i];
        const size_t have = static_cast<size_t>(got);
        page.bytes.resize(size);
        return size <= have
            || file.ReadAt(offset + int64_t(have), page.bytes.data() + have, size - have)
            == static_cast<int64_t>(size - have);
    }

    // Shifts the sequence numbers of the stream's pages from `offset` to the end by `shift`
    // (modulo 2^32, as the field counts).
    bool Renumber(int64_t offset, uint32_t shift)
    {
        const int64_t size = file.Size();
        for (Page page; offset < size; offset += static_cast<int64_t>(page.bytes.size())) {
            if (!ReadPage(offset, page))
                return false;
            if (page.Serial() != serial)
                continue;
            PutLe(&page.bytes[kSequenceAt], page.Sequence() + shift, 4);
            Seal(page.bytes.data(), page.bytes.size());
            if (!file.WriteAt(offset + int64_t(kSequenceAt), &page.bytes[kSequenceAt], 8))
                return false;
        }
        return size >= 0;
    }

    DescriptorFile file;
    bool opus;
    uint32_t serial = 0;
    int64_t headersStart = 0;
    int64_t headersEnd = 0;
    uint32_t oldPages = 0;
    std::vector<std::string> packets; // the header packets after the first
    std::string vendor;
};

} // namespace

bool OggCommentWriter::Write(int descriptor, Codec codec, const std::vector<std::string>& comments,
    const std::vector<PictureBlock>& pictures, std::string& reason)
{
    Rewrite rewrite(descriptor, codec);
    const std::string container = rewrite.Container();
    const auto withFailure = [&](std::string text) {
        return rewrite.Failure().empty() ? text : text + ": " + rewrite.Failure();
    };
    std::string packet;
    if (!rewrite.ReadHeaders()) {
        reason = withFailure("the new " + container + " file could not be read to write its tags");
    } else if (!rewrite.CommentPacket(comments, pictures, packet)) {
        reason = "the tags are too long for the comment header of an " + container + " file";
    } else if (!rewrite.Replace(packet)) {
        reason = withFailure("the tags could not be written into the " + container + " file");
    } else {
        reason.clear();
        return true;
    }
    return false;
}
