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

// The private library folder of an installed copy, relative to the installation prefix (the
// build gives it: lib/x86_64-linux-gnu/varkonel on Debian).
constexpr const char* kPrivateLibraryFolder = VARKONEL_PRIVATE_LIBDIR;

// The places a library is looked for, in order: beside the executable, then the private folder
// of an installed copy (bin/../lib/x86_64-linux-gnu/varkonel). An absolute path is the only place.
std::vector<std::string> Candidates(const std::string& file)
{
    if (!file.empty() && file.front() == '/')
        return {file};
    const std::string folder = ExecutableDirectory();
    return {folder + "/" + file, folder + "/../" + kPrivateLibraryFolder + "/" + file};
}

// The system's reason `file` did not load, naming the file: the reason names it already when the
// file itself is at fault, but only the missing one when a library it needs is not there.
std::string LoadProblem(const std::string& file)
{
    const char* error = dlerror();
    const std::string reason = error != nullptr ? error : "it could not be loaded";
    return reason.compare(0, file.size(), file) == 0 ? reason : file + ": " + reason;
}

// Where a library that was not found was looked for (one place, or the two Candidates gives).
std::string NotFoundProblem(const std::vector<std::string>& candidates)
{
    if (candidates.size() == 1)
        return candidates.front() + " does not exist";
    return "neither " + candidates.front() + " nor " + candidates.back() + " exists";
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
    , problem(std::move(other.problem))
{
    other.path.clear();
    other.problem.clear();
}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept
{
    if (this != &other) {
        Release();
        handle = std::exchange(other.handle, nullptr);
        path = std::move(other.path);
        problem = std::move(other.problem);
        other.path.clear();
        other.problem.clear();
    }
    return *this;
}

DynamicLibrary::~DynamicLibrary()
{
    Release();
}

DynamicLibrary DynamicLibrary::Load(const std::string& name, Lifetime lifetime)
{
    DynamicLibrary library;
    if (name.empty()) {
        library.problem = "no library named";
        return library;
    }
    const std::vector<std::string> candidates = Candidates(Redirected(name));
    for (const std::string& file : candidates) {
        // A place without the file is passed over; a file that is there but does not load
        // ends the search, so a broken copy beside the program is never silently replaced.
        if (access(file.c_str(), F_OK) != 0)
            continue;
        // Every symbol is resolved now, so a library with unresolved references fails here
        // rather than in the middle of a job.
        const int mode = RTLD_NOW | RTLD_LOCAL | (lifetime == Lifetime::UntilExit ? RTLD_NODELETE : 0);
        library.handle = dlopen(file.c_str(), mode);
        if (library.handle != nullptr)
            library.path = file;
        else
            library.problem = LoadProblem(file);
        return library;
    }
    library.problem = NotFoundProblem(candidates);
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
    problem.clear();
}
