// Message boxes for engine code. Texts go out exactly as given ("\n" is a line break).
#pragma once

#include <memory>
#include <string>

class MessageBackend;

// Caption of the program's own messages: the executable's file name without its extension.
std::string ApplicationTitle();

// A message with an OK button and the application title as its caption.
void ShowMessage(const std::string& text);

// A message with an OK button and the given caption.
void ShowMessage(const std::string& text, const std::string& caption);

// A Yes/No question; true means Yes.
bool AskYesNo(const std::string& text, const std::string& caption);

// Installs the process-wide backend and returns the one it replaces. Passing null restores the
// console backend, which is also what a process starts with. Safe to call from any thread.
std::shared_ptr<MessageBackend> SetMessageBackend(std::shared_ptr<MessageBackend> backend);
