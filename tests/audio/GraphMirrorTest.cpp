#include "audio/pipewire/GraphMirror.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace brindell {
namespace {

using Kind = GraphMirror::Kind;
using Props = GraphMirror::Properties;

class GraphMirrorTest : public ::testing::Test {
protected:
    // The pids whose processes run, as the mirror's probe sees them; none unless a test says so.
    std::set<pid_type> running;
    // The programs of host pids, as the mirror's verifier sees them; a pid not listed runs
    // whatever its client names.
    std::map<pid_type, std::string> programs;
    GraphMirror mirror{[this](pid_type pid) { return running.contains(pid); },
                       [this](pid_type pid, std::string_view binary) {
                           const auto found = programs.find(pid);
                           return found == programs.end() || binary.empty() ||
                                  found->second == binary;
                       }};
    std::uint64_t serial = 100;

    void add(Kind kind, std::uint32_t id, Props props) {
        props["object.serial"] = std::to_string(serial++);
        mirror.add(kind, id, std::move(props));
    }
    void sink(std::uint32_t id, const std::string& name, Props extra = {}) {
        Props props = {{"media.class", "Audio/Sink"},
                       {"node.name", name},
                       {"node.description", name + " description"}};
        props.insert(extra.begin(), extra.end());
        add(Kind::node, id, props);
    }
    // A playback stream node.
    void stream(std::uint32_t id, Props props) {
        props["media.class"] = "Stream/Output/Audio";
        add(Kind::node, id, std::move(props));
    }
    void port(std::uint32_t id, std::uint32_t node, std::uint32_t index, const std::string& dir,
              const std::string& channel, bool monitor = false) {
        add(Kind::port, id,
            {{"node.id", std::to_string(node)},
             {"port.id", std::to_string(index)},
             {"port.direction", dir},
             {"audio.channel", channel},
             {"port.monitor", monitor ? "true" : "false"}});
    }
};

TEST_F(GraphMirrorTest, AProcessObjectLivesAsLongAsAnyClientOrStreamOfItsPid) {
    add(Kind::client, 10, {{"application.process.id", "4242"}});
    const auto first = mirror.processObject(4242);
    ASSERT_TRUE(first);
    EXPECT_GE(*first, firstAdapterObjectID);

    // A stream whose owner is known only through its client.
    stream(11, {{"client.id", "10"}});
    EXPECT_EQ(mirror.nodePid(11), 4242);
    EXPECT_EQ(mirror.outputStreams(4242), std::vector<std::uint32_t>{11});

    mirror.remove(10);
    // The client is gone; the stream still names it but nothing resolves the pid any more.
    EXPECT_FALSE(mirror.processObject(4242));

    // The pid comes back: a new object, never the old id.
    add(Kind::client, 12, {{"application.process.id", "4242"}});
    ASSERT_TRUE(mirror.processObject(4242));
    EXPECT_NE(*mirror.processObject(4242), *first);
    EXPECT_EQ(mirror.pidOfProcessObject(*mirror.processObject(4242)), 4242);
    EXPECT_FALSE(mirror.pidOfProcessObject(*first));
}

TEST_F(GraphMirrorTest, ARunningProcessKeepsItsObjectBetweenOneStreamAndTheNext) {
    // One connection per stream: client and stream go together, then come back anew.
    running.insert(4242);
    add(Kind::client, 10, {{"application.process.id", "4242"}});
    stream(11, {{"client.id", "10"}});
    const auto object = mirror.processObject(4242);
    ASSERT_TRUE(object);
    for (std::uint32_t round = 0; round < 5; ++round) {
        mirror.remove(11);
        mirror.remove(10);
        EXPECT_EQ(mirror.processObject(4242), object) << round;
        EXPECT_EQ(mirror.pidOfProcessObject(*object), 4242) << round;
        EXPECT_TRUE(mirror.outputStreams(4242).empty());
        // Listed, but with nothing playing.
        const auto processes = mirror.audioProcesses();
        ASSERT_EQ(processes.size(), 1u);
        EXPECT_EQ(processes[0].objectID, *object);
        EXPECT_TRUE(processes[0].streams.empty());
        EXPECT_FALSE(processes[0].running);

        // PipeWire hands the freed ids out again at once.
        add(Kind::client, 10, {{"application.process.id", "4242"}});
        stream(11, {{"client.id", "10"}});
        EXPECT_EQ(mirror.processObject(4242), object) << round;
        EXPECT_EQ(mirror.outputStreams(4242), std::vector<std::uint32_t>{11});
    }

    // Exited while it had no connection: the object goes at once, even before the next event.
    mirror.remove(11);
    mirror.remove(10);
    running.erase(4242);
    EXPECT_FALSE(mirror.processObject(4242));
    EXPECT_FALSE(mirror.pidOfProcessObject(*object));
    EXPECT_TRUE(mirror.audioProcesses().empty());
}

TEST(GraphMirrorProbeTest, ProcIsAskedWhetherAProcessRunsAndWhichProgram) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").filename();
    EXPECT_TRUE(GraphMirror::processRunsProgram(::getpid(), self));
    EXPECT_TRUE(GraphMirror::processRunsProgram(::getpid(), ""));
    EXPECT_FALSE(GraphMirror::processRunsProgram(::getpid(), "mpv"));
    EXPECT_FALSE(GraphMirror::processRunsProgram(firstClientIdentity, ""));
    EXPECT_TRUE(GraphMirror::processIsRunning(::getpid()));
    EXPECT_FALSE(GraphMirror::processIsRunning(0));
    EXPECT_FALSE(GraphMirror::processIsRunning(-1));
    // Above the kernel's pid limit (4194304 at most).
    EXPECT_FALSE(GraphMirror::processIsRunning(5'000'000));

    // A child that exited but is not reaped yet has stopped running.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::_exit(0);
    }
    siginfo_t info{};
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);
    EXPECT_FALSE(GraphMirror::processIsRunning(child));
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
}

TEST_F(GraphMirrorTest, ClientsInOtherPidNamespacesAreEachTheirOwnProcess) {
    programs = {{1, "systemd"}, {300, "pipewire"}, {5001, "pw-cat"}, {5003, "pacat"}};
    const auto client = [&](std::uint32_t id, Props props, bool pulse) {
        props["application.process.binary"] = pulse ? "pacat" : "pw-cat";
        if (pulse) {
            props["client.api"] = "pipewire-pulse";
            props["pipewire.sec.pid"] = "300";
        }
        add(Kind::client, id, props);
        stream(id + 1, {{"client.id", std::to_string(id)},
                        {"application.process.id", props["application.process.id"]},
                        {"application.name", pulse ? "paplay" : "pw-play"}});
        return serial - 2; // the client's
    };
    // Players that are pid 1 in namespaces of their own (LiveEngineTest plays four such): the
    // server knows a native one's host pid, nothing names a pulse one's.
    client(80, {{"application.process.id", "1"}, {"pipewire.sec.pid", "5001"}}, false);
    const auto first = client(84, {{"application.process.id", "1"}}, true);
    // A pulse player on the host, and one claiming a host pid that runs another program.
    client(88, {{"application.process.id", "5003"}}, true);
    const auto liar = client(90, {{"application.process.id", "5001"}}, true);

    EXPECT_EQ(mirror.nodePid(81), 5001);
    EXPECT_EQ(mirror.nodePid(85), firstClientIdentity + static_cast<pid_type>(first));
    EXPECT_EQ(mirror.nodePid(89), 5003);
    EXPECT_EQ(mirror.nodePid(91), firstClientIdentity + static_cast<pid_type>(liar));
    EXPECT_FALSE(mirror.processObject(1)) << "a namespace's pid names nothing here";
    EXPECT_EQ(mirror.outputStreams(5001), std::vector<std::uint32_t>{81});
    EXPECT_EQ(mirror.audioProcesses().size(), 4u);

    // A client that leaves takes its identity with it.
    mirror.remove(85);
    mirror.remove(84);
    EXPECT_FALSE(mirror.processObject(firstClientIdentity + static_cast<pid_type>(first)));
}

TEST_F(GraphMirrorTest, AnAudioProcessTakesItsApplicationIDFromItsStreamsThenItsClients) {
    // pipewire-pulse's own connection names its own id; the pulse client's stream names its app.
    add(Kind::client, 70, {{"pipewire.sec.pid", "300"}, {"application.id", "org.pipewire.pulse"}});
    add(Kind::client, 78,
        {{"pipewire.sec.pid", "300"},
         {"application.process.id", "301"},
         {"client.api", "pipewire-pulse"}});
    stream(71, {{"client.id", "78"},
                {"application.process.id", "301"},
                {"application.id", "org.example.Player"}});
    // A sandboxed app: the portal's id on its client, a name of its own choosing on a stream.
    add(Kind::client, 72,
        {{"application.process.id", "302"},
         {"pipewire.access.portal.app_id", "org.example.Boxed"}});
    stream(73, {{"client.id", "72"}});
    // Two streams of one pid: the older one's id counts; an empty id names nothing.
    stream(74, {{"application.process.id", "303"}, {"application.id", ""}});
    stream(75, {{"application.process.id", "303"}, {"application.id", "org.example.Old"}});
    stream(76, {{"application.process.id", "303"}, {"application.id", "org.example.New"}});
    add(Kind::client, 77, {{"application.process.id", "304"}});

    std::map<pid_type, std::optional<std::string>> ids;
    for (const auto& process : mirror.audioProcesses()) {
        ids[process.pid] = process.applicationID;
    }
    EXPECT_EQ(ids[300], "org.pipewire.pulse");
    EXPECT_EQ(ids[301], "org.example.Player") << "not the hosting server's id";
    EXPECT_EQ(ids[302], "org.example.Boxed");
    EXPECT_EQ(ids[303], "org.example.Old");
    EXPECT_EQ(ids[304], std::nullopt);

    // application.id outranks the portal's id; the stream's full properties arrive late.
    mirror.updateProperties(73, {{"application.id", "org.example.Chosen"}});
    for (const auto& process : mirror.audioProcesses()) {
        if (process.pid == 302) {
            EXPECT_EQ(process.applicationID, "org.example.Chosen");
        }
    }
}

TEST_F(GraphMirrorTest, OutputChannelsComeFromTheCountThePositionsOrThePortsAndFailedNodesDie) {
    sink(1, "counted", {{"audio.channels", "6"}, {"audio.position", "FL,FR"}});
    sink(2, "positioned", {{"audio.position", "FL,FR,FC,LFE"}});
    sink(5, "listed", {{"audio.position", "[ FL FR ]"}});
    sink(3, "ported");
    port(30, 3, 0, "in", "FL");
    port(31, 3, 1, "in", "FR");
    port(32, 3, 0, "out", "FL", true); // monitors are not output channels
    sink(4, "unreadable", {{"audio.channels", "many"}});
    add(Kind::node, 6,
        {{"media.class", "Audio/Source"}, {"node.name", "mic"}, {"audio.channels", "2"}});

    const auto devices = mirror.devices();
    ASSERT_EQ(devices.size(), 6u);
    EXPECT_EQ(devices[0].outputChannels, 6);
    EXPECT_EQ(devices[1].outputChannels, 4);
    EXPECT_EQ(devices[2].outputChannels, 2);
    EXPECT_EQ(devices[3].outputChannels, 2);
    EXPECT_EQ(devices[4].outputChannels, 0);
    EXPECT_EQ(devices[5].outputChannels, 0) << "an input-only device has no output channels";

    EXPECT_TRUE(mirror.isDeviceAlive("counted"));
    mirror.setFailed(1, true);
    EXPECT_FALSE(mirror.isDeviceAlive("counted"));
}

TEST_F(GraphMirrorTest, PerAppSinksListAsAggregatesAndAreNeverPreferred) {
    sink(1, "speakers", {{"priority.session", "1000"}});
    sink(2, "com.quorvel.Brindell.agg.X",
         {{perAppSinkMarker, "true"}, {"priority.session", "5000"}});
    sink(3, "broken", {{"priority.session", "2000"}});
    mirror.setFailed(3, true);

    const auto devices = mirror.devices();
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[1].transport, DeviceTransport::aggregate);
    EXPECT_TRUE(devices[1].isPrivateAggregate);
    EXPECT_FALSE(devices[0].isPrivateAggregate);
    EXPECT_TRUE(mirror.isPerAppSink(2));
    EXPECT_EQ(mirror.preferredSink(), "speakers");
}

TEST_F(GraphMirrorTest, DefaultSinkIsReadFromWirePlumbersJsonAndBadValuesGiveNone) {
    EXPECT_FALSE(mirror.defaultSinkName());
    mirror.setMetadata(0, "default.audio.sink", "Spa:String:JSON", R"({"name":"speakers"})");
    EXPECT_EQ(mirror.defaultSinkName(), "speakers");
    mirror.setMetadata(0, "default.configured.audio.sink", "Spa:String:JSON", "not json");
    EXPECT_FALSE(mirror.configuredSinkName());
    mirror.setMetadata(0, "default.configured.audio.sink", "Spa:String:JSON", R"({"name":7})");
    EXPECT_FALSE(mirror.configuredSinkName());
    mirror.setMetadata(0, "default.audio.sink", "", std::nullopt);
    EXPECT_FALSE(mirror.defaultSinkName());

    // What the adapter writes reads back, quotes and all; broken UTF-8 does not throw.
    EXPECT_EQ(parseNodeNameValue(nodeNameValue("a \"quoted\" name")), "a \"quoted\" name");
    EXPECT_NO_THROW(nodeNameValue(std::string("bad \xff bytes")));
}

TEST_F(GraphMirrorTest, MetadataAboutANodeGoesWithTheNodeAndUnknownObjectsChangeNothing) {
    mirror.remove(77);
    mirror.updateProperties(77, {{"application.process.id", "5"}});
    mirror.setFailed(77, true);
    EXPECT_FALSE(mirror.find(77));
    EXPECT_FALSE(mirror.processObject(5));
    EXPECT_TRUE(mirror.devices().empty());

    stream(5, {});
    mirror.setMetadata(5, "target.object", "Spa:String", "x");
    mirror.setMetadata(5, "target.node", "Spa:Id", "-1");
    mirror.setMetadata(0, "default.audio.sink", "Spa:String:JSON", R"({"name":"s"})");
    ASSERT_TRUE(mirror.metadata(5, "target.node"));
    EXPECT_EQ(mirror.metadata(5, "target.node")->type, "Spa:Id");

    mirror.setMetadata(5, "", "", std::nullopt); // a clear of the subject
    EXPECT_FALSE(mirror.metadata(5, "target.object"));
    mirror.setMetadata(5, "target.object", "Spa:String", "x");
    mirror.remove(5);
    EXPECT_FALSE(mirror.metadata(5, "target.object"));
    EXPECT_EQ(mirror.metadataEntries().size(), 1u);
}

TEST_F(GraphMirrorTest, AStreamIsRoutedWhereWirePlumberWouldTakeIt) {
    sink(1, "speakers");                                                         // serial 100
    sink(2, "headphones");                                                       // serial 101
    sink(3, "com.quorvel.Brindell.agg.X", {{perAppSinkMarker, "true"}});         // serial 102
    add(Kind::node, 4, {{"media.class", "Audio/Source"}, {"node.name", "mic"}}); // serial 103
    add(Kind::node, 9, {{"media.class", "Stream/Output/Audio"}, {"target.object", "speakers"}});
    using Entry = std::optional<GraphMirror::MetadataEntry>;
    auto object = [](const std::string& value) { return Entry({9, "target.object", "", value}); };
    auto node = [](const std::string& value) { return Entry({9, "target.node", "Spa:Id", value}); };

    // target.object is a serial (as pactl writes it) or a name; target.node an id.
    EXPECT_EQ(mirror.routedSink(9, object("101"), node("1")), "headphones");
    EXPECT_EQ(mirror.routedSink(9, object("headphones"), std::nullopt), "headphones");
    EXPECT_EQ(mirror.routedSink(9, std::nullopt, node("2")), "headphones");
    // Without metadata the stream's own properties; "-1" follows the default.
    EXPECT_EQ(mirror.routedSink(9, std::nullopt, std::nullopt), "speakers");
    EXPECT_EQ(mirror.routedSink(9, std::nullopt, node("-1")), std::nullopt);
    // A target.object WirePlumber cannot find routes to the default, whatever target.node says.
    EXPECT_EQ(mirror.routedSink(9, object("999"), node("2")), std::nullopt);
    // No user's sink: a per-app sink, a source, an unknown node.
    EXPECT_EQ(mirror.routedSink(9, object("102"), std::nullopt), std::nullopt);
    EXPECT_EQ(mirror.routedSink(9, std::nullopt, node("4")), std::nullopt);
    EXPECT_EQ(mirror.routedSink(5, std::nullopt, std::nullopt), std::nullopt);
}

} // namespace
} // namespace brindell
