// varkonel-convert: converts audio files and CD tracks from the command line with the engine of
// the Varkonel window.
#include "cli/ConvertTool.h"

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    // Standard output carries the listings only: whatever a library writes there goes to
    // standard error instead, and the listings take a copy of the original.
    std::fflush(stdout);
    std::FILE* out = stdout;
    const int listings = dup(STDOUT_FILENO);
    if (listings >= 0) {
        std::FILE* copy = fdopen(listings, "w");
        if (copy != nullptr && dup2(STDERR_FILENO, STDOUT_FILENO) >= 0)
            out = copy;
    }
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const int status = ConvertTool::Run(arguments, out, stderr);
    std::fflush(out);
    std::fflush(stdout);
    return status;
}
