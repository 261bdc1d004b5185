#include "crash/CrashConsent.h"

#include <chrono>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>

namespace brindell {

using nlohmann::json;

Seconds systemReferenceTime() {
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<Seconds>(sinceEpoch).count() - referenceDateOffset;
}

CrashConsent::CrashConsent(std::shared_ptr<SettingsStorage> storage, std::function<Seconds()> now)
    : storage_(std::move(storage)), now_(std::move(now)) {}

std::optional<Seconds> CrashConsent::since() const {
    const auto blob = storage_->load();
    if (!blob) {
        return std::nullopt;
    }
    const auto file = decode(*blob);
    return file ? file->since : std::nullopt;
}

bool CrashConsent::set(bool on) {
    if (on == isOn()) {
        return true;
    }
    File file;
    if (on) {
        file.since = now_();
    }
    return storage_->save(encode(file));
}

std::optional<CrashConsent::File> CrashConsent::decode(const Blob& blob) {
    const json document = json::parse(blob.begin(), blob.end(), nullptr, false);
    if (!document.is_object()) {
        return std::nullopt;
    }
    File file;
    const auto version = document.find("version");
    if (version == document.end()) {
        return std::nullopt;
    }
    if (!version->is_number_integer() ||
        (version->is_number_unsigned() &&
         version->get<std::uint64_t>() >
             static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))) {
        return std::nullopt;
    }
    file.version = version->get<std::int64_t>();
    const auto since = document.find("since");
    if (since != document.end() && !since->is_null()) {
        if (!since->is_number()) {
            return std::nullopt;
        }
        file.since = since->get<double>();
    }
    return file;
}

Blob CrashConsent::encode(const File& file) {
    json document = {{"version", file.version}};
    if (file.since) {
        document["since"] = *file.since;
    }
    const std::string text = document.dump();
    return Blob(text.begin(), text.end());
}

} // namespace brindell
