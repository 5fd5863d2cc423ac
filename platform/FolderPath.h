// Folder paths as the programs keep them: an output folder ends with a separator, so that an
// output's path is the folder followed by the file name; a folder asked of the system (the
// temporary folder) has its trailing separators dropped, the root excepted.
//
// Threads: any; the functions keep no state.
#pragma once

#include <string>

// `folder` with a '/' appended unless it already ends with one; an empty text gives "/".
std::string WithTrailingSeparator(std::string folder);

// `folder` without its trailing '/'s; a folder made only of separators keeps one ("/").
std::string WithoutTrailingSeparators(std::string folder);
