#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brindell {

// What the command line asks for. Diagnostic switches replace the normal launch.
struct CommandLine {
    enum class Mode { launch, help, version, callbackBench, crashTest, autoProof, cycleTest };
    Mode mode = Mode::launch;
    std::string crashTestAction; // --crashtest: "" (show stored crashes) or "crash"
    // --autoproof: the process to prove on; none picks the first other process playing audio.
    std::optional<std::int32_t> proofPid;
    int cycles = 0; // --cycletest N
};

// Parses argv (without the program name). Throws std::invalid_argument with a message for the
// user on an unknown switch or a bad argument.
CommandLine parseCommandLine(const std::vector<std::string>& args);

std::string helpText();

} // namespace brindell
