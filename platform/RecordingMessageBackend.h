// A message backend for tests: records every message and question, and answers questions from
// a script (then with a default answer once the script is used up). Thread-safe, since engine
// messages may come from a worker thread.
#pragma once

#include "platform/MessageBackend.h"

#include <deque>
#include <mutex>
#include <string>
#include <vector>

class RecordingMessageBackend : public MessageBackend {
public:
    struct Entry {
        bool question;
        std::string text;
        std::string caption;
    };

    explicit RecordingMessageBackend(bool defaultAnswer = false);

    void Show(const std::string& text, const std::string& caption) override;
    bool AskYesNo(const std::string& text, const std::string& caption) override;

    // Queues the answers of the next questions, in order.
    void ScriptAnswers(std::vector<bool> answers);

    std::vector<Entry> Entries() const;
    std::vector<std::string> Texts() const; // the texts of every entry, in order
    void Clear();

private:
    mutable std::mutex lock;
    std::vector<Entry> entries;
    std::deque<bool> answers;
    bool defaultAnswer;
};
