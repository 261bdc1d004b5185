#pragma once

#include "output/SystemAudioControl.h"
#include "queue/SerialQueue.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace brindell {

// A platform-free SystemAudioControl for tests: a table of devices with or without volume and
// mute control, a default output, a failure switch per operation, and change reports fired on
// a listener queue of the test's choosing, as the audio server would: for the default output
// and the device list always, for volume and mute only while the device is watched. Its own
// setters report their change too, as the server does after every accepted write.
// All operations are thread-safe.
class FakeSystemAudioControl final : public SystemAudioControl {
public:
    enum class Op {
        readDefaultOutput, // defaultOutputUID: status("DefaultOutputDevice")
        setDefaultOutput,  // status("SetDefaultOutput")
        setVolume,         // status("SetVolume")
        setMute,           // status("SetMute")
    };
    static const char* operationName(Op op);

    struct Device {
        std::string uid;
        std::optional<float> volume = 1.0f; // none: no software volume
        std::optional<bool> muted = false;  // none: no settable mute
        std::string mainSubDevice;          // non-empty: the device combines others
        int volumeReports = 1;              // reports one volume change makes (one per channel)
    };

    // listenerQueue: where change reports are delivered; none delivers them on the thread
    // that made the change, after the fake's lock is released.
    explicit FakeSystemAudioControl(std::shared_ptr<SerialQueue> listenerQueue = nullptr);
    ~FakeSystemAudioControl() override;

    // --- scripting the system -------------------------------------------------------------
    void addDevice(Device device);                         // reports a device-list change
    void removeDevice(const std::string& uid);             // reports a device-list change
    void setSystemDefault(std::optional<std::string> uid); // reports a default-output change
    // Another program changes the device's volume or mute (the external route, no failures).
    void changeVolume(const std::string& uid, float volume);
    void changeMute(const std::string& uid, bool muted);
    // Fires one change report, as an unrelated system event would.
    void reportChange();

    // Fails the operation with status(operationName(op), code), `times` times
    // or, with -1, until cleared.
    void fail(Op op, std::int32_t code = -5, int times = -1);
    void clearFailures();

    // --- inspection -----------------------------------------------------------------------
    std::optional<Device> device(const std::string& uid) const;
    std::optional<std::string> systemDefault() const;
    std::optional<std::string> observedDevice() const;
    bool hasOnChange() const;
    // Calls of the interface operation of that name: the setters, defaultOutputUID and
    // observeDevice.
    std::size_t callCount(const std::string& operation) const;
    void clearCalls();

    // --- SystemAudioControl ---------------------------------------------------------------
    void setOnChange(ChangeCallback callback) override;
    std::string defaultOutputUID() override;
    void setDefaultOutput(const std::string& uid) override;
    std::string mainDeviceUID(const std::string& uid) override;
    std::optional<float> volume(const std::string& uid) override;
    void setVolume(const std::string& uid, float value) override;
    std::optional<bool> isMuted(const std::string& uid) override;
    void setMuted(const std::string& uid, bool muted) override;
    void observeDevice(const std::optional<std::string>& uid) override;
    void stopObservingDevice() override;

private:
    struct Failure {
        std::int32_t code = 0;
        int remaining = -1;
    };

    // These expect mutex_ held.
    void record(const char* operation);
    void step(Op op); // throws the failure, if one is set
    Device* find(const std::string& uid);
    void report(std::unique_lock<std::mutex>& lock, int times = 1);
    void reportIfObserved(std::unique_lock<std::mutex>& lock, const std::string& uid, int times);

    const std::shared_ptr<SerialQueue> listenerQueue_;
    mutable std::mutex mutex_;
    ChangeCallback onChange_;
    std::vector<Device> devices_;
    std::optional<std::string> default_;
    std::optional<std::string> observed_;
    std::map<Op, Failure> failures_;
    std::map<std::string, std::size_t> calls_;
};

} // namespace brindell
