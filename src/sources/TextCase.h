#pragma once

#include <string>
#include <string_view>

namespace brindell {

// Case mapping for names and identifiers, without a locale: ASCII, Latin-1, Latin Extended-A,
// Greek and Cyrillic letters are mapped; every other code point, and bytes that are not valid
// UTF-8, pass through unchanged. Enough to sort and compare application names the way users
// read them, independent of the process's locale.
std::string lowerCased(std::string_view text);

// The text with its first character upper-cased and the rest kept as it is.
std::string upperCasedFirst(std::string_view text);

bool equalsIgnoringCase(std::string_view a, std::string_view b);

} // namespace brindell
