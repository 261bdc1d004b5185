#pragma once

#include <string>
#include <vector>

// `brindell ctl`: the command line of the scriptable control. Qt-free, so the executable's main
// needs nothing of Qt.
namespace brindell {

// Runs one command (the arguments after "ctl") against the running Brindell on the session
// bus. Prints results on standard output and one message on standard error when it fails.
// Returns 0 on success, 1 when no Brindell is running (or it does not answer), 2 on bad input;
// on 2 nothing has changed.
int runControl(const std::vector<std::string>& args);

} // namespace brindell
