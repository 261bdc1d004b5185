#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace brindell::testing {

using Environment = std::map<std::string, std::string>;

// A program a test starts: a daemon of a private session, a client, a probe. It dies with
// the test process, also when that one crashes (PR_SET_PDEATHSIG), and is stopped and reaped
// when this object goes. Its standard output goes to a pipe the test reads line by line, or to
// a log file; its standard error to the log file.
class ChildProcess {
public:
    struct Options {
        std::vector<std::string> argv; // a bare program name is looked up on PATH
        Environment environment;       // the complete environment of the child
        std::string logFile;           // stderr, and stdout unless it is piped; empty: /dev/null
        bool pipeStdout = false;       // readLine reads it
        bool pipeStdin = false;        // writeLine writes to it
    };

    explicit ChildProcess(Options options); // throws std::runtime_error when it cannot start
    ~ChildProcess();                        // stop()
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }

    // The next line of its standard output, waiting up to timeout; none at the deadline or at
    // the end of the output.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout);
    // Reads lines until one starts with prefix; returns it.
    std::optional<std::string> waitForLine(const std::string& prefix,
                                           std::chrono::milliseconds timeout);
    bool writeLine(const std::string& line);
    // The raw output pipe, for readers that take the bytes themselves (the level meter).
    int stdoutFd() const { return stdout_; }

    void signal(int signo) const;
    // True once it exited (reaped); waits up to timeout.
    bool waitExit(std::chrono::milliseconds timeout);
    bool running();
    // SIGTERM, then SIGKILL after the grace period; always reaps.
    void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(3000));
    // The exit status as waitpid gave it, once reaped.
    std::optional<int> status() const { return status_; }

private:
    pid_t pid_ = -1;
    int stdout_ = -1;
    int stdin_ = -1;
    std::string buffered_;
    std::optional<int> status_;
};

// The current process's environment with changes; an empty value removes the variable.
Environment currentEnvironment();

// The log's last lines, for failure messages.
std::string tailOfFile(const std::string& path, std::size_t maxLines = 30);

} // namespace brindell::testing
