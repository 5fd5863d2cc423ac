// Where the running program lives, and the system's folder for temporary files.
#pragma once

#include <string>

// The full path of the running executable, as the system reports it; empty when it cannot.
std::string ExecutablePath();

// The system's folder for temporary files, without a trailing separator ("/tmp").
std::string TempDirectory();
