#include "sources/TextCase.h"

#include <cstdint>

namespace brindell {
namespace {

constexpr char32_t invalid = 0xFFFFFFFF;

// Decodes one UTF-8 sequence at text[i]; returns invalid (and length 1) for a malformed one.
char32_t decode(std::string_view text, std::size_t i, std::size_t& length) {
    const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[i + k]); };
    const std::uint8_t lead = byte(0);
    length = 1;
    if (lead < 0x80) {
        return lead;
    }
    std::size_t extra = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        value = lead & 0x1Fu;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        value = lead & 0x0Fu;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        value = lead & 0x07u;
        minimum = 0x10000;
    } else {
        return invalid;
    }
    if (i + extra >= text.size()) {
        return invalid;
    }
    for (std::size_t k = 1; k <= extra; ++k) {
        if ((byte(k) & 0xC0) != 0x80) {
            return invalid;
        }
        value = (value << 6) | (byte(k) & 0x3Fu);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return invalid;
    }
    length = extra + 1;
    return value;
}

void encode(char32_t c, std::string& out) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

char32_t toLower(char32_t c) {
    if (c >= U'A' && c <= U'Z') {
        return c + 0x20;
    }
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) {
        return c + 0x20;
    }
    if (c >= 0x100 && c <= 0x17F) {
        // Latin Extended-A pairs upper/lower on even/odd, except for the 0x139-0x148 and
        // 0x179-0x17E runs, which pair odd/even, and a few letters without a pair.
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) {
            return c == 0x130 ? U'i' : c;
        }
        if (c == 0x178) {
            return 0xFF;
        }
        const bool oddRun = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        return oddRun ? ((c % 2 == 1) ? c + 1 : c) : ((c % 2 == 0) ? c + 1 : c);
    }
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) {
        return c + 0x20;
    }
    if (c >= 0x410 && c <= 0x42F) {
        return c + 0x20;
    }
    if (c >= 0x400 && c <= 0x40F) {
        return c + 0x50;
    }
    return c;
}

char32_t toUpper(char32_t c) {
    if (c >= U'a' && c <= U'z') {
        return c - 0x20;
    }
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
        return c - 0x20;
    }
    if (c == 0xFF) {
        return 0x178;
    }
    if (c >= 0x100 && c <= 0x17F) {
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) {
            return c == 0x131 ? U'I' : c;
        }
        const bool oddRun = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        return oddRun ? ((c % 2 == 0) ? c - 1 : c) : ((c % 2 == 1) ? c - 1 : c);
    }
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) {
        return c - 0x20;
    }
    if (c >= 0x430 && c <= 0x44F) {
        return c - 0x20;
    }
    if (c >= 0x450 && c <= 0x45F) {
        return c - 0x50;
    }
    return c;
}

template <typename Map>
std::string mapped(std::string_view text, std::size_t maxCharacters, Map map) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    std::size_t characters = 0;
    while (i < text.size()) {
        std::size_t length = 1;
        const char32_t c = decode(text, i, length);
        if (c == invalid || characters >= maxCharacters) {
            out.append(text.substr(i, length));
        } else {
            encode(map(c), out);
        }
        i += length;
        ++characters;
    }
    return out;
}

} // namespace

std::string lowerCased(std::string_view text) {
    return mapped(text, text.size(), toLower);
}

std::string upperCasedFirst(std::string_view text) {
    return mapped(text, 1, toUpper);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return lowerCased(a) == lowerCased(b);
}

} // namespace brindell
