// What the engine asks of the user's environment: variables and whether a folder takes new
// files. Any thread may call these; they never fail, an unknown answer is "empty" or "no".
#pragma once

#include <string>

// The value of an environment variable; empty when it is not set.
std::string EnvironmentValue(const char* name);

// True when this process may create files in `folder` (an existing directory).
bool IsWritableFolder(const std::string& folder);
