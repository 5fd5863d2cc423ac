// One CD drive as the CD library lists it: its identification text, the request that opens
// it, and the table of contents last read from it.
#pragma once

#include "platform/cdrom/CdRom.h"

#include <string>

struct CdDrive {
    std::string id;
    CDHANDLEREQUEST request {};
    CDTOC toc {}; // zero until ReadToc
};
