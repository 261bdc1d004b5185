#include "output/NameCollator.h"

#include <stdexcept>

namespace brindell {

namespace {

constexpr char32_t replacement = 0xFFFD;

// Decodes UTF-8 leniently: names come from the audio server and may be malformed, so every
// byte that does not start a well-formed sequence becomes U+FFFD instead of being dropped.
std::u32string decodeUTF8(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        char32_t code = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1Fu;
            minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0Fu;
            minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07u;
            minimum = 0x10000;
        }
        bool valid = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0u) != 0x80u) {
                valid = false;
            } else {
                code = (code << 6) | (next & 0x3Fu);
            }
        }
        if (valid && (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))) {
            valid = false; // overlong forms and surrogates
        }
        out.push_back(valid ? code : replacement);
        i += valid ? length : 1;
    }
    return out;
}

std::locale userLocale() {
    try {
        return std::locale("");
    } catch (const std::runtime_error&) {
        return std::locale::classic();
    }
}

bool foldsBeyondASCII(const std::locale& locale) {
    const auto& ctype = std::use_facet<std::ctype<wchar_t>>(locale);
    return ctype.tolower(L'\u00C9') == L'\u00E9';
}

std::locale foldingLocale(const std::locale& collation) {
    if (foldsBeyondASCII(collation)) {
        return collation;
    }
    for (const char* name : {"C.UTF-8", "C.utf8"}) {
        try {
            std::locale candidate(name);
            if (foldsBeyondASCII(candidate)) {
                return candidate;
            }
        } catch (const std::runtime_error&) {
            // not installed here; try the next spelling
        }
    }
    return collation;
}

} // namespace

NameCollator::NameCollator() : NameCollator(userLocale()) {}

NameCollator::NameCollator(const std::locale& locale)
    : collation_(locale), folding_(foldingLocale(locale)) {}

NameCollator::Key NameCollator::key(std::string_view utf8) const {
    static_assert(sizeof(wchar_t) == sizeof(char32_t), "names are folded as UTF-32 code points");
    const std::u32string decoded = decodeUTF8(utf8);
    std::wstring folded;
    folded.reserve(decoded.size());
    for (const char32_t code : decoded) {
        folded.push_back(static_cast<wchar_t>(code));
    }
    const auto& ctype = std::use_facet<std::ctype<wchar_t>>(folding_);
    ctype.tolower(folded.data(), folded.data() + folded.size());
    return Key{std::move(folded), std::string(utf8)};
}

int NameCollator::compare(const Key& a, const Key& b) const {
    const auto& collate = std::use_facet<std::collate<wchar_t>>(collation_);
    const int order = collate.compare(a.folded.data(), a.folded.data() + a.folded.size(),
                                      b.folded.data(), b.folded.data() + b.folded.size());
    if (order != 0) {
        return order < 0 ? -1 : 1;
    }
    const int raw = a.raw.compare(b.raw);
    return raw < 0 ? -1 : (raw > 0 ? 1 : 0);
}

} // namespace brindell
