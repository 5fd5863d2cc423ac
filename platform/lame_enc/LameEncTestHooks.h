// Test controls of the encoder library: make its beEncodeChunk fail on purpose, and see the
// chunk sizes it was given. They act on the copy of the library installed beside the
// executable, which these functions keep loaded while a control is in force, so a job that
// loads and releases the library in between still sees it.
#pragma once

#include <cstdint>
#include <vector>

// After `successes` more successful beEncodeChunk calls every call fails, until
// LameEncFailNever(). False when the library cannot be loaded.
bool LameEncFailChunksAfter(long successes);
void LameEncFailNever();

// Starts recording the value count of every beEncodeChunk call (discarding any earlier log).
bool LameEncStartChunkLog();
// The counts recorded since LameEncStartChunkLog, oldest first; the log is emptied.
std::vector<uint32_t> LameEncTakeChunkLog();

// Ends every control: no more failures, an empty log, and the library no longer held.
void LameEncResetControls();
