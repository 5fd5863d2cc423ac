// Positions in buffered file streams as 64-bit values, so that files of 2 GiB and more can be
// measured and positioned on every platform.
#pragma once

#include <cstdint>
#include <cstdio>

// The stream's position, or -1 when it cannot tell.
int64_t FileTell(FILE* stream);

// Moves the stream to `offset` from `origin` (SEEK_SET, SEEK_CUR or SEEK_END); true on success.
bool FileSeek(FILE* stream, int64_t offset, int origin);
