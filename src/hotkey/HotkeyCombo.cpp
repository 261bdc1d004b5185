#include "hotkey/HotkeyCombo.h"

#include <algorithm>
#include <array>
#include <limits>
#include <nlohmann/json.hpp>

namespace brindell {

namespace {

constexpr std::array<KeyName, 67> kKeyNames{{
    // letters
    {0, "A"},
    {11, "B"},
    {8, "C"},
    {2, "D"},
    {14, "E"},
    {3, "F"},
    {5, "G"},
    {4, "H"},
    {34, "I"},
    {38, "J"},
    {40, "K"},
    {37, "L"},
    {46, "M"},
    {45, "N"},
    {31, "O"},
    {35, "P"},
    {12, "Q"},
    {15, "R"},
    {1, "S"},
    {17, "T"},
    {32, "U"},
    {9, "V"},
    {13, "W"},
    {7, "X"},
    {16, "Y"},
    {6, "Z"},
    // digits
    {29, "0"},
    {18, "1"},
    {19, "2"},
    {20, "3"},
    {21, "4"},
    {23, "5"},
    {22, "6"},
    {26, "7"},
    {28, "8"},
    {25, "9"},
    // function keys
    {122, "F1"},
    {120, "F2"},
    {99, "F3"},
    {118, "F4"},
    {96, "F5"},
    {97, "F6"},
    {98, "F7"},
    {100, "F8"},
    {101, "F9"},
    {109, "F10"},
    {103, "F11"},
    {111, "F12"},
    // named keys
    {49, "Space"},
    {36, "Return"},
    {48, "Tab"},
    {51, "Delete"},
    // arrows
    {123, "\u2190"},
    {124, "\u2192"},
    {125, "\u2193"},
    {126, "\u2191"},
    // punctuation
    {27, "-"},
    {24, "="},
    {33, "["},
    {30, "]"},
    {41, ";"},
    {39, "'"},
    {43, ","},
    {47, "."},
    {44, "/"},
    {42, "\\"},
    {50, "`"},
}};

constexpr std::uint8_t kCmd = HotkeyModifiers::command;
constexpr std::uint8_t kOpt = HotkeyModifiers::option;
constexpr std::uint8_t kCtrl = HotkeyModifiers::control;

constexpr std::array<HotkeyCombo, 9> kReserved{{
    {49, {kCmd}},
    {49, {kCmd | kOpt}},
    {49, {kCtrl}},
    {48, {kCmd}},
    {12, {kCmd}},
    {4, {kCmd}},
    {13, {kCmd}},
    {53, {kCmd | kOpt}},
    {12, {kCmd | kCtrl}},
}};

} // namespace

HotkeyModifiers HotkeyModifiers::fromEventFlags(std::uint64_t flags) {
    std::uint8_t bits = 0;
    if ((flags & commandFlag) != 0) {
        bits |= command;
    }
    if ((flags & optionFlag) != 0) {
        bits |= option;
    }
    if ((flags & controlFlag) != 0) {
        bits |= control;
    }
    if ((flags & shiftFlag) != 0) {
        bits |= shift;
    }
    return {bits};
}

std::span<const KeyName> keyNames() {
    return kKeyNames;
}

std::optional<std::string_view> keyName(std::uint32_t keyCode) {
    const auto* it = std::find_if(kKeyNames.begin(), kKeyNames.end(),
                                  [keyCode](const KeyName& k) { return k.keyCode == keyCode; });
    if (it == kKeyNames.end()) {
        return std::nullopt;
    }
    return it->name;
}

std::span<const HotkeyCombo> reservedCombos() {
    return kReserved;
}

bool isReserved(const HotkeyCombo& combo) {
    return std::find(kReserved.begin(), kReserved.end(), combo) != kReserved.end();
}

bool passesLoadRules(const HotkeyCombo& combo) {
    return combo.modifiers.hasPrimary() && keyName(combo.keyCode).has_value() && !isReserved(combo);
}

std::string HotkeyCombo::displayString() const {
    std::string text;
    const auto add = [&text](std::string_view name) {
        text += name;
        text += '+';
    };
    if (modifiers.has(HotkeyModifiers::control)) {
        add("Ctrl");
    }
    if (modifiers.has(HotkeyModifiers::option)) {
        add("Alt");
    }
    if (modifiers.has(HotkeyModifiers::shift)) {
        add("Shift");
    }
    if (modifiers.has(HotkeyModifiers::command)) {
        add("Super");
    }
    text += keyName(keyCode).value_or("?");
    return text;
}

Blob encodeHotkeyCombo(const HotkeyCombo& combo) {
    const nlohmann::json document = {{"keyCode", combo.keyCode},
                                     {"modifiers", combo.modifiers.bits}};
    const std::string text = document.dump();
    return {text.begin(), text.end()};
}

std::optional<HotkeyCombo> decodeHotkeyCombo(const Blob& blob) {
    const nlohmann::json document = nlohmann::json::parse(blob.begin(), blob.end(), nullptr,
                                                          /*allow_exceptions=*/false);
    if (!document.is_object()) {
        return std::nullopt;
    }
    const auto keyCode = document.find("keyCode");
    const auto modifiers = document.find("modifiers");
    if (keyCode == document.end() || modifiers == document.end() || !keyCode->is_number_integer() ||
        !modifiers->is_number_integer()) {
        return std::nullopt;
    }
    // Signed and unsigned JSON integers are told apart by the parser; read both through the
    // widest type before range checks so that -1 never wraps into a valid code.
    const auto inRange = [](const nlohmann::json& value, std::int64_t low, std::int64_t high,
                            std::int64_t& out) {
        if (value.is_number_unsigned()) {
            const auto u = value.get<std::uint64_t>();
            if (u > static_cast<std::uint64_t>(high)) {
                return false;
            }
            out = static_cast<std::int64_t>(u);
            return true;
        }
        out = value.get<std::int64_t>();
        return out >= low && out <= high;
    };
    std::int64_t code = 0;
    std::int64_t bits = 0;
    if (!inRange(*keyCode, 0, std::numeric_limits<std::uint32_t>::max(), code) ||
        !inRange(*modifiers, 0, 255, bits)) {
        return std::nullopt;
    }
    return HotkeyCombo{static_cast<std::uint32_t>(code), {static_cast<std::uint8_t>(bits)}};
}

} // namespace brindell
