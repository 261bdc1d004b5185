#include "updates/UpdateConfig.h"

#include <cstdint>
#include <string_view>

namespace brindell {

namespace {

bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isHex(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool isUnreserved(char c) {
    return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
}
bool isSubDelim(char c) {
    return std::string_view("!$&'()*+,;=").find(c) != std::string_view::npos;
}
bool isGenDelim(char c) {
    return std::string_view(":/?#[]@").find(c) != std::string_view::npos;
}

// Every character is allowed in some URL part and every % starts a valid escape.
bool hasOnlyURLCharacters(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size()) {
                return false;
            }
            if (!isHex(text[i + 1]) || !isHex(text[i + 2])) {
                return false;
            }
            i += 2;
            continue;
        }
        if (!isUnreserved(c) && !isSubDelim(c) && !isGenDelim(c)) {
            return false;
        }
    }
    return true;
}

bool isRegName(std::string_view host) {
    for (const char c : host) {
        if (!isUnreserved(c) && !isSubDelim(c) && c != '%') {
            return false;
        }
    }
    return true;
}

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (isDigit(c)) {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

constexpr std::size_t kPublicKeyBytes = 32;

} // namespace

std::optional<ParsedURL> parseURL(const std::string& text) {
    const std::string_view url(text);
    if (url.empty() || !hasOnlyURLCharacters(url)) {
        return std::nullopt;
    }
    const auto colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0 || !isAlpha(url[0])) {
        return std::nullopt;
    }
    for (const char c : url.substr(0, colon)) {
        if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') {
            return std::nullopt;
        }
    }
    ParsedURL parsed;
    parsed.scheme = std::string(url.substr(0, colon));
    std::string_view rest = url.substr(colon + 1);
    if (!rest.starts_with("//")) {
        return parsed; // no authority, so no host
    }
    rest.remove_prefix(2);
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    std::string_view host;
    std::string_view portPart;
    if (authority.starts_with('[')) {
        const auto close = authority.find(']');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        host = authority.substr(0, close + 1);
        portPart = authority.substr(close + 1);
        if (!portPart.empty() && portPart.front() != ':') {
            return std::nullopt;
        }
    } else {
        const auto portColon = authority.find(':');
        host = authority.substr(0, portColon);
        if (portColon != std::string_view::npos) {
            portPart = authority.substr(portColon);
        }
        if (!isRegName(host)) {
            return std::nullopt;
        }
    }
    if (!portPart.empty()) {
        for (const char c : portPart.substr(1)) {
            if (!isDigit(c)) {
                return std::nullopt;
            }
        }
    }
    parsed.host = std::string(host);
    return parsed;
}

std::optional<std::string> decodeBase64Strict(const std::string& text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') {
        padding = text.size() >= 2 && text[text.size() - 2] == '=' ? 2 : 1;
    }
    std::string bytes;
    std::uint32_t buffer = 0;
    int bits = 0;
    for (std::size_t i = 0; i < text.size() - padding; ++i) {
        const int value = base64Value(text[i]);
        if (value < 0) {
            return std::nullopt; // includes '=' before the end and any whitespace
        }
        buffer = (buffer << 6) | static_cast<std::uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes += static_cast<char>((buffer >> bits) & 0xffU);
        }
    }
    return bytes;
}

std::optional<UpdateConfig> UpdateConfig::fromInfo(const std::optional<InfoDictionary>& info) {
    if (!info || !info->is_object()) {
        return std::nullopt;
    }
    const auto feed = info->find("SUFeedURL");
    if (feed == info->end() || !feed->is_string()) {
        return std::nullopt;
    }
    const auto url = parseURL(feed->get<std::string>());
    if (!url || url->scheme != "https" || url->host.empty()) {
        return std::nullopt;
    }
    const auto key = info->find("SUPublicEDKey");
    if (key == info->end() || !key->is_string()) {
        return std::nullopt;
    }
    const auto decoded = decodeBase64Strict(key->get<std::string>());
    if (!decoded || decoded->size() != kPublicKeyBytes) {
        return std::nullopt;
    }
    return UpdateConfig{feed->get<std::string>(), key->get<std::string>()};
}

} // namespace brindell
