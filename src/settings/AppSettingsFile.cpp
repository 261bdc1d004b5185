// The JSON form of AppSettingsStore::File.

#include "audio/Volume.h"
#include "settings/AppSettingsStore.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace brindell {
namespace {

// Floats parsed as 32-bit floats straight from their text. Parsing to a double first and then
// narrowing rounds twice, and for a few values (7.038531e-26 is one) lands on the neighbouring
// float, so a written volume would not read back as itself. A number beyond the float range is
// then a parse error: it is no volume this program could have written.
using Json = nlohmann::basic_json<std::map, std::vector, std::string, bool, std::int64_t,
                                  std::uint64_t, float>;

// A JSON string literal, or none when the text is not valid UTF-8 and so has no JSON form.
std::optional<std::string> jsonString(const std::string& text) {
    try {
        return Json(text).dump();
    } catch (const Json::exception&) {
        return std::nullopt;
    }
}

// The shortest decimal that reads back to the same float: 0.3f is "0.3", not the double
// expansion 0.30000001192092896 a JSON library would print after widening.
std::string volumeText(float volume) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, volume);
    return std::string(buffer, result.ptr);
}

std::optional<AppSetting> decodeSetting(const Json& member) {
    if (!member.is_object()) {
        return std::nullopt;
    }
    const auto volume = member.find("volume");
    const auto isMuted = member.find("isMuted");
    if (volume == member.end() || !volume->is_number() || isMuted == member.end() ||
        !isMuted->is_boolean()) {
        return std::nullopt;
    }
    AppSetting setting;
    setting.volume = volume->get<float>();
    setting.isMuted = isMuted->get<bool>();
    const auto uid = member.find("outputDeviceUID");
    if (uid != member.end() && !uid->is_null()) {
        if (!uid->is_string()) {
            return std::nullopt;
        }
        setting.outputDeviceUID = sanitizedOutputUID(uid->get<std::string>());
    }
    return setting;
}

} // namespace

std::optional<AppSettingsStore::File> AppSettingsStore::File::decode(std::string_view text) {
    const Json document =
        Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded() || !document.is_object()) {
        return std::nullopt;
    }
    const auto version = document.find("version");
    const auto apps = document.find("apps");
    if (version == document.end() || !version->is_number_integer() || apps == document.end() ||
        !apps->is_object()) {
        return std::nullopt;
    }
    File file;
    if (version->is_number_unsigned()) {
        const auto value = version->get<std::uint64_t>();
        if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return std::nullopt;
        }
        file.version = static_cast<std::int64_t>(value);
    } else {
        file.version = version->get<std::int64_t>();
    }
    for (const auto& [bundleID, member] : apps->items()) {
        std::optional<AppSetting> setting = decodeSetting(member);
        if (!setting) {
            return std::nullopt;
        }
        file.apps.insert_or_assign(bundleID, std::move(*setting));
    }
    return file;
}

std::string AppSettingsStore::File::encode(std::int64_t version,
                                           const std::map<std::string, AppSetting>& apps) {
    // Written by hand rather than through a JSON value so the volume keeps its float form and the
    // key order is fixed. std::map iterates in byte order, which for UTF-8 is code point order.
    std::string out = R"({"apps":{)";
    bool first = true;
    for (const auto& [bundleID, stored] : apps) {
        AppSetting setting = stored;
        setting.volume = cleanVolume(setting.volume, AppSetting{}.volume);
        if (bundleID.empty() || setting.isDefault()) {
            continue; // loading would drop it anyway
        }
        const std::optional<std::string> key = jsonString(bundleID);
        std::optional<std::string> uid;
        if (setting.outputDeviceUID) {
            uid = jsonString(*setting.outputDeviceUID);
        }
        if (!key || (setting.outputDeviceUID && !uid)) {
            continue; // no JSON form; this one application stays remembered for the run only
        }
        if (!first) {
            out += ',';
        }
        first = false;
        out += *key;
        out += R"(:{"isMuted":)";
        out += setting.isMuted ? "true" : "false";
        if (uid) {
            out += R"(,"outputDeviceUID":)";
            out += *uid;
        }
        out += R"(,"volume":)";
        out += volumeText(setting.volume);
        out += '}';
    }
    out += R"(},"version":)";
    out += std::to_string(version);
    out += '}';
    return out;
}

} // namespace brindell
