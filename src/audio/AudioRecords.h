#pragma once

#include <cstdint>
#include <string>

namespace brindell {

// Platform audio object id; 0 means no object.
using AudioObjectID = std::uint32_t;
using pid_type = std::int32_t;

// Linux hands out no pid above PID_MAX_LIMIT. A process the audio system cannot vouch for (a
// client in another pid namespace whose host pid is unknown) gets an identity at or above
// firstClientIdentity instead: unique per client, never a host pid, never looked up in /proc.
inline constexpr pid_type hostPIDLimit = 4'194'304;
inline constexpr pid_type firstClientIdentity = pid_type{1} << 30;
constexpr bool isHostPID(pid_type pid) {
    return pid > 0 && pid <= hostPIDLimit;
}

// A created process tap.
struct TapHandle {
    AudioObjectID objectID = 0;
    std::string uid; // the tapUID of the aggregate that reads this tap
    friend bool operator==(const TapHandle&, const TapHandle&) = default;
};

// A started IO procedure. Tokens start at 1, grow by 1 per successful startIO and are never
// reused.
struct IOHandle {
    AudioObjectID aggregate = 0;
    std::uint64_t token = 0;
    friend bool operator==(const IOHandle&, const IOHandle&) = default;
};

// What createAggregate builds.
struct AggregateSpec {
    std::string uid;
    std::string name;
    std::string outputDeviceUID; // the aggregate's main and only sub-device
    std::string tapUID;          // its only tap
    friend bool operator==(const AggregateSpec&, const AggregateSpec&) = default;
};

enum class DeviceTransport {
    builtIn,
    usb,
    bluetooth,
    hdmi,
    displayPort,
    airPlay,
    virtual_,
    aggregate,
    other,
};

// The case name, as it reads in messages and logs ("virtual" for virtual_).
const char* toString(DeviceTransport transport);

// One device of the system's device list.
struct AudioDeviceInfo {
    AudioObjectID objectID = 0;
    std::string uid;
    std::string name;                // empty when it cannot be read
    bool isPrivateAggregate = false; // exactly transport == aggregate
    DeviceTransport transport = DeviceTransport::other;
    std::int64_t outputChannels = 0; // 0 for input-only devices and unreadable configurations
    friend bool operator==(const AudioDeviceInfo&, const AudioDeviceInfo&) = default;
};

// One tap of listTaps.
struct TapListEntry {
    AudioObjectID objectID = 0;
    std::string name;
    friend bool operator==(const TapListEntry&, const TapListEntry&) = default;
};

} // namespace brindell
