#include "audio/pipewire/GraphMirror.h"

#include "sources/ProcFileSystem.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fcntl.h>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <tuple>
#include <unistd.h>

namespace brindell {

namespace {

std::string_view prop(const GraphMirror::Properties& props, std::string_view key) {
    auto it = props.find(key);
    return it == props.end() ? std::string_view{} : std::string_view{it->second};
}

template <typename Int> std::optional<Int> parseInt(std::string_view text) {
    Int value{};
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::string lower(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

bool isTrue(std::string_view value) {
    return value == "true" || value == "1";
}

enum class DeviceRole { none, sink, source, duplex };

DeviceRole deviceRole(const GraphMirror::Object& object) {
    if (object.kind != GraphMirror::Kind::node) {
        return DeviceRole::none;
    }
    const std::string_view mediaClass = prop(object.props, "media.class");
    if (startsWith(mediaClass, "Audio/Sink")) {
        return DeviceRole::sink;
    }
    if (startsWith(mediaClass, "Audio/Duplex")) {
        return DeviceRole::duplex;
    }
    if (startsWith(mediaClass, "Audio/Source")) {
        return DeviceRole::source;
    }
    return DeviceRole::none;
}

// Channel positions, "FL,FR" or "[ FL FR ]" -> 2.
std::int64_t positionCount(std::string_view positions) {
    std::int64_t count = 0;
    bool inToken = false;
    for (char c : positions) {
        const bool separator = c == ',' || c == '[' || c == ']' || c == ' ' || c == '\t';
        if (!separator && !inToken) {
            ++count;
        }
        inToken = !separator;
    }
    return count;
}

} // namespace

GraphMirror::GraphMirror(ProcessProbe isRunning, ProgramProbe isProgram)
    : isRunning_(std::move(isRunning)), isProgram_(std::move(isProgram)) {
    if (!isRunning_) {
        isRunning_ = [](pid_type) { return false; };
    }
    if (!isProgram_) {
        isProgram_ = [](pid_type, std::string_view) { return false; };
    }
}

bool GraphMirror::processRunsProgram(pid_type pid, std::string_view binary) {
    static const ProcFileSystem proc;
    return processIsRunning(pid) && proc.runsProgram(pid, binary);
}

bool GraphMirror::processIsRunning(pid_type pid) {
    if (!isHostPID(pid)) {
        return false;
    }
    // Plain reads: this runs on the loop thread for every held process.
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    std::string stat;
    char buffer[512];
    for (ssize_t got = 0; (got = ::read(fd, buffer, sizeof buffer)) > 0;) {
        stat.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    // "pid (comm) S ...": the name may hold parentheses, the state follows the last one.
    const auto close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size()) {
        return false;
    }
    const char state = stat[close + 2];
    return state != 'Z' && state != 'X' && state != 'x';
}

void GraphMirror::add(Kind kind, std::uint32_t id, Properties props) {
    Object object;
    object.kind = kind;
    object.id = id;
    object.serial = parseInt<std::uint64_t>(prop(props, "object.serial")).value_or(0);
    object.props = std::move(props);
    objects_[id] = std::move(object);
    if (kind == Kind::node || kind == Kind::client) {
        recountProcesses();
    }
}

void GraphMirror::updateProperties(std::uint32_t id, const Properties& props) {
    auto it = objects_.find(id);
    if (it == objects_.end()) {
        return;
    }
    for (const auto& [key, value] : props) {
        it->second.props[key] = value;
    }
    if (it->second.kind == Kind::node || it->second.kind == Kind::client) {
        recountProcesses();
    }
}

void GraphMirror::setFailed(std::uint32_t id, bool failed) {
    auto it = objects_.find(id);
    if (it != objects_.end()) {
        it->second.failed = failed;
    }
}

void GraphMirror::setRunning(std::uint32_t id, bool running) {
    auto it = objects_.find(id);
    if (it != objects_.end()) {
        it->second.running = running;
    }
}

void GraphMirror::remove(std::uint32_t id) {
    auto it = objects_.find(id);
    if (it == objects_.end()) {
        return;
    }
    const Kind kind = it->second.kind;
    objects_.erase(it);
    // Metadata about a node dies with it; the server drops it the same way.
    std::erase_if(metadata_, [id](const auto& entry) { return entry.first.first == id; });
    if (kind == Kind::node || kind == Kind::client) {
        recountProcesses();
    }
}

void GraphMirror::setMetadata(std::uint32_t subject, const std::string& key,
                              const std::string& type, std::optional<std::string> value) {
    if (key.empty()) {
        std::erase_if(metadata_,
                      [subject](const auto& entry) { return entry.first.first == subject; });
        return;
    }
    if (!value) {
        metadata_.erase({subject, key});
        return;
    }
    metadata_[{subject, key}] = {type, std::move(*value)};
}

void GraphMirror::clearMetadata() {
    metadata_.clear();
}

void GraphMirror::clear() {
    objects_.clear();
    metadata_.clear();
    processes_.clear();
}

const GraphMirror::Object* GraphMirror::find(std::uint32_t id) const {
    auto it = objects_.find(id);
    return it == objects_.end() ? nullptr : &it->second;
}

const GraphMirror::Object* GraphMirror::findKind(std::uint32_t id, Kind kind) const {
    const Object* object = find(id);
    return object != nullptr && object->kind == kind ? object : nullptr;
}

std::optional<std::uint32_t> GraphMirror::nodeByName(std::string_view name) const {
    for (const auto& [id, object] : objects_) {
        if (object.kind == Kind::node && prop(object.props, "node.name") == name) {
            return id;
        }
    }
    return std::nullopt;
}

std::vector<GraphMirror::Port> GraphMirror::ports(std::uint32_t node) const {
    std::vector<Port> result;
    for (const auto& [id, object] : objects_) {
        if (object.kind != Kind::port) {
            continue;
        }
        auto owner = parseInt<std::uint32_t>(prop(object.props, "node.id"));
        if (!owner || *owner != node) {
            continue;
        }
        Port port;
        port.id = id;
        port.node = node;
        port.portID = parseInt<std::uint32_t>(prop(object.props, "port.id")).value_or(0);
        port.name = std::string(prop(object.props, "port.name"));
        port.channel = std::string(prop(object.props, "audio.channel"));
        port.output = prop(object.props, "port.direction") == "out";
        port.monitor = isTrue(prop(object.props, "port.monitor"));
        result.push_back(std::move(port));
    }
    std::sort(result.begin(), result.end(), [](const Port& a, const Port& b) {
        return std::tie(a.output, a.portID, a.id) < std::tie(b.output, b.portID, b.id);
    });
    return result;
}

std::vector<GraphMirror::Link> GraphMirror::links() const {
    std::vector<Link> result;
    for (const auto& [id, object] : objects_) {
        if (object.kind != Kind::link) {
            continue;
        }
        Link link;
        link.id = id;
        link.outputNode =
            parseInt<std::uint32_t>(prop(object.props, "link.output.node")).value_or(0);
        link.outputPort =
            parseInt<std::uint32_t>(prop(object.props, "link.output.port")).value_or(0);
        link.inputNode = parseInt<std::uint32_t>(prop(object.props, "link.input.node")).value_or(0);
        link.inputPort = parseInt<std::uint32_t>(prop(object.props, "link.input.port")).value_or(0);
        result.push_back(link);
    }
    return result;
}

std::optional<GraphMirror::MetadataEntry> GraphMirror::metadata(std::uint32_t subject,
                                                                std::string_view key) const {
    auto it = metadata_.find({subject, std::string(key)});
    if (it == metadata_.end()) {
        return std::nullopt;
    }
    return MetadataEntry{subject, it->first.second, it->second.first, it->second.second};
}

std::vector<GraphMirror::MetadataEntry> GraphMirror::metadataEntries() const {
    std::vector<MetadataEntry> result;
    for (const auto& [key, value] : metadata_) {
        result.push_back({key.first, key.second, value.first, value.second});
    }
    return result;
}

std::vector<AudioDeviceInfo> GraphMirror::devices() const {
    std::vector<const Object*> nodes;
    for (const auto& [id, object] : objects_) {
        if (deviceRole(object) != DeviceRole::none && !prop(object.props, "node.name").empty()) {
            nodes.push_back(&object);
        }
    }
    std::sort(nodes.begin(), nodes.end(), [](const Object* a, const Object* b) {
        return std::tie(a->serial, a->id) < std::tie(b->serial, b->id);
    });

    std::vector<AudioDeviceInfo> result;
    for (const Object* node : nodes) {
        AudioDeviceInfo info;
        info.objectID = node->id;
        info.uid = std::string(prop(node->props, "node.name"));
        info.name = std::string(prop(node->props, "node.description"));
        if (const std::string_view own = prop(node->props, perAppSinkNameKey);
            !own.empty() && isPerAppSink(node->id)) {
            info.name = std::string(own);
        }
        if (info.name.empty()) {
            info.name = std::string(prop(node->props, "node.nick"));
        }
        const Object* device = nullptr;
        if (auto deviceID = parseInt<std::uint32_t>(prop(node->props, "device.id"))) {
            device = findKind(*deviceID, Kind::device);
        }
        info.transport = transportOf(node->props, device != nullptr ? &device->props : nullptr);
        info.isPrivateAggregate = info.transport == DeviceTransport::aggregate;
        if (deviceRole(*node) != DeviceRole::source) {
            if (auto channels = parseInt<std::int64_t>(prop(node->props, "audio.channels"));
                channels && *channels > 0) {
                info.outputChannels = *channels;
            } else if (auto count = positionCount(prop(node->props, "audio.position"))) {
                info.outputChannels = count;
            } else {
                for (const Port& port : ports(node->id)) {
                    info.outputChannels += (!port.output && !port.monitor) ? 1 : 0;
                }
            }
        }
        result.push_back(std::move(info));
    }
    return result;
}

std::optional<std::uint32_t> GraphMirror::deviceID(std::string_view uid) const {
    if (uid.empty()) {
        return std::nullopt;
    }
    for (const auto& [id, object] : objects_) {
        if (deviceRole(object) != DeviceRole::none && prop(object.props, "node.name") == uid) {
            return id;
        }
    }
    return std::nullopt;
}

bool GraphMirror::isDeviceAlive(std::string_view uid) const {
    auto id = deviceID(uid);
    return id && !objects_.at(*id).failed;
}

bool GraphMirror::isPerAppSink(std::uint32_t node) const {
    const Object* object = findKind(node, Kind::node);
    return object != nullptr && isTrue(prop(object->props, perAppSinkMarker));
}

std::optional<std::string> GraphMirror::defaultSinkName() const {
    auto entry = metadata(0, "default.audio.sink");
    return entry ? parseNodeNameValue(entry->value) : std::nullopt;
}

std::optional<std::string> GraphMirror::configuredSinkName() const {
    auto entry = metadata(0, "default.configured.audio.sink");
    return entry ? parseNodeNameValue(entry->value) : std::nullopt;
}

bool GraphMirror::isDevice(std::uint32_t node) const {
    const Object* object = find(node);
    return object != nullptr && deviceRole(*object) != DeviceRole::none;
}

std::optional<std::string> GraphMirror::routedSink(std::uint32_t stream,
                                                   const std::optional<MetadataEntry>& object,
                                                   const std::optional<MetadataEntry>& node) const {
    std::string_view value;
    bool bySerial = false;
    if (object) {
        value = object->value;
        bySerial = true;
    } else if (node) {
        value = node->value;
    } else if (const Object* own = findKind(stream, Kind::node)) {
        value = prop(own->props, "target.object");
        bySerial = !value.empty();
        if (value.empty()) {
            value = prop(own->props, "node.target");
        }
    }
    if (value.empty() || value == "-1") {
        return std::nullopt;
    }
    // A number names the node by serial (target.object) or id; anything else, or a number
    // that names no node, by node.name or object.path.
    const Object* target = nullptr;
    if (const auto number = parseInt<std::uint64_t>(value)) {
        for (const auto& [id, candidate] : objects_) {
            if (candidate.kind == Kind::node && (bySerial ? candidate.serial : id) == *number) {
                target = &candidate;
                break;
            }
        }
    }
    if (target == nullptr) {
        for (const auto& [id, candidate] : objects_) {
            if (candidate.kind == Kind::node && (prop(candidate.props, "node.name") == value ||
                                                 prop(candidate.props, "object.path") == value)) {
                target = &candidate;
                break;
            }
        }
    }
    if (target == nullptr || deviceRole(*target) != DeviceRole::sink || isPerAppSink(target->id)) {
        return std::nullopt;
    }
    const std::string_view name = prop(target->props, "node.name");
    return name.empty() ? std::nullopt : std::optional<std::string>(name);
}

std::optional<std::string> GraphMirror::preferredSink() const {
    std::optional<std::string> best;
    std::int64_t bestPriority = 0;
    for (const auto& [id, object] : objects_) {
        if (deviceRole(object) != DeviceRole::sink || object.failed || isPerAppSink(id)) {
            continue;
        }
        const std::string_view name = prop(object.props, "node.name");
        const auto priority =
            parseInt<std::int64_t>(prop(object.props, "priority.session")).value_or(0);
        if (!name.empty() && (!best || priority > bestPriority)) {
            best = std::string(name);
            bestPriority = priority;
        }
    }
    return best;
}

std::optional<pid_type> GraphMirror::clientIdentity(const Object& client) const {
    const std::string_view claimedText = prop(client.props, "application.process.id");
    const std::string_view vouchedText = prop(client.props, "pipewire.sec.pid");
    const std::string_view binary = prop(client.props, "application.process.binary");
    const std::string_view api = prop(client.props, "client.api");
    std::string key;
    for (const std::string_view part : {claimedText, vouchedText, binary, api}) {
        key.append(part).push_back('\n');
    }
    if (key == client.identityKey) {
        return client.identity;
    }
    client.identityKey = std::move(key);

    const auto claimed = parseInt<pid_type>(claimedText);
    const auto vouched = parseInt<pid_type>(vouchedText);
    // pipewire-pulse connects once for each of its clients: the server vouches for the bridge,
    // so only the claimed pid can name the app, and only once verified.
    const bool bridged = api == "pipewire-pulse";
    const auto candidate = bridged ? claimed : (vouched ? vouched : claimed);
    if (!claimed && !vouched) {
        client.identity.reset();
    } else if (candidate && *candidate > 1 && isHostPID(*candidate) &&
               isProgram_(*candidate, binary)) {
        client.identity = candidate;
    } else {
        constexpr std::uint64_t span = std::numeric_limits<pid_type>::max() - firstClientIdentity;
        const std::uint64_t serial = client.serial != 0 ? client.serial : client.id;
        client.identity = firstClientIdentity + static_cast<pid_type>(serial % span);
    }
    return client.identity;
}

std::optional<pid_type> GraphMirror::pidOf(const Object& object) const {
    if (object.kind == Kind::client) {
        return clientIdentity(object);
    }
    if (object.kind == Kind::node) {
        // A stream belongs to its client's process: the pid a stream claims for itself is the
        // client's claim again, or in another namespace's numbering.
        if (auto clientID = parseInt<std::uint32_t>(prop(object.props, "client.id"))) {
            if (const Object* client = findKind(*clientID, Kind::client)) {
                if (auto pid = clientIdentity(*client)) {
                    return pid;
                }
            }
        }
        auto pid = parseInt<pid_type>(prop(object.props, "application.process.id"));
        if (pid && isHostPID(*pid) &&
            isProgram_(*pid, prop(object.props, "application.process.binary"))) {
            return pid;
        }
    }
    return std::nullopt;
}

void GraphMirror::recountProcesses() {
    std::set<pid_type> present;
    for (const auto& [id, object] : objects_) {
        const bool holds =
            object.kind == Kind::client ||
            (object.kind == Kind::node && startsWith(prop(object.props, "media.class"), "Stream/"));
        if (!holds) {
            continue;
        }
        if (auto pid = pidOf(object); pid && *pid > 0) {
            present.insert(*pid);
        }
    }
    for (auto it = processes_.begin(); it != processes_.end();) {
        auto& [pid, process] = *it;
        process.held = !present.contains(pid);
        if (process.held && !isRunning_(pid)) {
            it = processes_.erase(it);
        } else {
            ++it;
        }
    }
    for (pid_type pid : present) {
        if (!processes_.contains(pid)) {
            processes_[pid] = Process{nextProcessObject_++, false};
        }
    }
}

const GraphMirror::Process* GraphMirror::liveProcess(pid_type pid) const {
    auto it = processes_.find(pid);
    if (it == processes_.end()) {
        return nullptr;
    }
    if (it->second.held && !isRunning_(pid)) {
        processes_.erase(it);
        return nullptr;
    }
    return &it->second;
}

std::optional<AudioObjectID> GraphMirror::processObject(pid_type pid) const {
    const Process* process = liveProcess(pid);
    if (process == nullptr) {
        return std::nullopt;
    }
    return process->id;
}

std::optional<pid_type> GraphMirror::pidOfProcessObject(AudioObjectID processObject) const {
    for (const auto& [pid, process] : processes_) {
        if (process.id == processObject) {
            const pid_type found = pid; // liveProcess may drop the entry
            return liveProcess(found) != nullptr ? std::optional<pid_type>(found) : std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<pid_type> GraphMirror::nodePid(std::uint32_t node) const {
    const Object* object = findKind(node, Kind::node);
    return object != nullptr ? pidOf(*object) : std::nullopt;
}

bool GraphMirror::isOutputStream(std::uint32_t node) const {
    const Object* object = findKind(node, Kind::node);
    return object != nullptr && prop(object->props, "media.class") == "Stream/Output/Audio";
}

std::vector<pid_type> GraphMirror::playingProcesses() const {
    std::vector<const Object*> streams;
    for (const auto& [id, object] : objects_) {
        if (object.running && isOutputStream(id)) {
            streams.push_back(&object);
        }
    }
    std::sort(streams.begin(), streams.end(), [](const Object* a, const Object* b) {
        return std::tie(a->serial, a->id) < std::tie(b->serial, b->id);
    });
    std::vector<pid_type> pids;
    for (const Object* stream : streams) {
        auto pid = pidOf(*stream);
        if (pid && std::find(pids.begin(), pids.end(), *pid) == pids.end()) {
            pids.push_back(*pid);
        }
    }
    return pids;
}

std::vector<GraphMirror::AudioProcess> GraphMirror::audioProcesses() const {
    // Which object's application id wins: the key first (application.id over the portal's),
    // then streams over clients, then the older object.
    struct Candidate {
        int key = 0;
        int object = 0;
        std::uint64_t serial = 0;
        std::string value;
    };
    static constexpr std::string_view idKeys[] = {"application.id",
                                                  "pipewire.access.portal.app_id"};
    std::map<pid_type, AudioProcess> byPid;
    std::map<pid_type, Candidate> ids;
    std::map<pid_type, Candidate> names;
    std::vector<pid_type> pids;
    for (const auto& [pid, process] : processes_) {
        pids.push_back(pid);
    }
    for (const pid_type pid : pids) {
        if (const Process* process = liveProcess(pid)) {
            byPid[pid] =
                AudioProcess{process->id, pid, std::nullopt, std::nullopt, false, false, false, {}};
        }
    }
    for (const auto& [id, object] : objects_) {
        const std::string_view mediaClass = prop(object.props, "media.class");
        const bool stream = object.kind == Kind::node && startsWith(mediaClass, "Stream/");
        if (!stream && object.kind != Kind::client) {
            continue;
        }
        const auto pid = pidOf(object);
        auto process = pid ? byPid.find(*pid) : byPid.end();
        if (process == byPid.end()) {
            continue;
        }
        const bool output = mediaClass == "Stream/Output/Audio";
        const bool input = mediaClass == "Stream/Input/Audio";
        if (output || input) {
            process->second.streams.push_back(id);
            process->second.runningOutput |= output && object.running;
            process->second.runningInput |= input && object.running;
        }
        if (const std::string_view name = prop(object.props, "application.name"); !name.empty()) {
            Candidate candidate{0, stream ? 0 : 1, object.serial, std::string(name)};
            auto found = names.find(*pid);
            if (found == names.end() || std::tie(candidate.object, candidate.serial) <
                                            std::tie(found->second.object, found->second.serial)) {
                names[*pid] = std::move(candidate);
            }
        }
        for (int key = 0; key < static_cast<int>(std::size(idKeys)); ++key) {
            const std::string_view value = prop(object.props, idKeys[key]);
            if (value.empty()) {
                continue;
            }
            Candidate candidate{key, stream ? 0 : 1, object.serial, std::string(value)};
            auto found = ids.find(*pid);
            if (found == ids.end() ||
                std::tie(candidate.key, candidate.object, candidate.serial) <
                    std::tie(found->second.key, found->second.object, found->second.serial)) {
                ids[*pid] = std::move(candidate);
            }
            break;
        }
    }
    std::vector<AudioProcess> result;
    for (auto& [pid, process] : byPid) {
        process.running = process.runningOutput || process.runningInput;
        if (auto id = ids.find(pid); id != ids.end()) {
            process.applicationID = id->second.value;
        }
        if (auto name = names.find(pid); name != names.end()) {
            process.applicationName = name->second.value;
        }
        result.push_back(std::move(process));
    }
    std::sort(result.begin(), result.end(),
              [](const AudioProcess& a, const AudioProcess& b) { return a.objectID < b.objectID; });
    return result;
}

std::vector<std::uint32_t> GraphMirror::outputStreams(pid_type pid) const {
    std::vector<const Object*> streams;
    for (const auto& [id, object] : objects_) {
        if (object.kind == Kind::node && isOutputStream(id) && pidOf(object) == pid) {
            streams.push_back(&object);
        }
    }
    std::sort(streams.begin(), streams.end(), [](const Object* a, const Object* b) {
        return std::tie(a->serial, a->id) < std::tie(b->serial, b->id);
    });
    std::vector<std::uint32_t> result;
    for (const Object* stream : streams) {
        result.push_back(stream->id);
    }
    return result;
}

DeviceTransport transportOf(const GraphMirror::Properties& node,
                            const GraphMirror::Properties* device) {
    auto either = [&](std::string_view key) {
        std::string_view value = prop(node, key);
        if (value.empty() && device != nullptr) {
            value = prop(*device, key);
        }
        return value;
    };
    auto hasKeyPrefix = [&](std::string_view prefix) {
        auto it = node.lower_bound(prefix);
        return it != node.end() && startsWith(it->first, prefix);
    };

    if (isTrue(prop(node, perAppSinkMarker)) || hasKeyPrefix("combine.") ||
        lower(prop(node, "node.name")).find("combine") != std::string::npos) {
        return DeviceTransport::aggregate;
    }
    const std::string api = lower(either("device.api"));
    const std::string bus = lower(either("device.bus"));
    if (api == "bluez5" || bus == "bluetooth") {
        return DeviceTransport::bluetooth;
    }
    if (hasKeyPrefix("raop.")) {
        return DeviceTransport::airPlay;
    }
    std::string names;
    for (std::string_view key : {"node.name", "device.profile.name", "device.profile.description",
                                 "node.description", "api.alsa.path"}) {
        names += lower(prop(node, key));
        names += ' ';
    }
    if (names.find("hdmi") != std::string::npos) {
        return DeviceTransport::hdmi;
    }
    if (names.find("displayport") != std::string::npos) {
        return DeviceTransport::displayPort;
    }
    if (bus == "usb") {
        return DeviceTransport::usb;
    }
    if (prop(node, "factory.name") == "support.null-audio-sink" ||
        isTrue(prop(node, "node.virtual")) ||
        prop(node, "media.class").find("Virtual") != std::string_view::npos) {
        return DeviceTransport::virtual_;
    }
    if (api == "alsa" && (bus == "pci" || bus == "platform" || bus == "isa" ||
                          lower(either("device.form-factor")) == "internal")) {
        return DeviceTransport::builtIn;
    }
    return DeviceTransport::other;
}

std::optional<std::string> parseNodeNameValue(std::string_view json) {
    const auto parsed = nlohmann::json::parse(json, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        return std::nullopt;
    }
    auto name = parsed.find("name");
    if (name == parsed.end() || !name->is_string()) {
        return std::nullopt;
    }
    return name->get<std::string>();
}

std::string nodeNameValue(std::string_view name) {
    // Names are the server's bytes; invalid UTF-8 must not throw.
    return nlohmann::json{{"name", std::string(name)}}.dump(
        -1, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace brindell
