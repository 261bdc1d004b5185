#include "hotkey/HotkeyCombo.h"

#include "hotkey/KeySymbols.h"

#include <gtest/gtest.h>
#include <set>
#include <string>

namespace brindell {
namespace {

Blob blob(const std::string& text) {
    return {text.begin(), text.end()};
}
std::string text(const Blob& b) {
    return {b.begin(), b.end()};
}

TEST(HotkeyCombo, EveryNamedKeyHasAKeysymThatMapsBack) {
    std::set<std::uint32_t> keysyms;
    for (const auto& key : keyNames()) {
        const auto keysym = keysymForKeyCode(key.keyCode);
        ASSERT_TRUE(keysym.has_value()) << key.name;
        keysyms.insert(*keysym);
        EXPECT_EQ(keyCodeForKeysym(*keysym), key.keyCode) << key.name;
    }
    EXPECT_EQ(keysyms.size(), keyNames().size());
    EXPECT_FALSE(keyName(escapeKeyCode).has_value());
}

TEST(HotkeyCombo, KeysymsOfShiftedAndAlternativeKeysReadAsTheirKey) {
    EXPECT_EQ(keyCodeForKeysym(0x4b), 40U);   // K
    EXPECT_EQ(keyCodeForKeysym(0x6b), 40U);   // k
    EXPECT_EQ(keyCodeForKeysym(0xfe20), 48U); // ISO_Left_Tab
    EXPECT_EQ(keyCodeForKeysym(0xff8d), 36U); // KP_Enter
    EXPECT_EQ(keyCodeForKeysym(0xff1b), 53U); // Escape, which cancels recording
    EXPECT_EQ(keyCodeForKeysym(0xff08), 51U); // BackSpace is the Delete key
    EXPECT_FALSE(keyCodeForKeysym(0xe9));     // é: no key code
    EXPECT_FALSE(keysymForKeyCode(200).has_value());
}

TEST(HotkeyCombo, DisplayStringNamesModifiersInFixedOrderThenTheKey) {
    EXPECT_EQ(defaultCombo.displayString(), "Ctrl+Shift+Super+M");
    EXPECT_EQ((HotkeyCombo{12, {15}}).displayString(), "Ctrl+Alt+Shift+Super+Q");
    EXPECT_EQ((HotkeyCombo{123, {2}}).displayString(), "Alt+\u2190");
    EXPECT_EQ((HotkeyCombo{49, {0}}).displayString(), "Space");
}

TEST(HotkeyCombo, EventFlagsGiveTheModifierBitsAndIgnoreOtherFlags) {
    EXPECT_EQ(HotkeyModifiers::fromEventFlags(0x100000 | 0x020000).bits, 9);
    EXPECT_EQ(HotkeyModifiers::fromEventFlags(0x080000 | 0x040000).bits, 6);
    EXPECT_EQ(HotkeyModifiers::fromEventFlags(0x010000 | 0x800000 | 0x100).bits, 0); // caps, fn
}

TEST(HotkeyCombo, PersistedFormIsCompactAndReadsBackInAnyMemberOrder) {
    EXPECT_EQ(text(encodeHotkeyCombo(defaultCombo)), R"({"keyCode":46,"modifiers":13})");
    EXPECT_EQ(decodeHotkeyCombo(blob(R"({"modifiers":6,"keyCode":40})")), (HotkeyCombo{40, {6}}));
    EXPECT_EQ(decodeHotkeyCombo(blob(R"({"keyCode":4294967295,"modifiers":255,"x":[]})")),
              (HotkeyCombo{4294967295U, {255}}));
    const HotkeyCombo odd{105, {0}};
    EXPECT_EQ(decodeHotkeyCombo(encodeHotkeyCombo(odd)), odd);
}

TEST(HotkeyCombo, MalformedPersistedFormsDecodeToNothing) {
    for (const char* stored : {
             "",
             "[46,13]",
             R"({"keyCode":46})",
             R"({"keyCode":"46","modifiers":13})",
             R"({"keyCode":46,"modifiers":13.0})",
             R"({"keyCode":-1,"modifiers":13})",
             R"({"keyCode":4294967296,"modifiers":13})",
             R"({"keyCode":46,"modifiers":256})",
             R"({"keyCode":46,"modifiers":13)",
         }) {
        EXPECT_FALSE(decodeHotkeyCombo(blob(stored)).has_value()) << stored;
    }
}

} // namespace
} // namespace brindell
