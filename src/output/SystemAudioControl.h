#pragma once

#include "audio/AudioHardwareError.h"

#include <functional>
#include <optional>
#include <string>

namespace brindell {

// The system mixer's default output: which device it is, its volume and its mute. The master
// section of the panel goes through this, never through the per-app taps.
//
// Volumes are the level every desktop mixer shows for the device, 0 to 1: on PipeWire the cube
// root of the sink's linear channel volume (read and written on the device's Route when the
// sink has one, else on the node's Props). A device that is over-amplified reads as 1.
//
// Threading: the getters and setters are synchronous calls made on the caller's thread, which
// is the owner's serial queue (the mixer engine's); they may block briefly on the audio
// server. observeDevice, stopObservingDevice and setOnChange are called from that same queue.
// The change callback runs on the implementation's own listener thread or queue, never on the
// caller's queue: the receiver hops to its own queue and must not block there.
//
// Errors are AudioHardwareError values: status(operation, code) with the operation names
// "DefaultOutputDevice", "SetDefaultOutput", "SetVolume" and "SetMute", or noSuchObject.
class SystemAudioControl {
public:
    using ChangeCallback = std::function<void()>;

    virtual ~SystemAudioControl() = default;

    // Called, without arguments, after the default output, the device list, or the watched
    // device's volume or mute changed; one change may be reported several times (for example
    // once per channel). An empty callback stops the calls. Once this returns, the previous
    // callback is not started again; a call already running may still finish, so callbacks
    // hold their target weakly.
    virtual void setOnChange(ChangeCallback callback) = 0;

    // UID of the system's default output device.
    // Errors: status("DefaultOutputDevice") when it cannot be read; noSuchObject when there is
    // no default output or its UID cannot be read.
    virtual std::string defaultOutputUID() = 0;

    // Makes the device the default output (and the output of system sounds where the system
    // keeps one apart). No rollback when only the second write fails.
    // Errors: noSuchObject when the UID names no device; status("SetDefaultOutput").
    virtual void setDefaultOutput(const std::string& uid) = 0;

    // For a device that combines others, the non-empty UID of its main sub-device; otherwise
    // the UID given. Never throws.
    virtual std::string mainDeviceUID(const std::string& uid) = 0;

    // The device's volume, 0 to 1; none when it has no software volume, is unknown, or no
    // value can be read. Never throws.
    virtual std::optional<float> volume(const std::string& uid) = 0;

    // Writes the volume on every channel the device's volume control has. The caller passes a
    // value already cleaned to 0 to 1.
    // Errors: noSuchObject when the UID is unknown or the device has no software volume;
    // status("SetVolume") at the first failing write.
    virtual void setVolume(const std::string& uid, float value) = 0;

    // Whether the device is muted; none unless it has a settable mute that can be read.
    // Never throws.
    virtual std::optional<bool> isMuted(const std::string& uid) = 0;

    // Errors: noSuchObject when the UID is unknown; status("SetMute") when the write fails.
    virtual void setMuted(const std::string& uid, bool muted) = 0;

    // Replaces the watched device: stops watching the old one, then watches the volume and
    // mute of this one. None, or a UID that names no device, leaves nothing watched. A
    // property that cannot be watched is left unwatched silently.
    virtual void observeDevice(const std::optional<std::string>& uid) = 0;

    // Stops watching the device's volume and mute. The default output and the device list stay
    // watched for the life of the control.
    virtual void stopObservingDevice() = 0;
};

} // namespace brindell
