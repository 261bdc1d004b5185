#include "shell/OnboardingState.h"

#include <nlohmann/json.hpp>

namespace brindell {

OnboardingState::OnboardingState(std::shared_ptr<SettingsStorage> storage)
    : storage_(std::move(storage)) {}

bool OnboardingState::completed() const {
    const auto blob = storage_->load();
    if (!blob) {
        return false;
    }
    const auto file = decode(*blob);
    return file && file->completed;
}

bool OnboardingState::markCompleted() {
    const auto blob = encode(File{1, true});
    return blob && storage_->save(*blob);
}

std::optional<OnboardingState::File> OnboardingState::decode(const Blob& blob) {
    const auto json = nlohmann::json::parse(blob.begin(), blob.end(), nullptr, false);
    if (!json.is_object()) {
        return std::nullopt;
    }
    const auto version = json.find("version");
    const auto completed = json.find("completed");
    if (version == json.end() || !version->is_number_integer() || completed == json.end() ||
        !completed->is_boolean()) {
        return std::nullopt;
    }
    File file;
    // A version beyond 64 bits still reads as an integer here; it is ignored anyway.
    file.version = version->is_number_unsigned()
                       ? static_cast<std::int64_t>(version->get<std::uint64_t>())
                       : version->get<std::int64_t>();
    file.completed = completed->get<bool>();
    return file;
}

std::optional<Blob> OnboardingState::encode(const File& file) {
    try {
        const std::string text =
            nlohmann::json{{"completed", file.completed}, {"version", file.version}}.dump();
        return Blob(text.begin(), text.end());
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

} // namespace brindell
