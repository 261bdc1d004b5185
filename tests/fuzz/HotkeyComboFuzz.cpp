// The stored shortcut is read from a file the user (or anything else) may have edited: decoding
// must never crash, and whatever it accepts must survive a write and a read unchanged.
#include "FuzzRequire.h"
#include "hotkey/HotkeyCombo.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const brindell::Blob blob(data, data + size);
    const auto combo = brindell::decodeHotkeyCombo(blob);
    if (combo) {
        require(brindell::decodeHotkeyCombo(brindell::encodeHotkeyCombo(*combo)) == combo,
                "a write and a read keep it");
        (void)combo->displayString();
        (void)brindell::passesLoadRules(*combo);
    }
    return 0;
}
