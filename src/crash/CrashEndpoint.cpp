#include "crash/CrashEndpoint.h"

#include <algorithm>
#include <cctype>

namespace brindell {

std::optional<std::string> crashIntakeEndpoint(std::string_view configured) {
    constexpr std::string_view scheme = "https://";
    if (configured.size() <= scheme.size() ||
        !std::equal(scheme.begin(), scheme.end(), configured.begin(), [](char a, char b) {
            return a == std::tolower(static_cast<unsigned char>(b));
        })) {
        return std::nullopt;
    }
    const bool printable = std::all_of(configured.begin(), configured.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u > 0x20 && u < 0x7f;
    });
    const std::string_view rest = configured.substr(scheme.size());
    const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    // The host is what remains after any user info and before any port.
    std::string_view host = authority.substr(authority.rfind('@') + 1);
    if (!host.empty() && host.front() != '[') {
        host = host.substr(0, host.find(':'));
    }
    if (!printable || host.empty()) {
        return std::nullopt;
    }
    return std::string(configured);
}

} // namespace brindell
