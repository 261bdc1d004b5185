#pragma once

#include "audio/AudioBuffers.h"
#include "audio/AudioHardwareError.h"
#include "audio/AudioRecords.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace brindell {

// The one narrow interface over the platform's audio hardware: process taps, per-app aggregate
// devices, real-time IO procedures, process objects and the device list.
//
// Threading: startIO and stopIO may be called from any thread (the implementation guards its
// procedure table with a lock). Every other operation keeps no shared state and is called from
// the owner's serial queue. onDeviceChange is called on the implementation's own serial listener
// queue, never on the main thread; the receiver hops to its own queue.
//
// Objects created here are not tracked by the interface: the caller keeps the handles and
// destroys them in reverse order of creation (IO procedure, aggregate, tap).
class AudioHardware {
public:
    using DeviceChangeCallback = std::function<void()>;

    virtual ~AudioHardware() = default;

    // Called whenever the device list or the default output changes; none stops the calls.
    virtual void setOnDeviceChange(DeviceChangeCallback callback) = 0;
    virtual DeviceChangeCallback onDeviceChange() const = 0;

    // A private tap on exactly this process object, delivering its output as stereo. muted:
    // the process's own output is silenced while the tap exists; otherwise it stays audible on
    // its own route. A failed createTap leaves nothing behind.
    // Errors: status("CreateProcessTap"), status("string property").
    virtual TapHandle createTap(AudioObjectID processObject, const std::string& name,
                                bool muted) = 0;
    // Errors: status("DestroyProcessTap").
    virtual void destroyTap(AudioObjectID tap) = 0;

    // A private aggregate device whose only sub-device is request.outputDeviceUID and whose only
    // tap is request.tapUID. Errors: status("CreateAggregateDevice").
    virtual AudioObjectID createAggregate(const AggregateSpec& request) = 0;
    // Errors: status("DestroyAggregateDevice").
    virtual void destroyAggregate(AudioObjectID aggregate) = 0;

    // Registers block as the device's IO procedure and starts the device. A failed start
    // destroys the procedure and uses up no token. The block runs on the device's real-time
    // thread until stopIO. Errors: status("CreateIOProcIDWithBlock"),
    // status("AudioDeviceStart").
    virtual IOHandle startIO(AudioObjectID aggregate, IOBlock block) = 0;
    // Forgets the token first (unknown: noSuchObject, no platform call), then always stops and
    // destroys; a stop failure is reported before a destroy failure. After a successful stopIO
    // the block is not running and never runs again. Errors: status("AudioDeviceStop"),
    // status("AudioDeviceDestroyIOProcID"), noSuchObject.
    virtual void stopIO(const IOHandle& handle) = 0;

    // Errors: noSuchObject when the pid has no process object (taken as: it exited),
    // status("TranslatePIDToProcessObject").
    virtual AudioObjectID processObject(pid_type pid) = 0;

    // Errors: noSuchObject when there is no default output, status("DefaultOutputDevice"),
    // status("string property").
    virtual std::string defaultOutputDeviceUID() = 0;

    // The output another program routed the process's playback to (the user's choice in another
    // mixer, kept by the system for the app, or the app's own), none when it follows the default
    // output. The routing this interface's own taps make is never such a choice. Never throws.
    virtual std::optional<std::string> routedOutputDeviceUID(AudioObjectID processObject) = 0;

    // Every device in the system's order, aggregates and input-only devices included; a device
    // without a readable UID is left out. Errors: status("list size"), status("list").
    virtual std::vector<AudioDeviceInfo> outputDevices() = 0;

    // True only when the UID maps to a device that reports itself alive. Never throws.
    virtual bool isDeviceAlive(const std::string& uid) = 0;

    // Errors: status("list size"), status("list").
    virtual std::vector<TapListEntry> listTaps() = 0;

    // False while the audio server cannot be reached; a change is reported as a device change.
    // Never waits and never throws; hardware without a server is always reachable.
    virtual bool isServerReachable() const { return true; }
};

} // namespace brindell
