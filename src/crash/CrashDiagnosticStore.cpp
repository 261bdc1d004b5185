#include "crash/CrashDiagnosticStore.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

namespace brindell {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view suffix = ".json";
constexpr std::string_view partialSuffix = ".json.tmp";

bool allDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool endsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

} // namespace

CrashDiagnosticStore::CrashDiagnosticStore(fs::path directory) : directory_(std::move(directory)) {}

fs::path CrashDiagnosticStore::defaultDirectory() {
    // getenv races only with setenv, which the program does not call once threads run.
    const char* state = std::getenv("XDG_STATE_HOME"); // NOLINT(concurrency-mt-unsafe)
    if (state != nullptr && state[0] == '/') {
        return fs::path(state) / "brindell" / "crashes";
    }
    const char* home = std::getenv("HOME"); // NOLINT(concurrency-mt-unsafe)
    if (home != nullptr && home[0] == '/') {
        return fs::path(home) / ".local" / "state" / "brindell" / "crashes";
    }
    return {};
}

std::optional<Seconds> CrashDiagnosticStore::crashTimeOfName(std::string_view name) {
    if (!endsWith(name, suffix)) {
        return std::nullopt;
    }
    name.remove_suffix(suffix.size());
    const auto dot = name.find('.');
    const auto dash = name.find('-');
    if (dot == std::string_view::npos || dash == std::string_view::npos || dash < dot) {
        return std::nullopt;
    }
    const std::string_view seconds = name.substr(0, dot);
    const std::string_view nanoseconds = name.substr(dot + 1, dash - dot - 1);
    const std::string_view pid = name.substr(dash + 1);
    if (!allDigits(seconds) || seconds.size() > 15 || nanoseconds.size() != 9 ||
        !allDigits(nanoseconds) || !allDigits(pid) || pid.size() > 10) {
        return std::nullopt;
    }
    return std::strtod(std::string(seconds).c_str(), nullptr) +
           std::strtod(std::string(nanoseconds).c_str(), nullptr) / 1e9;
}

bool CrashDiagnosticStore::prepare() const {
    if (directory_.empty()) {
        return false;
    }
    std::error_code error;
    fs::create_directories(directory_, error);
    // Only the user may read what a crash left behind: it holds paths.
    fs::permissions(directory_, fs::perms::owner_all, fs::perm_options::replace, error);
    return fs::is_directory(directory_, error);
}

std::vector<CrashDiagnosticStore::Entry> CrashDiagnosticStore::list() const {
    std::vector<Entry> entries;
    std::error_code error;
    for (fs::directory_iterator it(directory_, error), end; !error && it != end;
         it.increment(error)) {
        const auto time = crashTimeOfName(it->path().filename().string());
        if (time && it->is_regular_file(error)) {
            entries.push_back({it->path(), *time});
        }
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.crashTime != b.crashTime ? a.crashTime < b.crashTime : a.path < b.path;
    });
    return entries;
}

std::optional<Blob> CrashDiagnosticStore::read(const Entry& entry) const {
    std::error_code error;
    const auto size = fs::file_size(entry.path, error);
    if (error || size > maxBytes) {
        return std::nullopt;
    }
    std::ifstream in(entry.path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    Blob bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad() || bytes.size() > maxBytes) {
        return std::nullopt;
    }
    return bytes;
}

bool CrashDiagnosticStore::remove(const Entry& entry) const {
    std::error_code error;
    return fs::remove(entry.path, error);
}

void CrashDiagnosticStore::prune(std::size_t keep) const {
    auto entries = list();
    for (std::size_t i = 0; i + keep < entries.size(); ++i) {
        remove(entries[i]);
    }
    // A partial file is one whose writer died; a minute is far longer than any write takes.
    std::error_code error;
    const auto stale = fs::file_time_type::clock::now() - std::chrono::minutes(1);
    for (fs::directory_iterator it(directory_, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code itemError;
        if (endsWith(it->path().filename().string(), partialSuffix) &&
            crashTimeOfName(it->path().stem().string()) && it->last_write_time(itemError) < stale &&
            !itemError) {
            fs::remove(it->path(), itemError);
        }
    }
}

} // namespace brindell
