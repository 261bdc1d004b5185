#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace brindell::test {

// A private folder, removed with everything in it when the object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

struct ChildResult {
    bool exited = false; // ended by exit(), with exitCode
    int exitCode = 0;
    int signal = 0;        // ended by this signal
    bool timedOut = false; // killed by the watchdog
    std::string output;    // its standard output
    int pid = 0;
};

// Polls the condition until it holds (true) or the limit passes (false): for state another
// thread or process changes without telling.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::seconds(10));

// Runs a program with extra environment variables (NAME=value, overriding), collects its
// standard output and waits for it, killing it if it outlives the limit.
ChildResult runChild(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     std::chrono::milliseconds limit = std::chrono::seconds(30));

} // namespace brindell::test
