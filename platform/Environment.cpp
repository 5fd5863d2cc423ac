#include "platform/Environment.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

std::string EnvironmentValue(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

bool IsWritableFolder(const std::string& folder)
{
    struct stat status { };
    return ::stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode)
        && ::access(folder.c_str(), W_OK | X_OK) == 0;
}
