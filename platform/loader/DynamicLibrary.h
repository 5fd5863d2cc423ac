// A shared library loaded at run time, released with its owner.
//
// Libraries are looked for in the folder of the running executable, then in the private
// folder of an installed copy, ../lib/x86_64-linux-gnu/varkonel relative to that folder (both
// found through the executable's own path, never through environment variables or the system
// search path), so the program always gets the copy installed with it, wherever the package was
// unpacked. Tests can point a library name at another file to exercise the paths where a
// library is missing or is not the one expected.
#pragma once

#include <string>

class DynamicLibrary {
public:
    DynamicLibrary() = default;
    DynamicLibrary(DynamicLibrary&& other) noexcept;
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;
    ~DynamicLibrary();

    // How long a loaded library stays in memory: until its last handle is released, or until
    // the process ends (for a library whose objects and functions the program keeps using after
    // the handle is gone, as in destructors of static objects at exit).
    enum class Lifetime { UntilReleased, UntilExit };

    // Loads `name` from the executable's folder, else from the private folder (or from
    // where a redirect points it). The result is not loaded when the file is missing from both
    // or the first one found cannot be loaded; Problem() then says why.
    static DynamicLibrary Load(const std::string& name, Lifetime lifetime = Lifetime::UntilReleased);

    bool IsLoaded() const { return handle != nullptr; }
    explicit operator bool() const { return IsLoaded(); }

    // The address of an exported symbol, or null when the library has none of that name.
    void* Symbol(const char* name) const;

    // The full path the library was loaded from; empty when not loaded.
    const std::string& Path() const { return path; }

    // Why the last Load gave no library, in plain words naming the file: where it was looked
    // for, or the system's reason it could not be loaded ("/usr/lib/x86_64-linux-gnu/varkonel/
    // libx.so: invalid ELF header", "libavcodec.so.59: cannot open shared object file: ...").
    // Empty when loaded.
    const std::string& Problem() const { return problem; }

    // Unloads the library (the system keeps it while other handles of it remain).
    void Release();

private:
    void* handle = nullptr;
    std::string path;
    std::string problem;
};

// The folder of the running executable, without a trailing separator.
std::string ExecutableDirectory();

// Test control: from now on, loading `name` loads `replacement` instead. A relative
// replacement is looked for in the executable's folder, an absolute one is taken as it is.
void RedirectLibrary(const std::string& name, const std::string& replacement);
// Removes every redirect.
void ClearLibraryRedirects();
