// Feeds arbitrary arguments to the control's command line and value grammar and checks what
// must hold for any input: no crash, only the control's own refusal, and every accepted volume
// within range, so nothing out of range can reach the mixer.

#include "FuzzRequire.h"
#include "control/ControlCommand.h"
#include "control/ControlReport.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace brindell;

void checkVolume(const VolumeChange& change) {
    require(std::isfinite(change.amount), "a finite volume");
    if (change.relative) {
        require(change.amount >= -1.0 && change.amount <= 1.0, "a change within -1...1");
    } else {
        require(change.amount >= 0.0 && change.amount <= 1.0, "a volume within 0...1");
    }
    for (const double current : {0.0, 0.5, 1.0}) {
        const double applied = change.appliedTo(current);
        require(applied >= 0.0 && applied <= 1.0, "an applied volume within 0...1");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Arguments are separated by NUL bytes, as in argv.
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.emplace_back();
        } else {
            args.back() += static_cast<char>(data[i]);
        }
    }
    try {
        checkVolume(parseVolume(args.front()));
    } catch (const ControlRequestError& error) {
        require(error.kind() == ControlRequestError::Kind::invalidArgument, "a bad volume kind");
    }
    try {
        const ControlCommand command = parseControlCommand(args);
        checkVolume(command.volume);
    } catch (const ControlRequestError& error) {
        require(error.kind() == ControlRequestError::Kind::invalidArgument, "a bad command kind");
    }
    // Whatever the names, the reports stay printable JSON.
    std::vector<ControlApp> apps(1);
    apps[0].name = args.front();
    apps[0].bundleID = args.back();
    (void)jsonText(appsJson(apps));
    (void)appsTable(apps, {});
    return 0;
}
