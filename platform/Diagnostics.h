// Diagnostics: lines for whoever investigates a failure (a media layer's result codes, say),
// beside the message the user is shown. They go to standard output as they happen, as the
// window has always had them; a face that has its own way of telling the user what went wrong
// (the command-line tool) turns them off and back on for a verbose run.
//
// Threads: any; a line is written whole, and switching takes effect for the next line.
#pragma once

class Diagnostics {
public:
    // Writes `text` as it stands (no newline is added) and flushes, when diagnostics are on.
    static void Write(const char* text);
    // On by default.
    static void SetShown(bool shown);
    static bool Shown();
};
