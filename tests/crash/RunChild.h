#pragma once

#include "support/TestSupport.h"

#include <chrono>
#include <string>
#include <vector>

namespace brindell::test {

struct ChildResult {
    bool exited = false; // ended by exit(), with exitCode
    int exitCode = 0;
    int signal = 0;        // ended by this signal
    bool timedOut = false; // killed by the watchdog
    std::string output;    // its standard output
    int pid = 0;
};

// Runs a program with extra environment variables (NAME=value, overriding), collects its
// standard output and waits for it, killing it if it outlives the limit.
ChildResult runChild(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     std::chrono::milliseconds limit = std::chrono::seconds(30));

} // namespace brindell::test
