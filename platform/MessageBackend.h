// How messages reach a person. The engine never talks to a window or a terminal itself: it calls
// ShowMessage / AskYesNo (Message.h), which hand the text to the one process-wide backend. The
// window, the command-line tool and the tests each install the backend that suits them.
#pragma once

#include <string>

class MessageBackend {
public:
    virtual ~MessageBackend() = default;

    // A modal message with an OK button and an exclamation icon. Returns when it was seen.
    virtual void Show(const std::string& text, const std::string& caption) = 0;

    // A modal question with Yes and No buttons; true means Yes.
    virtual bool AskYesNo(const std::string& text, const std::string& caption) = 0;
};
