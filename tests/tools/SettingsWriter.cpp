// Saves the per-app settings document over and over until it is killed, for the test that kills
// writers at random moments. Usage: settings_writer DIRECTORY
//
// Save number i holds the applications "app.0" ... "app.(i % 64)", each routed to a device
// whose UID names i and with volume (i % 97 + 1) / 100, so a reader can tell a whole document
// from a mix of two. After the first save it writes "ready\n" to stdout.

#include "settings/AppSettingsStore.h"
#include "settings/FileSettingsStorage.h"
#include "settings/SettingsKeys.h"

#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

// Long enough that a document spans several blocks and a save takes measurable time.
const std::string padding(200, 'x');

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: settings_writer DIRECTORY\n");
        return 2;
    }
    using namespace brindell;
    auto storage =
        std::make_shared<FileSettingsStorage>(argv[1], std::string(settingsKeys::perAppSettings));
    AppSettingsStore store(storage);
    for (long i = 0;; ++i) {
        store.apps().clear();
        const std::string uid = "device-" + std::to_string(i) + "-" + padding;
        const float volume = static_cast<float>(i % 97 + 1) / 100.0f;
        for (long app = 0; app <= i % 64; ++app) {
            const std::string bundleID = "app." + std::to_string(app);
            store.setOutput(uid, bundleID, false);
            store.setVolume(volume, bundleID, false);
        }
        store.flush();
        if (store.dirty()) {
            std::fprintf(stderr, "settings_writer: save failed: %s\n",
                         storage->lastError().c_str());
            return 1;
        }
        if (i == 0) {
            static const char ready[] = "ready\n";
            if (::write(STDOUT_FILENO, ready, sizeof ready - 1) < 0) {
                return 1;
            }
        }
    }
}
