#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindell {

// Rules that tell which desktop application a process belongs to, from what the system keeps
// about it. All pure functions over file contents and paths.

// The application id of a Flatpak sandbox, from its .flatpak-info ([Application] name=...).
std::optional<std::string> flatpakApplicationID(std::string_view flatpakInfo);

// The application id in a process's cgroup file, where the desktop put it when it launched the
// application: a systemd unit "app[-<launcher>]-<id>[@<random>].service" or
// "app[-<launcher>]-<id>-<random>.scope" (systemd escapes "-" in the id as \x2d), or a Snap's
// "snap.<snap>.<app>..." scope, whose desktop id is "<snap>_<app>". The innermost matching
// unit of the unified hierarchy (else the name=systemd one) counts.
std::optional<std::string> cgroupApplicationID(std::string_view cgroupFile);

// The id inside one unit name, or none when the unit is not an application's.
std::optional<std::string> unitApplicationID(std::string_view unit);

// Resolves systemd unit-name escapes (\xNN).
std::string unescapeUnitName(std::string_view name);

// Folders that many programs share (/usr/bin, /usr/lib, every folder on the search path, ...):
// a program there has no install folder of its own.
bool isSharedProgramFolder(const std::string& folder, const std::vector<std::string>& searchPath);

// The folder a program is installed in, when it is one of its own; none for shared folders.
std::optional<std::string> installFolder(const std::string& executablePath,
                                         const std::vector<std::string>& searchPath);

// Programs that start other programs (shells, interpreters, sandbox and package launchers):
// matching one of them says nothing about which application runs.
bool isLauncherProgram(std::string_view executablePath);

// Programs that only set up a sandbox for the application below them.
bool isSandboxLauncher(std::string_view executablePath);

} // namespace brindell
