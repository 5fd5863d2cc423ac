// Messages as Qt message boxes. On the interface thread a message is an ordinary modal box.
// From any other thread (a conversion worker asking before it overwrites a file, or saying its
// output could not be opened) the box is shown on the interface thread while the calling
// thread waits for the answer; the box is not modal there, so the dialog that runs the worker
// (its ABORT button) stays usable meanwhile.
#pragma once

#include "platform/MessageBackend.h"

#include <QObject>

class QtMessageBackend : public MessageBackend {
public:
    // The object whose thread shows the boxes: the application object.
    QtMessageBackend();

    void Show(const std::string& text, const std::string& caption) override;
    bool AskYesNo(const std::string& text, const std::string& caption) override;

private:
    enum class Kind { Message, Question };
    // Shows the box on the interface thread and returns true for OK or Yes.
    bool Ask(Kind kind, const std::string& text, const std::string& caption);
    bool AskHere(Kind kind, const QString& text, const QString& caption);
    bool AskFromWorker(Kind kind, const QString& text, const QString& caption);
};
