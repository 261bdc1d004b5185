// What /proc says about a process is partly chosen by the process (its command name, its
// cgroup under a delegated subtree): the stat and cgroup readers must take any bytes.
#include "sources/ApplicationIds.h"
#include "sources/ProcFileSystem.h"
#include "sources/TextCase.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)brindell::ProcFileSystem::parseStat(text);
    (void)brindell::cgroupApplicationID(text);
    (void)brindell::unitApplicationID(text);
    (void)brindell::parsePID(text);
    (void)brindell::lowerCased(text);
    (void)brindell::upperCasedFirst(text);
    return 0;
}
