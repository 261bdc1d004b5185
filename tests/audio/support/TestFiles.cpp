#include "support/TestFiles.h"

#include "support/AudioSession.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace brindell::testing {

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string installToneApplication(const AudioSession& session, std::string dataFolder) {
    namespace fs = std::filesystem;
    const std::string program = session.folder() + "/opt/test-tone/brindell-tone";
    fs::create_directories(fs::path(program).parent_path());
    fs::copy_file(BRINDELL_TONE_TOOL, program, fs::copy_options::overwrite_existing);
    if (dataFolder.empty()) {
        dataFolder = session.environment().at("XDG_DATA_HOME");
    }
    fs::create_directories(dataFolder + "/applications");
    std::ofstream(dataFolder + "/applications/" + toneAppID + ".desktop")
        << "[Desktop Entry]\nType=Application\nName=" << toneAppName
        << "\nIcon=audio-x-generic\nExec=" << program << " 440:0.5\n";
    return program;
}

std::unique_ptr<ChildProcess> startTone(AudioSession& session, const std::string& program,
                                        const std::vector<std::string>& args, int streams) {
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    auto player = session.run(argv, true, true);
    for (int i = 0; i < streams; ++i) {
        if (!player->waitForLine("streaming", std::chrono::seconds(10))) {
            throw std::runtime_error("the tone player did not start playing");
        }
    }
    return player;
}

} // namespace brindell::testing
