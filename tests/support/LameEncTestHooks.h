// Test controls of the encoder library: make its beEncodeChunk fail on purpose, and see the
// chunk sizes it was given. They act on the test variant of the library (liblame_enc_test.so,
// built beside the programs and installed nowhere). The first control loads it, keeps it loaded
// while controls are in force (so that a job which loads and releases the library in between
// still sees them) and points loads of the encoder library at it, so that the jobs of this
// process encode with it; LameEncResetControls undoes both.
//
// A program a test starts gets a failing encoder from the environment instead: copied beside
// the test variant under the encoder library's name, with LAME_ENC_TEST_FAIL_CHUNKS_AFTER set
// to the number of chunks that succeed (see kLameEncTestFailureVariable).
#pragma once

#include <cstdint>
#include <vector>

namespace testing_support {

// The file name of the test variant, in the folder of the test programs.
inline constexpr const char* kLameEncTestLibraryName = "liblame_enc_test.so";
// The environment variable the test variant takes its failure count from when it is loaded.
inline constexpr const char* kLameEncTestFailureVariable = "LAME_ENC_TEST_FAIL_CHUNKS_AFTER";

} // namespace testing_support

// After `successes` more successful beEncodeChunk calls every call fails, until
// LameEncFailNever(). False when the test variant cannot be loaded.
bool LameEncFailChunksAfter(long successes);
void LameEncFailNever();

// Starts recording the value count of every beEncodeChunk call (discarding any earlier log).
bool LameEncStartChunkLog();
// The counts recorded since LameEncStartChunkLog, oldest first; the log is emptied.
std::vector<uint32_t> LameEncTakeChunkLog();

// Ends every control: no more failures, an empty log, the library no longer held and the
// encoder library's own file loaded again.
void LameEncResetControls();
