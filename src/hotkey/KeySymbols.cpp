#include "hotkey/KeySymbols.h"

#include <algorithm>
#include <array>

namespace brindell {

namespace {

struct KeyCodeSym {
    std::uint32_t keyCode;
    std::uint32_t keysym;
};

// Values from X11/keysymdef.h; the core does not include X11 headers.
constexpr std::array<KeyCodeSym, 69> kKeysyms{{
    {0, 0x61},     {11, 0x62},    {8, 0x63},     {2, 0x64},     {14, 0x65},    {3, 0x66},
    {5, 0x67},     {4, 0x68},     {34, 0x69},    {38, 0x6a},    {40, 0x6b},    {37, 0x6c},
    {46, 0x6d},    {45, 0x6e},    {31, 0x6f},    {35, 0x70},    {12, 0x71},    {15, 0x72},
    {1, 0x73},     {17, 0x74},    {32, 0x75},    {9, 0x76},     {13, 0x77},    {7, 0x78},
    {16, 0x79},    {6, 0x7a}, // a..z
    {29, 0x30},    {18, 0x31},    {19, 0x32},    {20, 0x33},    {21, 0x34},    {23, 0x35},
    {22, 0x36},    {26, 0x37},    {28, 0x38},    {25, 0x39}, // 0..9
    {122, 0xffbe}, {120, 0xffbf}, {99, 0xffc0},  {118, 0xffc1}, {96, 0xffc2},  {97, 0xffc3},
    {98, 0xffc4},  {100, 0xffc5}, {101, 0xffc6}, {109, 0xffc7}, {103, 0xffc8}, {111, 0xffc9},
    {105, 0xffca}, // F1..F13
    {49, 0x20},    // space
    {36, 0xff0d},  // Return
    {48, 0xff09},  // Tab
    {51, 0xff08},  // BackSpace: the key labelled Delete on the layout these codes come from
    {53, 0xff1b},  // Escape
    {123, 0xff51}, {124, 0xff53}, {125, 0xff54}, {126, 0xff52}, // Left, Right, Down, Up
    {27, 0x2d},    {24, 0x3d},    {33, 0x5b},    {30, 0x5d},    {41, 0x3b},    {39, 0x27},
    {43, 0x2c},    {47, 0x2e},    {44, 0x2f},    {42, 0x5c},    {50, 0x60}, // punctuation
}};

constexpr std::uint32_t kUpperA = 0x41;
constexpr std::uint32_t kUpperZ = 0x5a;
constexpr std::uint32_t kLowerOffset = 0x20;
constexpr std::uint32_t kIsoLeftTab = 0xfe20;
constexpr std::uint32_t kKeypadEnter = 0xff8d;

} // namespace

std::optional<std::uint32_t> keysymForKeyCode(std::uint32_t keyCode) {
    const auto* it = std::find_if(kKeysyms.begin(), kKeysyms.end(),
                                  [keyCode](const KeyCodeSym& k) { return k.keyCode == keyCode; });
    if (it == kKeysyms.end()) {
        return std::nullopt;
    }
    return it->keysym;
}

std::optional<std::uint32_t> keyCodeForKeysym(std::uint32_t keysym) {
    if (keysym >= kUpperA && keysym <= kUpperZ) {
        keysym += kLowerOffset;
    } else if (keysym == kIsoLeftTab) {
        keysym = 0xff09;
    } else if (keysym == kKeypadEnter) {
        keysym = 0xff0d;
    }
    const auto* it = std::find_if(kKeysyms.begin(), kKeysyms.end(),
                                  [keysym](const KeyCodeSym& k) { return k.keysym == keysym; });
    if (it == kKeysyms.end()) {
        return std::nullopt;
    }
    return it->keyCode;
}

} // namespace brindell
