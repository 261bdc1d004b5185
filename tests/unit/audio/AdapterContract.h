#pragma once

// What the unit tests rely on the fakes for, checked against the PipeWire adapters on a private
// session (audio tier): one body per interface, run on a rig the test makes.

#include "audio/AudioHardware.h"
#include "audio/AudioHardwareError.h"
#include "output/SystemAudioControl.h"
#include "tapengine/RenderCallback.h"
#include "tapengine/TapIOState.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace brindell::contract {

// The world around an adapter: players to tap, and time passing.
struct Rig {
    virtual ~Rig() = default;
    // A process playing a tone on the default output; its pid.
    virtual pid_type startPlayer() = 0;
    virtual void stopPlayer(pid_type pid) = 0;
    // Lets time pass (the fake: runs its queues and a render cycle) until condition holds;
    // false when it never does.
    virtual bool eventually(const std::function<bool()>& condition) = 0;
};

inline bool isNoSuchObject(const std::function<void()>& call) {
    try {
        call();
    } catch (const AudioHardwareError& e) {
        return e.kind() == AudioHardwareError::Kind::noSuchObject;
    }
    return false;
}

// A process's object while it plays and noSuchObject once it exited; the default output listed
// and alive; a chain (tap, private aggregate, IO) that renders, is listed as private, stops
// once and leaves nothing listed.
inline void checkAudioHardware(AudioHardware& hw, Rig& rig) {
    const pid_type pid = rig.startPlayer();
    AudioObjectID process = 0;
    ASSERT_TRUE(
        rig.eventually([&] { return !isNoSuchObject([&] { process = hw.processObject(pid); }); }));

    const std::string output = hw.defaultOutputDeviceUID();
    const auto listed = [&](const std::function<bool(const AudioDeviceInfo&)>& match) {
        const auto devices = hw.outputDevices();
        return std::any_of(devices.begin(), devices.end(), match);
    };
    EXPECT_TRUE(listed([&](const AudioDeviceInfo& d) {
        return d.uid == output && d.outputChannels > 0 && !d.isPrivateAggregate;
    }));
    EXPECT_TRUE(hw.isDeviceAlive(output));
    EXPECT_FALSE(hw.isDeviceAlive("no-such-device"));

    const TapHandle tap = hw.createTap(process, "Brindell contract", true);
    const AudioObjectID aggregate = hw.createAggregate(
        {"com.quorvel.Brindell.agg.contract", "Brindell contract", output, tap.uid});
    EXPECT_TRUE(rig.eventually([&] {
        return listed([&](const AudioDeviceInfo& d) {
            return d.objectID == aggregate && d.isPrivateAggregate;
        });
    }));
    TapIOState state(1.0f, false);
    state.memory()->passthrough = 1;
    const IOHandle io = hw.startIO(aggregate, makeTapIOBlock(state.memory()));
    EXPECT_TRUE(rig.eventually([&] { return state.memory()->nonzeroBuffers.load() > 0; }));
    hw.stopIO(io);
    EXPECT_TRUE(isNoSuchObject([&] { hw.stopIO(io); }));
    hw.destroyAggregate(aggregate);
    hw.destroyTap(tap.objectID);
    EXPECT_TRUE(rig.eventually([&] {
        return !listed([&](const AudioDeviceInfo& d) { return d.objectID == aggregate; });
    }));

    rig.stopPlayer(pid);
    EXPECT_TRUE(rig.eventually([&] { return isNoSuchObject([&] { hw.processObject(pid); }); }));
}

// Round trips of volume, mute and the default output; changes of the watched device reported;
// an unknown device has no volume or mute and cannot be set.
inline void checkSystemAudioControl(SystemAudioControl& control, const std::string& other,
                                    Rig& rig) {
    std::atomic<int> changes{0};
    control.setOnChange([&changes] { ++changes; });
    const std::string output = control.defaultOutputUID();
    EXPECT_EQ(control.mainDeviceUID(output), output);
    control.observeDevice(output);

    control.setVolume(output, 0.25f);
    EXPECT_TRUE(rig.eventually([&] {
        const auto v = control.volume(output);
        return v && std::fabs(*v - 0.25f) < 0.01f;
    }));
    EXPECT_TRUE(rig.eventually([&] { return changes.load() > 0; }));
    control.setMuted(output, true);
    EXPECT_TRUE(rig.eventually([&] { return control.isMuted(output) == true; }));
    control.setMuted(output, false);
    EXPECT_TRUE(rig.eventually([&] { return control.isMuted(output) == false; }));

    EXPECT_EQ(control.volume("no-such-device"), std::nullopt);
    EXPECT_EQ(control.isMuted("no-such-device"), std::nullopt);
    EXPECT_TRUE(isNoSuchObject([&] { control.setVolume("no-such-device", 0.5f); }));
    EXPECT_TRUE(isNoSuchObject([&] { control.setMuted("no-such-device", true); }));
    EXPECT_TRUE(isNoSuchObject([&] { control.setDefaultOutput("no-such-device"); }));

    control.setDefaultOutput(other);
    EXPECT_TRUE(rig.eventually([&] { return control.defaultOutputUID() == other; }));
    control.setOnChange({});
}

} // namespace brindell::contract
