// TagLib's byte stream (IOStream) over a file open by descriptor, so that tags are written into
// a new output file that has no name yet. Positions count from the file's first byte; the
// descriptor is neither moved nor closed.
//
// TagLib's stream calls return nothing on failure, so the first failure is kept (Failure) and
// every write after it is skipped: a writer checks Failure after saving and discards the file.
// One object is used by one thread at a time.
#pragma once

#include "platform/DescriptorFile.h"

#include <string>
#include <taglib/tiostream.h>

class DescriptorTagStream : public TagLib::IOStream {
public:
    explicit DescriptorTagStream(int descriptor)
        : file(descriptor)
    { }

    TagLib::FileName name() const override { return ""; }
    TagLib::ByteVector readBlock(unsigned long length) override;
    void writeBlock(const TagLib::ByteVector& data) override;
    // Puts `data` in place of the `replace` bytes at `start`, moving what follows them.
    void insert(const TagLib::ByteVector& data, unsigned long start = 0, unsigned long replace = 0) override;
    void removeBlock(unsigned long start = 0, unsigned long length = 0) override;
    bool readOnly() const override { return false; }
    bool isOpen() const override { return true; }
    void seek(long offset, Position from = Beginning) override;
    long tell() const override { return position; }
    long length() override;
    void truncate(long length) override;

    // Why a read or write failed; empty when none did.
    const std::string& Failure() const { return file.Failure(); }

private:
    bool Failed() const { return !file.Failure().empty(); }

    DescriptorFile file;
    long position = 0;
};
