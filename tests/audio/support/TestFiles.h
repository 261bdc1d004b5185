#pragma once

#include "support/ChildProcess.h"

#include <memory>
#include <string>
#include <vector>

namespace brindell::testing {

class AudioSession;

// A file's whole text; empty when it cannot be read.
std::string readFile(const std::string& path);

// The tone player as an installed application: a copy of it in a folder of its own (the build
// folder also holds the test programs, which would count as part of the application there) and
// a desktop entry naming it, in dataFolder/applications (empty: the session's XDG_DATA_HOME).
// The workspace then knows it by this id and name. Returns the copy's path.
inline constexpr const char* toneAppID = "org.example.TestTone";
inline constexpr const char* toneAppName = "Test Tone";
std::string installToneApplication(const AudioSession& session, std::string dataFolder = {});

// Starts program (a tone player) with args and waits until `streams` of its streams play (each
// tone argument is one stream).
std::unique_ptr<ChildProcess> startTone(AudioSession& session, const std::string& program,
                                        const std::vector<std::string>& args, int streams);

} // namespace brindell::testing
