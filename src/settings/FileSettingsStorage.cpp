#include "settings/FileSettingsStorage.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace brindell {
namespace {

std::string describe(const std::string& what, const std::string& path, int error) {
    return what + " " + path + ": " + std::error_code(error, std::generic_category()).message();
}

std::string homeDirectory() {
    // The program never changes its own environment, so reading it races with nothing.
    const char* home = std::getenv("HOME"); // NOLINT(concurrency-mt-unsafe)
    if (home != nullptr && home[0] == '/') {
        return home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return {};
}

// Closes a descriptor on every path out of a function.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    // Closes now, reporting the result: a failed close can mean the data never reached disk.
    bool close() {
        const int fd = std::exchange(fd_, -1);
        return ::close(fd) == 0 || errno == EINTR; // on Linux the descriptor is gone either way
    }

private:
    int fd_;
};

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

FileSettingsStorage::FileSettingsStorage(std::string key)
    : FileSettingsStorage(defaultDirectory(), std::move(key)) {}

FileSettingsStorage::FileSettingsStorage(std::string directory, std::string key)
    : directory_(std::move(directory)), key_(std::move(key)) {
    if (key_.empty() || key_.front() == '.' || key_.find('/') != std::string::npos ||
        key_.find('\0') != std::string::npos) {
        throw std::invalid_argument("settings key is not a plain file name: " + key_);
    }
    if (!directory_.empty()) {
        path_ = directory_ + "/" + key_ + ".json";
    }
}

std::string FileSettingsStorage::defaultDirectory() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME"); // NOLINT(concurrency-mt-unsafe)
    if (configHome != nullptr && configHome[0] == '/') {
        return std::string(configHome) + "/brindell";
    }
    const std::string home = homeDirectory();
    return home.empty() ? std::string() : home + "/.config/brindell";
}

std::optional<Blob> FileSettingsStorage::load() {
    lastError_.clear();
    if (path_.empty()) {
        lastError_ = "no settings folder: neither XDG_CONFIG_HOME nor a home folder is known";
        return std::nullopt;
    }
    // Non-blocking so a FIFO put in the file's place cannot hang the caller's queue.
    FileDescriptor fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) {
        if (errno != ENOENT) {
            lastError_ = describe("cannot open", path_, errno);
        }
        return std::nullopt;
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        lastError_ = describe("cannot inspect", path_, errno);
        return std::nullopt;
    }
    if (!S_ISREG(status.st_mode)) {
        lastError_ = path_ + " is not a regular file";
        return std::nullopt;
    }
    if (static_cast<std::uintmax_t>(status.st_size) > maximumSize) {
        lastError_ = path_ + " is larger than any settings document";
        return std::nullopt;
    }
    // Read to the end rather than trusting st_size: the file may be replaced meanwhile, and a
    // rename never changes an open file's contents, so what we read is one whole version.
    Blob blob;
    std::uint8_t chunk[8192];
    for (;;) {
        const ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            lastError_ = describe("cannot read", path_, errno);
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        if (blob.size() + static_cast<std::size_t>(got) > maximumSize) {
            lastError_ = path_ + " is larger than any settings document";
            return std::nullopt;
        }
        blob.insert(blob.end(), chunk, chunk + got);
    }
    return blob;
}

bool FileSettingsStorage::makeDirectory() {
    // mkdir -p, each new level private to the user as the base directory rules ask.
    std::size_t end = 0;
    while (end != std::string::npos) {
        end = directory_.find('/', end + 1);
        const std::string level = directory_.substr(0, end);
        if (level.empty() || level.back() == '/') {
            continue; // the root, or a doubled slash
        }
        if (::mkdir(level.c_str(), 0700) != 0 && errno != EEXIST) {
            lastError_ = describe("cannot create", level, errno);
            return false;
        }
    }
    struct stat status {};
    if (::stat(directory_.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        lastError_ = directory_ + " is not a folder";
        return false;
    }
    return true;
}

// A writer killed between creating its temporary file and renaming it leaves the temporary
// behind. Each name carries its writer's pid; remove those whose writer is gone, so crashes do
// not pile up files. A live writer's file is never touched.
void FileSettingsStorage::removeStaleTemporaries() const {
    DIR* folder = ::opendir(directory_.c_str());
    if (folder == nullptr) {
        return;
    }
    const std::string prefix = "." + key_ + ".json.tmp-";
    // readdir on a stream of our own is safe in glibc; readdir_r is deprecated.
    while (const dirent* entry = ::readdir(folder)) { // NOLINT(concurrency-mt-unsafe)
        const std::string_view name(entry->d_name);
        if (name.substr(0, prefix.size()) != prefix) {
            continue;
        }
        const std::string_view rest = name.substr(prefix.size());
        const std::size_t dash = rest.find('-');
        if (dash == 0 || dash == std::string_view::npos) {
            continue;
        }
        const std::string_view digits = rest.substr(0, dash);
        pid_t pid = 0;
        const auto parsed = std::from_chars(digits.data(), digits.data() + digits.size(), pid);
        if (parsed.ec != std::errc() || parsed.ptr != digits.data() + digits.size() || pid <= 0 ||
            pid == ::getpid()) {
            continue;
        }
        if (::kill(pid, 0) != 0 && errno == ESRCH) {
            ::unlinkat(::dirfd(folder), entry->d_name, 0);
        }
    }
    ::closedir(folder);
}

bool FileSettingsStorage::save(const Blob& blob) {
    lastError_.clear();
    if (path_.empty()) {
        lastError_ = "no settings folder: neither XDG_CONFIG_HOME nor a home folder is known";
        return false;
    }
    if (!makeDirectory()) {
        return false;
    }
    removeStaleTemporaries();

    std::string name =
        directory_ + "/." + key_ + ".json.tmp-" + std::to_string(::getpid()) + "-XXXXXX";
    FileDescriptor fd(::mkostemp(name.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        lastError_ = describe("cannot create a file in", directory_, errno);
        return false;
    }
    const auto fail = [&](const char* what) {
        lastError_ = describe(what, name, errno);
        ::unlink(name.c_str());
        return false;
    };
    // The temporary file only becomes the settings file once it holds the whole document and is
    // on disk: a crash or a full disk before the rename leaves the previous file as it was.
    if (::fchmod(fd.get(), 0600) != 0) {
        return fail("cannot set the mode of");
    }
    if (!writeAll(fd.get(), blob.data(), blob.size())) {
        return fail("cannot write");
    }
    if (::fsync(fd.get()) != 0) {
        return fail("cannot sync");
    }
    if (!fd.close()) {
        return fail("cannot close");
    }
    if (::rename(name.c_str(), path_.c_str()) != 0) {
        return fail("cannot rename into place");
    }
    // Make the rename itself durable. The new file is in place already, so a failure here is
    // not a failed save.
    FileDescriptor folder(::open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) {
        ::fsync(folder.get());
    }
    return true;
}

} // namespace brindell
