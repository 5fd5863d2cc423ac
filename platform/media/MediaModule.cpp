#include "platform/media/MediaModule.h"

#include <utility>

MediaModule::MediaModule(std::string name)
    : name(std::move(name))
{ }

const MediaModuleTable* MediaModule::Table()
{
    // What Load wrote is seen by every caller that returns from call_once.
    std::call_once(loaded, [this] { Load(); });
    return table;
}

const std::string& MediaModule::Problem()
{
    Table();
    return problem;
}

MediaModule& MediaModule::Process()
{
    static MediaModule module(kMediaModuleName);
    return module;
}

void MediaModule::Load()
{
    const std::string lead
        = "the media module could not be loaded, so compressed audio cannot be read or written (";
    library = DynamicLibrary::Load(name, DynamicLibrary::Lifetime::UntilExit);
    if (!library) {
        problem = lead + library.Problem() + ")";
        return;
    }
    const auto entry = reinterpret_cast<MediaModuleEntryPoint>(library.Symbol(kMediaModuleEntry));
    const MediaModuleTable* offered = entry != nullptr ? entry() : nullptr;
    if (offered == nullptr) {
        problem = lead + library.Path() + " is not the media module: it has no " + kMediaModuleEntry + ")";
    } else if (offered->version != kMediaModuleVersion || offered->size < sizeof(MediaModuleTable)) {
        problem = lead + library.Path() + " belongs to another build of the program: its table is version "
            + std::to_string(offered->version) + ", this program needs version "
            + std::to_string(kMediaModuleVersion) + ")";
    } else {
        table = offered;
        return;
    }
    library.Release();
}
