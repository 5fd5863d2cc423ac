// The FFmpeg functions are reached through stand-ins that bind them on the first call
// (platform/ffmpeg). That first call goes through the resolver, which must hand FFmpeg every
// argument as the caller gave it. Each test runs in a process of its own, so the call below is
// the process's first call into FFmpeg: five arguments in registers, each of which shows.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avio.h>
}

#include <filesystem>

using namespace testing_support;

namespace {

TEST(LazyFfmpeg, TheFirstCallReachesFfmpegWithEveryArgument)
{
    TempDir dir;
    const std::string path = (dir.Path() / "made-by-ffmpeg").string();
    AVIOContext* io = nullptr;
    AVDictionary* options = nullptr;
    // Writing creates the file at that path only if the path, the flags and the place for the
    // context all arrived; a callback or option record that did not would not be null.
    ASSERT_EQ(avio_open2(&io, path.c_str(), AVIO_FLAG_WRITE, nullptr, &options), 0);
    ASSERT_NE(io, nullptr);
    EXPECT_EQ(options, nullptr);
    avio_closep(&io);
    EXPECT_EQ(io, nullptr);
    EXPECT_TRUE(std::filesystem::is_regular_file(path));
}

} // namespace
