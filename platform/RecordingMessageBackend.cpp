#include "platform/RecordingMessageBackend.h"

RecordingMessageBackend::RecordingMessageBackend(bool defaultAnswer) : defaultAnswer(defaultAnswer) {}

void RecordingMessageBackend::Show(const std::string& text, const std::string& caption)
{
    std::lock_guard<std::mutex> hold(lock);
    entries.push_back({false, text, caption});
}

bool RecordingMessageBackend::AskYesNo(const std::string& text, const std::string& caption)
{
    std::lock_guard<std::mutex> hold(lock);
    entries.push_back({true, text, caption});
    if (answers.empty())
        return defaultAnswer;
    bool answer = answers.front();
    answers.pop_front();
    return answer;
}

void RecordingMessageBackend::ScriptAnswers(std::vector<bool> script)
{
    std::lock_guard<std::mutex> hold(lock);
    answers.insert(answers.end(), script.begin(), script.end());
}

std::vector<RecordingMessageBackend::Entry> RecordingMessageBackend::Entries() const
{
    std::lock_guard<std::mutex> hold(lock);
    return entries;
}

std::vector<std::string> RecordingMessageBackend::Texts() const
{
    std::lock_guard<std::mutex> hold(lock);
    std::vector<std::string> texts;
    for (const Entry& entry : entries)
        texts.push_back(entry.text);
    return texts;
}

void RecordingMessageBackend::Clear()
{
    std::lock_guard<std::mutex> hold(lock);
    entries.clear();
    answers.clear();
}
