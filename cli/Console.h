// Standard error of varkonel-convert, shared by the progress display, the messages of the
// jobs and the overwrite question. On a terminal the progress lines are redrawn in place; any
// other output first clears them, and the next tick draws them again below it.
#pragma once

#include "engine/BatchFace.h"

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

class Console {
public:
    // `progress`: whether progress lines, notes and the summary are shown (standard error is a
    // terminal and -q was not given). Errors are always shown.
    Console(std::FILE* errors, bool progress, bool inputIsTerminal);

    bool ShowsProgress() const { return progress; }
    bool InputIsTerminal() const { return inputIsTerminal; }

    // A message that is always shown; a line break is added when the text has none at its end.
    void Error(const std::string& text);
    // A message shown only with the progress display.
    void Note(const std::string& text);
    // Replaces the progress lines drawn last.
    void DrawProgress(const std::vector<std::string>& lines);
    void ClearProgress();

    // Asks a question on the terminal; true for yes. No answer (end of input) is No.
    bool Ask(const std::string& question);
    // The same question where an answer may settle the rest of the run: "a" (or "all") is Yes
    // to all, "N" (or "none") No to all; end of input is No.
    BatchFace::Answer AskForAll(const std::string& question);

private:
    // Asks until one of `answers` comes; end of input is No.
    struct Reply {
        const char* text;
        BatchFace::Answer answer;
    };
    BatchFace::Answer AskUntil(const std::string& question, const std::vector<Reply>& answers);
    void ClearLocked();
    void WriteLocked(const std::string& text);

    std::mutex lock;
    std::FILE* errors;
    bool progress;
    bool inputIsTerminal;
    int drawnLines = 0;
};
