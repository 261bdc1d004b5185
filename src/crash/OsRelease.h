#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brindell {

// VERSION_ID from the text of an os-release file, unquoted; none when absent or empty (rolling
// distributions have none).
std::optional<std::string> osReleaseVersionId(std::string_view osRelease);

// The operating system version a crash diagnostic records: the os-release VERSION_ID of
// /etc/os-release (else /usr/lib/os-release), else "Linux " and the kernel release.
std::string systemOsVersion();

} // namespace brindell
