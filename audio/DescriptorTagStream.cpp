#include "audio/DescriptorTagStream.h"

#include <algorithm>

TagLib::ByteVector DescriptorTagStream::readBlock(unsigned long length)
{
    // A length read from a damaged header can be far beyond the file: allocate what is there.
    const long size = this->length();
    const long available = std::max(0L, size - position);
    TagLib::ByteVector block(static_cast<unsigned int>(std::min<unsigned long>(length, available)), '\0');
    const int64_t got = file.ReadAt(position, block.data(), block.size());
    block.resize(static_cast<unsigned int>(std::max<int64_t>(got, 0)));
    position += static_cast<long>(block.size());
    return block;
}

void DescriptorTagStream::writeBlock(const TagLib::ByteVector& data)
{
    if (!Failed() && file.WriteAt(position, data.data(), data.size()))
        position += static_cast<long>(data.size());
}

void DescriptorTagStream::insert(const TagLib::ByteVector& data, unsigned long start, unsigned long replace)
{
    const auto at = static_cast<int64_t>(start);
    if (!Failed() && file.MoveTail(at + int64_t(replace), at + int64_t(data.size())))
        file.WriteAt(at, data.data(), data.size());
    position = static_cast<long>(start + data.size());
}

void DescriptorTagStream::removeBlock(unsigned long start, unsigned long length)
{
    if (!Failed())
        file.MoveTail(static_cast<int64_t>(start + length), static_cast<int64_t>(start));
}

void DescriptorTagStream::seek(long offset, Position from)
{
    switch (from) {
    case Beginning:
        position = offset;
        break;
    case Current:
        position += offset;
        break;
    case End:
        position = length() + offset;
        break;
    }
    position = std::max(position, 0L);
}

long DescriptorTagStream::length()
{
    // A source read for its tags keeps its length while it is read; TagLib asks for it at every
    // read.
    if (access == Access::ReadOnly && readLength >= 0)
        return static_cast<long>(readLength);
    const int64_t size = std::max<int64_t>(file.Size(), 0);
    if (access == Access::ReadOnly)
        readLength = size;
    return static_cast<long>(size);
}

void DescriptorTagStream::truncate(long length)
{
    if (!Failed())
        file.Truncate(length);
}
