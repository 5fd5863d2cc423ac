// Every test program runs with a home folder of its own: before main, HOME and the XDG base
// folders point into a fresh folder under the build folder, removed when the program ends. So
// neither a settings file in the developer's real configuration folder nor another test program
// running at the same time changes what a test sees, and programs a test starts inherit the same
// folders. Linked into every test program as an object file, so that it always runs.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

namespace {

class ScratchHome {
public:
    ScratchHome()
    {
        std::error_code ignored;
        const std::filesystem::path root(VARKONEL_TEST_SCRATCH_ROOT);
        std::filesystem::create_directories(root, ignored);
        std::string pattern = (root / "home-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            std::abort(); // a test run that cannot be isolated must not run against the real home
        folder = pattern;
        Point("HOME", "");
        Point("XDG_CONFIG_HOME", ".config");
        Point("XDG_DATA_HOME", ".local/share");
        Point("XDG_CACHE_HOME", ".cache");
        Point("XDG_STATE_HOME", ".local/state");
        unsetenv("XDG_CONFIG_DIRS");
        unsetenv("XDG_DATA_DIRS");
    }
    ~ScratchHome()
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

private:
    void Point(const char* variable, const char* below)
    {
        const std::filesystem::path path = folder / below;
        std::error_code ignored;
        std::filesystem::create_directories(path, ignored);
        setenv(variable, path.lexically_normal().c_str(), 1);
    }

    std::filesystem::path folder;
};

const ScratchHome scratchHome;

} // namespace
