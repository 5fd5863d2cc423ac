// What a folder given as a source stands for: its convertible files at any depth, in natural
// order, hidden ones and other types left out, links followed without loops.
#include "engine/SourcePaths.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

TEST(SourcePaths, AFolderGivesItsConvertibleFilesInNaturalOrder)
{
    TempDir dir;
    const fs::path music = dir.Path() / "music";
    for (const char* file : {"Artist B/Album 2/01 - Intro.flac", "Artist A/Album 10/02.MP3",
             "Artist A/Album 2/10.wav", "Artist A/Album 2/2.wav", "artist c/x.ogg", ".hidden/y.flac",
             "Artist A/.z.flac", "notes.txt", "cover.jpg", "image.cue", "Track-01"}) {
        fs::create_directories((music / file).parent_path());
        WriteBytes(music / file, {1});
    }
    fs::create_directory_symlink(music, music / "Artist A" / "loop");
    fs::create_directory_symlink(music / "artist c", music / "Zed");
    const std::string base = music.string();
    std::vector<std::string> problems;
    const std::vector<SourcePaths::Source> sources
        = SourcePaths::Expand({dir.File("alone.mp3"), base, dir.File("missing")}, problems);
    std::vector<std::string> found;
    for (const SourcePaths::Source& source : sources)
        found.push_back(source.base.empty() ? source.path
                                            : "[" + source.base.substr(dir.Path().string().size()) + "] "
                    + source.path.substr(base.size() + 1));
    EXPECT_EQ(found,
        (std::vector<std::string> {dir.File("alone.mp3"), "[/music] Artist A/Album 2/2.wav",
            "[/music] Artist A/Album 2/10.wav", "[/music] Artist A/Album 10/02.MP3",
            "[/music] Artist B/Album 2/01 - Intro.flac", "[/music] artist c/x.ogg", dir.File("missing")}));
    EXPECT_TRUE(problems.empty());

    // A folder that cannot be read is named, and the rest goes on (root reads every folder).
    if (geteuid() != 0) {
        fs::permissions(music / "Artist B", fs::perms::none);
        problems.clear();
        EXPECT_EQ(SourcePaths::Expand({base}, problems).size(), 4u);
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_EQ(problems[0], (music / "Artist B").string() + ": Permission denied");
        fs::permissions(music / "Artist B", fs::perms::owner_all);
    }
}

TEST(SourcePaths, NaturalOrder)
{
    const char* const ordered[]
        = {"1", "01 b", "2", "9.flac", "10", "A", "a2", "a10", "b", "B c", "x02", "x2"};
    for (size_t i = 0; i < std::size(ordered); ++i) {
        for (size_t j = 0; j < std::size(ordered); ++j)
            EXPECT_EQ(SourcePaths::NaturalLess(ordered[i], ordered[j]), i < j)
                << ordered[i] << " / " << ordered[j];
    }
}

} // namespace
