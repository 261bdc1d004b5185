#pragma once

// What tests of every tier share: waiting for state that changes elsewhere, the environment
// for one scope, temporary folders and a private session bus.

#include "support/ChildProcess.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brindell::testing {

// Checks condition every poll until it holds (true) or timeout passes (false): for state
// another thread or process changes without telling. The condition may also do the work
// that lets the state change (run an event loop).
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10),
               std::chrono::milliseconds poll = std::chrono::milliseconds(50));

// Sets or clears environment variables for one scope and puts back what was there. Tests that
// use it change the environment from one thread only.
class ScopedEnvironment {
public:
    using Value = std::optional<std::string>; // none: unset
    ScopedEnvironment() = default;
    ScopedEnvironment(std::initializer_list<std::pair<std::string, Value>> values);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    void set(const std::string& name, const Value& value);

private:
    std::vector<std::pair<std::string, Value>> saved_; // first value of each name
};

// A fresh private folder, removed with everything in it when the object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::string path(const std::string& relative) const { return (root_ / relative).native(); }

    // Writes a file, making its folders; mode as for chmod. Returns its path.
    std::string write(const std::string& relative, const std::string& text,
                      std::filesystem::perms mode = std::filesystem::perms::owner_read |
                                                    std::filesystem::perms::owner_write) const;
    // An executable shell script that does nothing.
    std::string program(const std::string& relative) const;
    std::string link(const std::string& relative, const std::string& target) const;
    void remove(const std::string& relative) const;

private:
    std::filesystem::path root_;
};

// A private session bus for one test: dbus-daemon started on construction, stopped on
// destruction. address() is empty when it could not start.
class PrivateBus {
public:
    PrivateBus();
    const std::string& address() const { return address_; }

private:
    std::unique_ptr<ChildProcess> daemon_;
    std::string address_;
};

} // namespace brindell::testing
