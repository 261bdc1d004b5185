#pragma once

#include "audio/AudioHardware.h"
#include "output/ControlError.h"
#include "output/NameCollator.h"
#include "output/OutputState.h"
#include "output/SystemAudioControl.h"
#include "queue/SerialQueue.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brindell {

// The live model behind the master section: the state of the system's default output, kept
// current from the control's change reports (a burst of them becomes one refresh), the user's
// volume and default-output actions, and the outputs the user may choose from.
//
// Threading: confined to the serial queue given to start (the mixer engine's); every method
// is called there, and onChange is called there. Before start, one thread may use it alone.
// The control's reports arrive on the control's own thread and only hop to that queue.
//
// Ownership: shares the control and the hardware with their other users; callbacks it hands
// out hold it weakly, so it must be owned by a shared_ptr (use create).
class OutputDeviceController : public std::enable_shared_from_this<OutputDeviceController> {
public:
    using ChangeCallback = std::function<void(const std::optional<OutputState>&)>;

    // The coalescing interval the engine uses.
    static constexpr Seconds defaultCoalescingInterval = 0.05;

    static std::shared_ptr<OutputDeviceController>
    create(std::shared_ptr<SystemAudioControl> control, std::shared_ptr<AudioHardware> hardware,
           NameCollator collator = NameCollator());

    OutputDeviceController(const OutputDeviceController&) = delete;
    OutputDeviceController& operator=(const OutputDeviceController&) = delete;

    // Receives every newly published state, on the queue.
    void setOnChange(ChangeCallback callback) { onChange_ = std::move(callback); }

    // Detaches as stop does, then takes over the control's change reports, each coalesced into one
    // refresh `coalescing` seconds after the first of a burst, and enqueues a first refresh on the
    // queue.
    void start(std::shared_ptr<SerialQueue> queue, Seconds coalescing = defaultCoalescingInterval);

    // Detaches from the control and drops any refresh still pending from start or a report.
    void stop();

    // Reads the state now and publishes it if it differs from the last one published.
    // Errors: the control's AudioHardwareError when the default output cannot be read; the
    // state and the watched device are then left as they were.
    OutputState refresh();

    // Sets the output's volume, cleaned (audio/Volume.h), then refreshes.
    // Errors: ControlError noDefaultOutput or noSoftwareVolume; the control's
    // AudioHardwareError, with no refresh.
    void setVolume(float value);

    // The engine's mute action: with a state that has a mute control, mutes or unmutes the
    // output and refreshes. Without one, or when the system refuses, nothing changes.
    void setMuted(bool muted);

    // Makes the device the default output, then refreshes.
    // Errors: ControlError deviceUnavailable when it is not among outputs(); the control's
    // AudioHardwareError.
    void setDefaultOutput(const std::string& uid);

    // The devices the user may choose as default output, in display order: the current
    // default first, then by name in the user's language, ignoring case. Empty when the
    // device list cannot be read.
    std::vector<AudioDeviceInfo> outputs();

    const std::optional<OutputState>& state() const { return state_; }
    const std::optional<std::string>& observedUID() const { return observedUID_; }

private:
    OutputDeviceController(std::shared_ptr<SystemAudioControl> control,
                           std::shared_ptr<AudioHardware> hardware, NameCollator collator);

    void coalesceChange();
    std::string deviceName(const std::string& uid);

    const std::shared_ptr<SystemAudioControl> control_;
    const std::shared_ptr<AudioHardware> hardware_;
    const NameCollator collator_;
    std::shared_ptr<SerialQueue> queue_;
    Seconds coalescing_ = defaultCoalescingInterval;
    // Bumped by stop (and so by start), so work queued under an earlier start does nothing.
    std::uint64_t generation_ = 0;
    std::optional<OutputState> state_;
    std::optional<std::string> observedUID_;
    bool refreshPending_ = false;
    ChangeCallback onChange_;
};

} // namespace brindell
