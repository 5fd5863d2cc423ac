#include "platform/LargeFile.h"

#include <sys/types.h>

static_assert(sizeof(off_t) == 8, "file offsets must be 64-bit");

int64_t FileTell(FILE* stream)
{
    return stream ? static_cast<int64_t>(ftello(stream)) : -1;
}

bool FileSeek(FILE* stream, int64_t offset, int origin)
{
    return stream && fseeko(stream, static_cast<off_t>(offset), origin) == 0;
}
