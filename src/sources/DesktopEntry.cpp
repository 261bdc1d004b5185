#include "sources/DesktopEntry.h"

namespace brindell {
namespace {

std::string_view trimmed(std::string_view text) {
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && isSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool isTrue(const std::string* value) {
    return value && trimmed(*value) == "true";
}

std::optional<std::string> nonEmpty(const std::string* raw) {
    if (!raw) {
        return std::nullopt;
    }
    std::string value = unescapeValue(*raw);
    if (trimmed(value).empty()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

Locale Locale::parse(std::string_view name) {
    Locale locale;
    const std::size_t at = name.find('@');
    if (at != std::string_view::npos) {
        locale.modifier = std::string(name.substr(at + 1));
        name = name.substr(0, at);
    }
    const std::size_t dot = name.find('.');
    if (dot != std::string_view::npos) {
        name = name.substr(0, dot);
    }
    const std::size_t underscore = name.find('_');
    if (underscore != std::string_view::npos) {
        locale.country = std::string(name.substr(underscore + 1));
        name = name.substr(0, underscore);
    }
    locale.language = std::string(name);
    if (locale.language == "C" || locale.language == "POSIX") {
        return {};
    }
    return locale;
}

std::vector<std::string> Locale::candidates() const {
    std::vector<std::string> out;
    if (language.empty()) {
        return out;
    }
    if (!country.empty() && !modifier.empty()) {
        out.push_back(language + "_" + country + "@" + modifier);
    }
    if (!country.empty()) {
        out.push_back(language + "_" + country);
    }
    if (!modifier.empty()) {
        out.push_back(language + "@" + modifier);
    }
    out.push_back(language);
    return out;
}

KeyFile KeyFile::parse(std::string_view text) {
    KeyFile file;
    std::map<std::string, std::string>* group = nullptr;
    bool skipping = false; // inside a repeated group
    std::size_t position = 0;
    while (position < text.size()) {
        std::size_t end = text.find('\n', position);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view line = trimmed(text.substr(position, end - position));
        position = end + 1;
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            if (line.back() != ']' || line.size() < 3) {
                group = nullptr;
                skipping = true;
                continue;
            }
            const std::string name(line.substr(1, line.size() - 2));
            skipping = file.groups.contains(name);
            group = skipping ? nullptr : &file.groups[name];
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!group || skipping || equals == std::string_view::npos) {
            continue;
        }
        const std::string key(trimmed(line.substr(0, equals)));
        if (key.empty()) {
            continue;
        }
        group->try_emplace(key, std::string(trimmed(line.substr(equals + 1))));
    }
    return file;
}

const std::string* KeyFile::value(const std::string& group, const std::string& key) const {
    const auto found = groups.find(group);
    if (found == groups.end()) {
        return nullptr;
    }
    const auto value = found->second.find(key);
    return value == found->second.end() ? nullptr : &value->second;
}

std::string unescapeValue(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\' || i + 1 == raw.size()) {
            out.push_back(raw[i]);
            continue;
        }
        switch (raw[i + 1]) {
        case 's':
            out.push_back(' ');
            break;
        case 'n':
            out.push_back('\n');
            break;
        case 't':
            out.push_back('\t');
            break;
        case 'r':
            out.push_back('\r');
            break;
        case '\\':
            out.push_back('\\');
            break;
        default:
            out.push_back('\\');
            out.push_back(raw[i + 1]);
            break;
        }
        ++i;
    }
    return out;
}

std::optional<DesktopEntry> DesktopEntry::parse(std::string_view text, const Locale& locale) {
    const KeyFile file = KeyFile::parse(text);
    const std::string group = "Desktop Entry";
    const std::string* type = file.value(group, "Type");
    if (!type || trimmed(*type) != "Application") {
        return std::nullopt;
    }
    DesktopEntry entry;
    entry.unlocalizedName = nonEmpty(file.value(group, "Name"));
    entry.name = entry.unlocalizedName;
    for (const std::string& suffix : locale.candidates()) {
        if (auto localized = nonEmpty(file.value(group, "Name[" + suffix + "]"))) {
            entry.name = std::move(localized);
            break;
        }
    }
    entry.icon = nonEmpty(file.value(group, "Icon"));
    entry.tryExec = nonEmpty(file.value(group, "TryExec"));
    if (const auto exec = nonEmpty(file.value(group, "Exec"))) {
        entry.exec = splitExec(*exec).value_or(std::vector<std::string>{});
    }
    entry.hidden = isTrue(file.value(group, "Hidden"));
    return entry;
}

std::optional<std::vector<std::string>> splitExec(std::string_view exec) {
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    // A field code stands alone as an argument; inside a word it is dropped as well.
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else if (c == '\\' && i + 1 < exec.size() &&
                       std::string_view("\"`$\\").find(exec[i + 1]) != std::string_view::npos) {
                current.push_back(exec[++i]);
            } else {
                current.push_back(c);
            }
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\n') {
            if (inArgument) {
                arguments.push_back(std::move(current));
                current.clear();
                inArgument = false;
            }
            continue;
        }
        inArgument = true;
        if (c == '"') {
            quoted = true;
        } else if (c == '%' && i + 1 < exec.size()) {
            if (exec[++i] == '%') {
                current.push_back('%');
            }
        } else {
            current.push_back(c);
        }
    }
    if (quoted) {
        return std::nullopt;
    }
    if (inArgument && !current.empty()) {
        arguments.push_back(std::move(current));
    }
    // An argument that was only a field code leaves nothing behind.
    std::erase_if(arguments, [](const std::string& a) { return a.empty(); });
    return arguments;
}

std::optional<std::string> execProgram(const std::vector<std::string>& arguments) {
    std::size_t i = 0;
    if (i < arguments.size() &&
        (arguments[i] == "env" || arguments[i] == "/usr/bin/env" || arguments[i] == "/bin/env")) {
        ++i;
        while (i < arguments.size() &&
               (arguments[i].find('=') != std::string::npos || arguments[i].starts_with('-'))) {
            // These options take the next argument as their value.
            if (arguments[i] == "-u" || arguments[i] == "--unset" || arguments[i] == "-C" ||
                arguments[i] == "--chdir") {
                ++i;
            }
            ++i;
        }
    }
    if (i >= arguments.size()) {
        return std::nullopt;
    }
    return arguments[i];
}

} // namespace brindell
