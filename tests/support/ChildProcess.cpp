#include "support/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <numeric>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace brindell::testing {

using Clock = std::chrono::steady_clock;

namespace {

// The absolute path of a program on PATH; throws when it is missing.
std::string findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    throw std::runtime_error(name + " is not installed (tools/install-deps.sh installs it)");
}

} // namespace

Environment currentEnvironment() {
    Environment env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text(*entry);
        auto eq = text.find('=');
        if (eq != std::string::npos) {
            env[text.substr(0, eq)] = text.substr(eq + 1);
        }
    }
    return env;
}

std::string tailOfFile(const std::string& path, std::size_t maxLines) {
    std::ifstream in(path);
    std::deque<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back("    " + line + "\n");
        if (lines.size() > maxLines) {
            lines.pop_front();
        }
    }
    return std::accumulate(lines.begin(), lines.end(), std::string());
}

ChildProcess::ChildProcess(Options options) {
    if (options.argv.at(0).find('/') == std::string::npos) {
        options.argv[0] = findProgram(options.argv[0]);
    }
    // Everything the child needs is prepared before fork: after it, only async-signal-safe
    // calls are allowed in a threaded parent.
    std::vector<std::string> envStrings;
    for (const auto& [key, value] : options.environment) {
        if (!value.empty()) {
            envStrings.push_back(key + "=" + value);
        }
    }
    const auto pointers = [](std::vector<std::string>& strings) {
        std::vector<char*> result;
        for (auto& s : strings) {
            result.push_back(s.data());
        }
        result.push_back(nullptr);
        return result;
    };
    std::vector<char*> envp = pointers(envStrings);
    std::vector<char*> argv = pointers(options.argv);

    int outPipe[2] = {-1, -1};
    int inPipe[2] = {-1, -1};
    if ((options.pipeStdout && pipe2(outPipe, O_CLOEXEC) != 0) ||
        (options.pipeStdin && pipe2(inPipe, O_CLOEXEC) != 0)) {
        throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
    }
    const std::string log = options.logFile.empty() ? "/dev/null" : options.logFile;
    const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const int nullFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (logFd < 0 || nullFd < 0) {
        throw std::runtime_error("cannot open " + log);
    }
    const pid_t parent = getpid();

    pid_ = fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork: " + std::string(std::strerror(errno)));
    }
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(127); // the test died before the child got here
        }
        setpgid(0, 0);
        dup2(options.pipeStdin ? inPipe[0] : nullFd, 0);
        dup2(options.pipeStdout ? outPipe[1] : logFd, 1);
        dup2(logFd, 2);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(logFd);
    close(nullFd);
    if (options.pipeStdout) {
        close(outPipe[1]);
        stdout_ = outPipe[0];
    }
    if (options.pipeStdin) {
        close(inPipe[0]);
        stdin_ = inPipe[1];
    }
}

ChildProcess::~ChildProcess() {
    stop();
    for (const int fd : {stdout_, stdin_}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (auto newline = buffered_.find('\n'); newline == std::string::npos;
         newline = buffered_.find('\n')) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd pfd{stdout_, POLLIN, 0};
        if (stdout_ < 0 || left.count() <= 0) {
            return std::nullopt;
        }
        const int ready = poll(&pfd, 1, static_cast<int>(left.count()));
        char chunk[4096];
        const ssize_t n = ready > 0 ? read(stdout_, chunk, sizeof chunk) : 0;
        if (n > 0) {
            buffered_.append(chunk, static_cast<std::size_t>(n));
        } else if (!(ready < 0 && errno == EINTR)) {
            return std::nullopt;
        }
    }
    const auto newline = buffered_.find('\n');
    std::string line = buffered_.substr(0, newline);
    buffered_.erase(0, newline + 1);
    return line;
}

std::optional<std::string> ChildProcess::waitForLine(const std::string& prefix,
                                                     std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (auto line = readLine(std::max(
               std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()),
               std::chrono::milliseconds(0)))) {
        if (line->starts_with(prefix)) {
            return line;
        }
    }
    return std::nullopt;
}

bool ChildProcess::writeLine(const std::string& line) {
    if (stdin_ < 0) {
        return false;
    }
    const std::string text = line + "\n";
    return write(stdin_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

void ChildProcess::signal(int signo) const {
    if (pid_ > 0 && !status_) {
        kill(pid_, signo);
    }
}

bool ChildProcess::waitExit(std::chrono::milliseconds timeout) {
    if (status_ || pid_ <= 0) {
        return true;
    }
    const auto deadline = Clock::now() + timeout;
    while (true) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_ || (done < 0 && errno == ECHILD)) {
            status_ = status;
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool ChildProcess::running() {
    return !waitExit(std::chrono::milliseconds(0));
}

void ChildProcess::stop(std::chrono::milliseconds grace) {
    if (pid_ <= 0 || status_) {
        return;
    }
    signal(SIGTERM);
    if (!waitExit(grace)) {
        signal(SIGKILL);
        waitExit(std::chrono::milliseconds(5000));
    }
}

} // namespace brindell::testing
