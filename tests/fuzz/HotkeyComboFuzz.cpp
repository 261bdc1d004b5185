// The stored shortcut is read from a file the user (or anything else) may have edited: decoding
// must never crash, and whatever it accepts must survive a write and a read unchanged.
#include "hotkey/HotkeyCombo.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const brindell::Blob blob(data, data + size);
    const auto combo = brindell::decodeHotkeyCombo(blob);
    if (combo) {
        if (brindell::decodeHotkeyCombo(brindell::encodeHotkeyCombo(*combo)) != combo) {
            std::abort();
        }
        (void)combo->displayString();
        (void)brindell::passesLoadRules(*combo);
    }
    return 0;
}
