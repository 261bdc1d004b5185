#pragma once

#include "login/LoginItemService.h"

#include <optional>
#include <string>

namespace brindell {

// A login-item service for tests: the raw status is data; register and unregister move it to
// statusAfterRegister / 0 unless a failure is set, which they throw instead.
class FakeLoginItemService final : public LoginItemService {
public:
    std::int64_t status() override { return rawStatus; }
    void registerItem() override {
        ++registerCalls;
        if (failure) {
            throw LoginItemError(*failure);
        }
        rawStatus = statusAfterRegister;
    }
    void unregisterItem() override {
        ++unregisterCalls;
        if (failure) {
            throw LoginItemError(*failure);
        }
        rawStatus = 0;
    }

    std::int64_t rawStatus = 0;
    std::int64_t statusAfterRegister = 1;
    std::optional<std::string> failure;
    int registerCalls = 0;
    int unregisterCalls = 0;
};

} // namespace brindell
