#pragma once

#include <locale>
#include <string>
#include <string_view>

namespace brindell {

// Orders names for display the way the user's language does, ignoring case, without any
// platform library: names are decoded from UTF-8, case-folded, then compared with the
// locale's collation. Where the user's locale cannot fold beyond ASCII (the C locale), folding
// uses C.UTF-8 when the system has it. Ties fall back to the raw bytes, so the order is total.
//
// Threading: immutable after construction; share it freely.
class NameCollator {
public:
    // The user's locale from the environment; the classic locale when it names one that is not
    // installed.
    NameCollator();
    explicit NameCollator(const std::locale& locale);

    // What a name is ordered by; make the keys once when sorting many names.
    struct Key {
        std::wstring folded; // decoded and case-folded
        std::string raw;     // the tie-break
    };
    Key key(std::string_view utf8) const;

    // Negative, zero or positive as a sorts before, with or after b.
    int compare(const Key& a, const Key& b) const;
    int compare(std::string_view a, std::string_view b) const { return compare(key(a), key(b)); }
    bool less(std::string_view a, std::string_view b) const { return compare(a, b) < 0; }

private:
    std::locale collation_;
    std::locale folding_;
};

} // namespace brindell
