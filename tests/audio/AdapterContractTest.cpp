#include "unit/audio/AdapterContract.h"

#include "audio/pipewire/PipeWireHardware.h"
#include "output/pipewire/PipeWireSystemControl.h"
#include "support/AudioSession.h"
#include "support/TestSupport.h"

#include <map>

namespace brindell {
namespace {

using testing::AudioSession;
using testing::ChildProcess;

// The real world: pw-play clients on a private session; time passes by waiting.
struct SessionRig : contract::Rig {
    AudioSession session;
    std::map<pid_type, std::unique_ptr<ChildProcess>> players;

    pid_type startPlayer() override {
        auto player = session.pwPlay();
        const auto pid = static_cast<pid_type>(player->pid());
        players[pid] = std::move(player);
        return pid;
    }
    void stopPlayer(pid_type pid) override { players.erase(pid); }
    bool eventually(const std::function<bool()>& condition) override {
        return testing::waitUntil(condition, std::chrono::seconds(10));
    }
};

TEST(AdapterContract, PipeWireHardware) {
    SessionRig rig;
    PipeWireHardware hw;
    ASSERT_TRUE(hw.isConnected()) << rig.session.logs();
    contract::checkAudioHardware(hw, rig);
}

TEST(AdapterContract, PipeWireSystemControl) {
    SessionRig rig;
    const auto control = PipeWireSystemControl::create(std::make_shared<PipeWireHardware>());
    ASSERT_TRUE(control->isConnected()) << rig.session.logs();
    contract::checkSystemAudioControl(*control, AudioSession::headphones, rig);
}

} // namespace
} // namespace brindell
