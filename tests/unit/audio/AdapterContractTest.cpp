#include "unit/audio/AdapterContract.h"

#include "audio/fake/FakeAudioHardware.h"
#include "output/fake/FakeSystemAudioControl.h"
#include "queue/DeterministicQueue.h"

namespace brindell {
namespace {

// The fakes' world: processes are added and removed by hand; time passes as queued reports and
// render cycles.
struct FakeRig : contract::Rig {
    DeterministicScheduler scheduler;
    std::shared_ptr<DeterministicQueue> listeners = scheduler.makeQueue("listeners");
    FakeAudioHardware hw{listeners};
    FakeSystemAudioControl control{listeners};

    FakeRig() {
        hw.addDevice({"speakers", "Speakers", DeviceTransport::builtIn, 2, true});
        hw.setDefaultOutput("speakers");
        control.addDevice({"speakers", 0.5f, false, "", 2});
        control.addDevice({"headphones", 0.5f, false, "", 1});
        control.setSystemDefault("speakers");
    }
    pid_type startPlayer() override {
        hw.addProcess(4242);
        hw.setProcessSignal(4242, 0.5f);
        return 4242;
    }
    void stopPlayer(pid_type pid) override { hw.removeProcess(pid); }
    bool eventually(const std::function<bool()>& condition) override {
        scheduler.runPending();
        hw.renderCycle();
        return condition();
    }
};

TEST(AdapterContract, FakeAudioHardware) {
    FakeRig rig;
    contract::checkAudioHardware(rig.hw, rig);
}

TEST(AdapterContract, FakeSystemAudioControl) {
    FakeRig rig;
    contract::checkSystemAudioControl(rig.control, "headphones", rig);
}

} // namespace
} // namespace brindell
