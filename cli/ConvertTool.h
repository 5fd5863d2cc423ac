// varkonel-convert as a whole: reads the options, takes the defaults from the window's settings
// file (read only), then lists (--probe, --list-tracks) or converts. Returns the exit status:
// 0 all done, 1 a source failed, was skipped for an error or was stopped, 2 usage error.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

class ConvertTool {
public:
    static constexpr int kUsageError = 2;

    // `out` takes the listings, `errors` every message and the progress display.
    static int Run(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* errors);
};
