#pragma once

#include <string>

namespace brindell {

// Where diagnostic logs and snapshot defaults go: $TMPDIR, else /tmp.
std::string temporaryDirectory();

// Writes text to the named log in the temporary directory, appending or replacing it. False when
// it cannot be written.
bool writeLog(const std::string& name, const std::string& text, bool append = true);

} // namespace brindell
