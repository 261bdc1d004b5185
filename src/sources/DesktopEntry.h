#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindell {

// The user's language for localized keys, from a POSIX locale name such as "de_DE.UTF-8@euro"
// (the encoding takes no part).
struct Locale {
    std::string language;
    std::string country;
    std::string modifier;

    static Locale parse(std::string_view name);
    // The suffixes to try, best first: lang_COUNTRY@MODIFIER, lang_COUNTRY, lang@MODIFIER,
    // lang. Empty for the "C" and "POSIX" locales.
    std::vector<std::string> candidates() const;
    friend bool operator==(const Locale&, const Locale&) = default;
};

// A freedesktop key file (desktop entries, .flatpak-info): groups of key=value lines. Values
// are kept raw, before unescaping. Comments and lines that are not key=value are skipped; of
// a repeated group or key the first one counts.
struct KeyFile {
    std::map<std::string, std::map<std::string, std::string>> groups;

    static KeyFile parse(std::string_view text);
    const std::string* value(const std::string& group, const std::string& key) const;
};

// A string value with the escapes \s \n \t \r \\ resolved; other backslashes are kept.
std::string unescapeValue(std::string_view raw);

// One application's desktop entry, with what Brindell reads from it.
struct DesktopEntry {
    std::string id;                  // desktop file id, e.g. "org.gnome.Rhythmbox3"
    std::string path;                // the file it was read from
    std::optional<std::string> name; // Name in the user's language, else Name
    std::optional<std::string> unlocalizedName;
    std::optional<std::string> icon; // Icon: a theme name or an absolute path
    std::vector<std::string> exec;   // Exec split into arguments, field codes removed
    std::optional<std::string> tryExec;
    bool hidden = false; // Hidden=true: the entry counts as deleted
    friend bool operator==(const DesktopEntry&, const DesktopEntry&) = default;

    // None when the text is not a desktop entry of type Application.
    static std::optional<DesktopEntry> parse(std::string_view text, const Locale& locale);
};

// Splits an Exec value (already unescaped) into arguments by the desktop entry quoting rules,
// dropping field codes (%f, %U, ...) and turning %% into %. None for an unterminated quote.
std::optional<std::vector<std::string>> splitExec(std::string_view exec);

// The program an Exec line starts, past an "env" prefix and its VAR=value assignments; none
// when there is none.
std::optional<std::string> execProgram(const std::vector<std::string>& arguments);

} // namespace brindell
