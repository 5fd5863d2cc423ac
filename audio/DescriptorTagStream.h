// TagLib's byte stream (IOStream) over a file open by descriptor: tags are read from a source
// opened once, and written into a new output file that has no name yet. Positions count from the
// file's first byte; the descriptor is neither moved nor closed. A read-only stream writes
// nothing. The name, when given, lets TagLib tell the container by its extension.
//
// TagLib's stream calls return nothing on failure, so the first failure is kept (Failure) and
// every write after it is skipped: a writer checks Failure after saving and discards the file.
// One object is used by one thread at a time.
#pragma once

#include "platform/DescriptorFile.h"

#include <string>
#include <taglib/tiostream.h>
#include <utility>

class DescriptorTagStream : public TagLib::IOStream {
public:
    enum class Access { ReadWrite, ReadOnly };

    explicit DescriptorTagStream(int descriptor, std::string fileName = {}, Access access = Access::ReadWrite)
        : file(descriptor)
        , fileName(std::move(fileName))
        , access(access)
    { }

    TagLib::FileName name() const override { return fileName.c_str(); }
    TagLib::ByteVector readBlock(unsigned long length) override;
    void writeBlock(const TagLib::ByteVector& data) override;
    // Puts `data` in place of the `replace` bytes at `start`, moving what follows them.
    void insert(const TagLib::ByteVector& data, unsigned long start = 0, unsigned long replace = 0) override;
    void removeBlock(unsigned long start = 0, unsigned long length = 0) override;
    bool readOnly() const override { return access == Access::ReadOnly; }
    bool isOpen() const override { return true; }
    void seek(long offset, Position from = Beginning) override;
    long tell() const override { return position; }
    long length() override;
    void truncate(long length) override;

    // Why a read or write failed; empty when none did.
    const std::string& Failure() const { return file.Failure(); }

private:
    // Writing stops at the first failure, and never starts on a read-only stream.
    bool Failed() const { return access == Access::ReadOnly || !file.Failure().empty(); }

    DescriptorFile file;
    std::string fileName;
    Access access;
    long position = 0;
    int64_t readLength = -1; // a read-only stream's length, once known
};
