#pragma once

#include "settings/SettingsStorage.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace brindell {

// The modifier set of a shortcut, one byte. Command is Super, Option is Alt on this desktop.
struct HotkeyModifiers {
    static constexpr std::uint8_t command = 1;
    static constexpr std::uint8_t option = 2;
    static constexpr std::uint8_t control = 4;
    static constexpr std::uint8_t shift = 8;

    // Modifier flags of a captured key-down event (KeyDownEvent::modifierFlags).
    static constexpr std::uint64_t commandFlag = 0x100000;
    static constexpr std::uint64_t optionFlag = 0x080000;
    static constexpr std::uint64_t controlFlag = 0x040000;
    static constexpr std::uint64_t shiftFlag = 0x020000;

    std::uint8_t bits = 0;

    bool has(std::uint8_t modifier) const { return (bits & modifier) != 0; }
    // Command, Option or Control: what a valid shortcut needs at least one of.
    bool hasPrimary() const { return (bits & (command | option | control)) != 0; }
    static HotkeyModifiers fromEventFlags(std::uint64_t flags);

    friend bool operator==(HotkeyModifiers, HotkeyModifiers) = default;
};

// A global shortcut: a layout-independent key code (Brindell's own key identities, mapped to
// keysyms by the registrar and from toolkit keys by the recorder) and a modifier set.
struct HotkeyCombo {
    std::uint32_t keyCode = 0;
    HotkeyModifiers modifiers;

    // "Ctrl+Shift+Super+M": modifier names in the order Ctrl, Alt, Shift, Super, then the key's
    // name, or "?" for a key outside keyNames.
    std::string displayString() const;

    friend bool operator==(const HotkeyCombo&, const HotkeyCombo&) = default;
};

// M with Ctrl, Shift and Super.
inline constexpr HotkeyCombo defaultCombo{46, {13}};

// Key code 53: cancels recording; never part of a shortcut.
inline constexpr std::uint32_t escapeKeyCode = 53;

struct KeyName {
    std::uint32_t keyCode;
    std::string_view name;
};

// The 67 keys a shortcut may use.
std::span<const KeyName> keyNames();
std::optional<std::string_view> keyName(std::uint32_t keyCode);

// The 9 shortcuts the system owns; a match needs key code and modifier set exactly equal.
std::span<const HotkeyCombo> reservedCombos();
bool isReserved(const HotkeyCombo& combo);

// The rules a stored shortcut must pass at load: a primary modifier, a key from keyNames, not
// reserved.
bool passesLoadRules(const HotkeyCombo& combo);

// Persisted form under the settings key "hotkey": compact JSON {"keyCode":46,"modifiers":13}.
Blob encodeHotkeyCombo(const HotkeyCombo& combo);
// None for anything but an object with an unsigned 32-bit integer "keyCode" and an integer
// "modifiers" from 0 to 255; other members are ignored.
std::optional<HotkeyCombo> decodeHotkeyCombo(const Blob& blob);

} // namespace brindell
