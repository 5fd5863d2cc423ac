// Messages as Qt message boxes. On the interface thread a message is an ordinary modal box.
// From any other thread (a conversion worker asking before it overwrites a file, or saying its
// output could not be opened) the box is shown on the interface thread while the calling
// thread waits for the answer; the box is not modal there, so the dialog that runs the worker
// (its ABORT button) stays usable meanwhile.
//
// A thread may route its messages elsewhere instead (RouteThisThread): the threads of a batch
// hand each message to the row they convert, so that one broken file does not halt the batch
// with a box, and give their questions the answer the batch settled before.
#pragma once

#include "platform/MessageBackend.h"

#include <QObject>

#include <functional>
#include <optional>
#include <string>

class QtMessageBackend : public MessageBackend {
public:
    // The object whose thread shows the boxes: the application object.
    QtMessageBackend();

    void Show(const std::string& text, const std::string& caption) override;
    bool AskYesNo(const std::string& text, const std::string& caption) override;

    using Sink = std::function<void(const std::string& text)>;
    // From now on the calling thread's messages go to `sink` instead of a box, and its questions
    // are answered `answer` without asking (No when there is none). An empty sink ends the route.
    static void RouteThisThread(Sink sink, std::optional<bool> answer = std::nullopt);
    // The calling thread's questions are answered `answer` without asking, while its messages
    // stay boxes; none: its questions are asked again.
    static void AnswerThisThread(std::optional<bool> answer);

private:
    enum class Kind { Message, Question };
    // Shows the box on the interface thread and returns true for OK or Yes.
    bool Ask(Kind kind, const std::string& text, const std::string& caption);
    bool AskHere(Kind kind, const QString& text, const QString& caption);
    bool AskFromWorker(Kind kind, const QString& text, const QString& caption);
};
