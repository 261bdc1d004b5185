#pragma once

#include "audio/AudioHardware.h"
#include "queue/SerialQueue.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

namespace brindell {

// A platform-free AudioHardware for tests: canned devices, processes that appear and exit, taps
// and aggregates it records, IO blocks it drives with chosen input (a scripted render loop), a
// failure switch per platform step, and onDeviceChange fired on a listener queue of the test's
// choosing. All operations are thread-safe; IO blocks may be driven from any thread.
class FakeAudioHardware final : public AudioHardware {
public:
    // The platform steps behind the interface, each with its own failure switch.
    enum class Op {
        createTap,           // "CreateProcessTap"
        readTapUID,          // "string property" (createTap)
        destroyTap,          // "DestroyProcessTap"
        createAggregate,     // "CreateAggregateDevice"
        destroyAggregate,    // "DestroyAggregateDevice"
        createIOProc,        // "CreateIOProcIDWithBlock"
        startDevice,         // "AudioDeviceStart"
        stopDevice,          // "AudioDeviceStop"
        destroyIOProc,       // "AudioDeviceDestroyIOProcID"
        processObject,       // "TranslatePIDToProcessObject"
        defaultOutputDevice, // "DefaultOutputDevice"
        readDefaultUID,      // "string property" (defaultOutputDeviceUID)
        deviceListSize,      // "list size" (outputDevices)
        deviceList,          // "list" (outputDevices)
        tapListSize,         // "list size" (listTaps)
        tapList,             // "list" (listTaps)
    };
    static const char* operationName(Op op);

    struct Device {
        std::string uid;
        std::string name;
        DeviceTransport transport = DeviceTransport::virtual_;
        std::int64_t outputChannels = 2;
        bool alive = true;
    };

    struct Tap {
        AudioObjectID objectID = 0;
        AudioObjectID processObject = 0; // 0 for injected leftovers
        std::string name;
        std::string uid;
        bool muted = false;
    };

    struct Aggregate {
        AudioObjectID objectID = 0;
        AggregateSpec request;
    };

    // listenerQueue: where onDeviceChange is called; none calls it on the thread that made the
    // change.
    explicit FakeAudioHardware(std::shared_ptr<SerialQueue> listenerQueue = nullptr);
    ~FakeAudioHardware() override;

    // --- scripting the system -------------------------------------------------------------
    AudioObjectID addDevice(Device device);    // reports a device change
    void removeDevice(const std::string& uid); // reports a device change
    void setDeviceAlive(const std::string& uid, bool alive);
    void setDefaultOutput(std::optional<std::string> uid); // reports a device change
    // The audio server went away (false) or came back; reports a device change.
    void setServerReachable(bool reachable);

    AudioObjectID addProcess(pid_type pid); // a fresh process object id
    void removeProcess(pid_type pid);       // the process exited
    // Where another program routed the process (none: the default output); reports a device
    // change, as the platform does.
    void setRoutedOutput(pid_type pid, std::optional<std::string> uid);
    // What the process plays: a constant sample value on every channel (0: silence).
    void setProcessSignal(pid_type pid, float amplitude);

    // Leftovers of an earlier run, for sweep tests.
    AudioObjectID injectTap(const std::string& name);
    AudioObjectID injectAggregate(const std::string& uid, const std::string& name);

    // Fails the step with status(operationName(op), code), `times` times or, with -1, until
    // cleared.
    void fail(Op op, std::int32_t code = -5, int times = -1);
    void clearFailures();

    // --- the scripted render loop ---------------------------------------------------------
    // Runs every running IO block once (and blocks whose stop failed, which the platform may
    // still be calling): the input is one stereo buffer of `frames` frames holding the tapped
    // process's signal, the output one stereo buffer. Returns the number of blocks run.
    std::size_t renderCycle(std::size_t frames = 512);
    // Peak of the last output renderCycle produced on the aggregate, 0 when none.
    float lastOutputPeak(AudioObjectID aggregate) const;
    // What the process is heard at on its own route: its signal unless a muted tap holds it.
    float ownRouteLevel(pid_type pid) const;

    // --- inspection -----------------------------------------------------------------------
    std::vector<Tap> taps() const;
    std::vector<Aggregate> aggregates() const;
    std::vector<IOHandle> runningIO() const;
    std::size_t strayIOCount() const; // blocks whose stop failed and that may still run
    std::vector<Op> calls() const;    // platform steps made, in order
    std::size_t callCount(Op op) const;
    void clearCalls();

    // --- AudioHardware --------------------------------------------------------------------
    void setOnDeviceChange(DeviceChangeCallback callback) override;
    DeviceChangeCallback onDeviceChange() const override;
    TapHandle createTap(AudioObjectID processObject, const std::string& name, bool muted) override;
    void destroyTap(AudioObjectID tap) override;
    AudioObjectID createAggregate(const AggregateSpec& request) override;
    void destroyAggregate(AudioObjectID aggregate) override;
    IOHandle startIO(AudioObjectID aggregate, IOBlock block) override;
    void stopIO(const IOHandle& handle) override;
    AudioObjectID processObject(pid_type pid) override;
    std::string defaultOutputDeviceUID() override;
    std::optional<std::string> routedOutputDeviceUID(AudioObjectID processObject) override;
    std::vector<AudioDeviceInfo> outputDevices() override;
    bool isDeviceAlive(const std::string& uid) override;
    std::vector<TapListEntry> listTaps() override;
    bool isServerReachable() const override;

private:
    struct IOProc {
        AudioObjectID aggregate = 0;
        IOBlock block;
    };
    struct Failure {
        std::int32_t code = 0;
        int remaining = -1;
    };

    // These expect mutex_ held.
    void step(Op op);
    void reportDeviceChange(std::unique_lock<std::mutex>& lock);
    const Device* findDevice(const std::string& uid) const;
    void runBlock(const IOProc& proc, std::size_t frames);
    float tappedSignal(AudioObjectID aggregate) const;

    const std::shared_ptr<SerialQueue> listenerQueue_;
    mutable std::mutex mutex_;
    DeviceChangeCallback onDeviceChange_;
    AudioObjectID nextObjectID_ = 100;
    std::uint64_t nextToken_ = 1;
    bool serverReachable_ = true;
    std::vector<std::pair<AudioObjectID, Device>> devices_;
    std::optional<std::string> defaultOutput_;
    std::map<pid_type, AudioObjectID> processes_;
    std::map<pid_type, float> signals_;
    std::map<pid_type, std::string> routedOutputs_;
    std::map<AudioObjectID, Tap> taps_;
    std::map<AudioObjectID, Aggregate> aggregates_;
    std::map<std::uint64_t, IOProc> io_;
    std::vector<IOProc> strayIO_;
    std::map<AudioObjectID, float> lastPeaks_;
    std::map<Op, Failure> failures_;
    std::vector<Op> calls_;
    std::vector<float> inputScratch_;
    std::vector<float> outputScratch_;
};

} // namespace brindell
