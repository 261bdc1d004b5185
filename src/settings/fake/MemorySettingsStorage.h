#pragma once

#include "settings/SettingsStorage.h"

#include <string>

namespace brindell {

// A SettingsStorage in memory, for tests: inspectable, with a switch that makes writes fail.
class MemorySettingsStorage final : public SettingsStorage {
public:
    MemorySettingsStorage() = default;
    explicit MemorySettingsStorage(const std::string& stored)
        : blob_(Blob(stored.begin(), stored.end())) {}

    std::optional<Blob> load() override {
        ++loads;
        return blob_;
    }
    bool save(const Blob& blob) override {
        ++saves;
        if (failWrites) {
            return false;
        }
        blob_ = blob;
        return true;
    }

    std::optional<std::string> text() const {
        if (!blob_) {
            return std::nullopt;
        }
        return std::string(blob_->begin(), blob_->end());
    }
    void set(std::optional<Blob> blob) { blob_ = std::move(blob); }

    int loads = 0;
    int saves = 0; // attempts, failed ones included
    bool failWrites = false;

private:
    std::optional<Blob> blob_;
};

} // namespace brindell
