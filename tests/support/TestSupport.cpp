#include "support/TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace brindell::testing {

namespace fs = std::filesystem;

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds poll) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(poll);
    }
    return true;
}

// NOLINTBEGIN(concurrency-mt-unsafe): the environment changes from the test's thread only.
ScopedEnvironment::ScopedEnvironment(std::initializer_list<std::pair<std::string, Value>> values) {
    for (const auto& [name, value] : values) {
        set(name, value);
    }
}

ScopedEnvironment::~ScopedEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        it->second ? ::setenv(it->first.c_str(), it->second->c_str(), 1)
                   : ::unsetenv(it->first.c_str());
    }
}

void ScopedEnvironment::set(const std::string& name, const Value& value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old != nullptr ? Value(old) : std::nullopt);
    value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
}
// NOLINTEND(concurrency-mt-unsafe)

TempFolder::TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "brindell-test-XXXXXX").native();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    root_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    // A test may have closed a folder to its owner; open it again to remove it.
    for (auto it = fs::recursive_directory_iterator(root_, ignored);
         !ignored && it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
    }
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(root_, ignored);
}

std::string TempFolder::write(const std::string& relative, const std::string& text,
                              fs::perms mode) const {
    const fs::path file = root_ / relative;
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    fs::permissions(file, mode);
    return file.native();
}

std::string TempFolder::program(const std::string& relative) const {
    return write(relative, "#!/bin/sh\n", fs::perms::owner_all);
}

std::string TempFolder::link(const std::string& relative, const std::string& target) const {
    const fs::path file = root_ / relative;
    fs::create_directories(file.parent_path());
    fs::remove(file);
    fs::create_symlink(target, file);
    return file.native();
}

void TempFolder::remove(const std::string& relative) const {
    fs::remove_all(root_ / relative);
}

PrivateBus::PrivateBus() {
    ChildProcess::Options options;
    options.argv = {"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"};
    options.environment = currentEnvironment();
    options.pipeStdout = true;
    try {
        daemon_ = std::make_unique<ChildProcess>(options);
        address_ = daemon_->readLine(std::chrono::seconds(10)).value_or("");
    } catch (const std::exception&) {
        // no dbus-daemon: address() stays empty
    }
}

} // namespace brindell::testing
