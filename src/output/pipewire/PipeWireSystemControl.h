#pragma once

#include "audio/AudioRecords.h"
#include "output/SystemAudioControl.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brindell {

class PipeWireGraph;
class PipeWireHardware;

// The production SystemAudioControl, on PipeWire with WirePlumber as session manager.
//
// - default output: the node.name in default.audio.sink of the "default" metadata. A new choice
//   is written as the user's own, to default.configured.audio.sink as {"name": "..."}, so that
//   WirePlumber makes it the default and remembers it;
// - main device: a per-app sink of Brindell's names the device its audio goes on to; any other
//   device is its own main device;
// - volume and mute: the level every desktop mixer shows (the cube root of the linear channel
//   volumes), on the device's Route when the sink belongs to a device with routes, else on the
//   node's Props. A sink with neither has no software volume (volume none).
//
// It uses a connection to the server, with its loop thread (the listener thread): the
// application's shared one, or one of its own. The default output and the device list are watched
// from the registry and the metadata, the watched device's volume and mute from its parameters. A
// device id is found with the given lookup (the hardware adapter's deviceID) and checked against
// this connection's view of the graph.
//
// Threading: as SystemAudioControl. The operations wait for the server (bounded by the
// timeout) and must not be called on the listener thread: there the getters read none and the
// setters fail with status(operation, -EDEADLK). The change callback runs on the listener
// thread. A watched device that vanishes is watched again when a device of that UID comes back.
class PipeWireSystemControl final : public SystemAudioControl {
public:
    // The device node of a UID, none when there is none. Called on the caller's thread.
    using DeviceLookup = std::function<std::optional<AudioObjectID>(const std::string& uid)>;

    struct Options {
        std::string remote;   // the server's socket; empty: $PIPEWIRE_REMOTE, else pipewire-0
        double timeout = 5.0; // the longest one operation waits for the server, seconds
        // How long setDefaultOutput waits for the session manager to make the choice the
        // default, seconds. Not following within it is no error: the change report follows.
        double defaultFollowTimeout = 1.0;
        // The connection shared with the other adapters, not yet started; none: one of its own.
        std::shared_ptr<PipeWireGraph> graph;
    };

    // The control the program uses: UIDs resolved with the hardware adapter's lookup. The
    // adapter is held weakly; once it is gone this connection's own view answers alone.
    static std::shared_ptr<PipeWireSystemControl> create(std::shared_ptr<PipeWireHardware> hardware,
                                                         Options options);
    static std::shared_ptr<PipeWireSystemControl>
    create(std::shared_ptr<PipeWireHardware> hardware);

    // Connects and waits, up to the timeout, until the graph and the metadata are in; on a shared
    // connection it waits for nothing. Without a server it returns at once and keeps trying in
    // the background. An empty lookup uses this connection's view.
    PipeWireSystemControl(DeviceLookup lookup, Options options);
    ~PipeWireSystemControl() override; // stops the listeners, then closes the connection

    PipeWireSystemControl(const PipeWireSystemControl&) = delete;
    PipeWireSystemControl& operator=(const PipeWireSystemControl&) = delete;

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

    // Whether the connection is up and the graph mirrored.
    bool isConnected() const;
    // The UID whose volume and mute are watched (also while its device is away).
    std::optional<std::string> observedUID() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace brindell
