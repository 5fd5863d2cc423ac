#include "platform/loader/DynamicLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace {

std::mutex redirectLock;
std::map<std::string, std::string>& Redirects()
{
    static std::map<std::string, std::string> redirects;
    return redirects;
}

std::string Redirected(const std::string& name)
{
    std::lock_guard<std::mutex> hold(redirectLock);
    auto found = Redirects().find(name);
    return found == Redirects().end() ? name : found->second;
}

// The places a library is looked for, in order: beside the executable, then the private folder
// of an installed copy (bin/../lib/varkonel). An absolute path is the only place.
std::vector<std::string> Candidates(const std::string& file)
{
    if (!file.empty() && file.front() == '/')
        return {file};
    const std::string folder = ExecutableDirectory();
    return {folder + "/" + file, folder + "/../" + kPrivateLibraryFolder + "/" + file};
}

} // namespace

std::string ExecutableDirectory()
{
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            return ".";
        if (static_cast<size_t>(length) < buffer.size()) {
            std::string path(buffer.data(), static_cast<size_t>(length));
            const size_t slash = path.find_last_of('/');
            if (slash == std::string::npos)
                return ".";
            return slash == 0 ? "/" : path.substr(0, slash);
        }
        buffer.resize(buffer.size() * 2); // the path filled the buffer: it may be cut short
    }
}

void RedirectLibrary(const std::string& name, const std::string& replacement)
{
    std::lock_guard<std::mutex> hold(redirectLock);
    Redirects()[name] = replacement;
}

void ClearLibraryRedirects()
{
    std::lock_guard<std::mutex> hold(redirectLock);
    Redirects().clear();
}

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle(std::exchange(other.handle, nullptr))
    , path(std::move(other.path))
{
    other.path.clear();
}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept
{
    if (this != &other) {
        Release();
        handle = std::exchange(other.handle, nullptr);
        path = std::move(other.path);
        other.path.clear();
    }
    return *this;
}

DynamicLibrary::~DynamicLibrary()
{
    Release();
}

DynamicLibrary DynamicLibrary::Load(const std::string& name)
{
    DynamicLibrary library;
    if (name.empty())
        return library;
    for (const std::string& file : Candidates(Redirected(name))) {
        // A place without the file is passed over; a file that is there but does not load
        // ends the search, so a broken copy beside the program is never silently replaced.
        if (access(file.c_str(), F_OK) != 0)
            continue;
        // Every symbol is resolved now, so a library with unresolved references fails here
        // rather than in the middle of a job.
        library.handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library.handle != nullptr)
            library.path = file;
        break;
    }
    return library;
}

void* DynamicLibrary::Symbol(const char* name) const
{
    if (handle == nullptr || name == nullptr)
        return nullptr;
    return dlsym(handle, name);
}

void DynamicLibrary::Release()
{
    if (handle != nullptr)
        dlclose(handle);
    handle = nullptr;
    path.clear();
}
