// Desktop entries and .flatpak-info files come from any installed package or sandbox: the key
// file reader, the Exec splitter and the id rules must take any bytes.
#include "sources/ApplicationIds.h"
#include "sources/DesktopEntry.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto entry = brindell::DesktopEntry::parse(text, brindell::Locale::parse("de_DE@euro"));
    if (entry) {
        (void)brindell::execProgram(entry->exec);
    }
    if (const auto arguments = brindell::splitExec(text)) {
        (void)brindell::execProgram(*arguments);
    }
    (void)brindell::flatpakApplicationID(text);
    (void)brindell::unescapeValue(text);
    (void)brindell::Locale::parse(text).candidates();
    return 0;
}
