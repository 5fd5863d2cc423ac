#include "platform/Message.h"

#include "platform/ConsoleMessageBackend.h"

#include <filesystem>
#include <mutex>
#include <system_error>

namespace {

std::mutex backendLock;

std::shared_ptr<MessageBackend>& Installed()
{
    static std::shared_ptr<MessageBackend> backend = std::make_shared<ConsoleMessageBackend>();
    return backend;
}

std::shared_ptr<MessageBackend> Current()
{
    std::lock_guard<std::mutex> hold(backendLock);
    return Installed();
}

} // namespace

std::string ApplicationTitle()
{
    static const std::string title = [] {
        std::error_code error;
        std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
        return error ? std::string("varkonel") : exe.stem().string();
    }();
    return title;
}

void ShowMessage(const std::string& text)
{
    ShowMessage(text, ApplicationTitle());
}

void ShowMessage(const std::string& text, const std::string& caption)
{
    Current()->Show(text, caption);
}

bool AskYesNo(const std::string& text, const std::string& caption)
{
    return Current()->AskYesNo(text, caption);
}

std::shared_ptr<MessageBackend> SetMessageBackend(std::shared_ptr<MessageBackend> backend)
{
    if (!backend)
        backend = std::make_shared<ConsoleMessageBackend>();
    std::lock_guard<std::mutex> hold(backendLock);
    std::swap(Installed(), backend);
    return backend;
}
