#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace brindell {

// What the login-item service holds for this program. The raw values 0 to 3 map in order; any
// other raw value is notFound.
enum class LoginItemStatus { notRegistered, enabled, requiresApproval, notFound };

LoginItemStatus loginItemStatusFromRaw(std::int64_t raw);
const char* toString(LoginItemStatus status);

// A failure of the login-item service; what() is its description, shown to the user after
// "Could not turn on opening at login: ".
class LoginItemError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Registration to open the program at login. Main thread only.
class LoginItemService {
public:
    virtual ~LoginItemService() = default;
    // The raw status (see LoginItemStatus).
    virtual std::int64_t status() = 0;
    // Throw LoginItemError when the service refuses.
    virtual void registerItem() = 0;
    virtual void unregisterItem() = 0;
};

} // namespace brindell
