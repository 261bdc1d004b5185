#include "app/Diagnostics.h"

#include <cstdlib>
#include <fstream>

namespace brindell {

std::string temporaryDirectory() {
    const char* dir = std::getenv("TMPDIR");
    if (dir != nullptr && *dir != '\0') {
        return dir;
    }
    return "/tmp";
}

bool writeLog(const std::string& name, const std::string& text, bool append) {
    std::ofstream out(temporaryDirectory() + "/" + name, append ? std::ios::app : std::ios::trunc);
    out << text;
    return static_cast<bool>(out.flush());
}

} // namespace brindell
