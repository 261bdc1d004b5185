#include "app/CommandLine.h"

#include "app/SourceTest.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace brindell {
namespace {

using Mode = CommandLine::Mode;
using Args = std::vector<std::string>;

CommandLine parse(const Args& args) {
    return parseCommandLine(args);
}

std::string errorOf(const Args& args) {
    try {
        parseCommandLine(args);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(CommandLine, ModesReadTheirArgumentsAndTheLooks) {
    const CommandLine mixer =
        parse({"--reduce-transparency", "--mixer-snapshot", "out.png", "--increase-contrast",
               "--preview-state", "denied", "--preview-rows", "12"});
    EXPECT_EQ(mixer.mode, Mode::mixerSnapshot);
    EXPECT_EQ(mixer.outputPath, "out.png");
    EXPECT_TRUE(mixer.reduceTransparency);
    EXPECT_TRUE(mixer.increaseContrast);
    EXPECT_FALSE(mixer.dark);
    EXPECT_EQ(mixer.previewState, PreviewState::denied);
    EXPECT_EQ(mixer.previewRows, 12);
    // (The other snapshot modes, their default files and a switch after the mode that is no
    // path run end to end in tests/ui/snapshots.sh.)

    // Alone the looks and preview switches leave a normal launch.
    EXPECT_EQ(parse({"--dark"}).mode, Mode::launch);
    EXPECT_TRUE(parse({"--preview-engine"}).previewEngine);
    EXPECT_EQ(parse({"--keytest", "--preview-state", "no-output"}).previewState,
              PreviewState::noOutput);

    // Diagnostics read their arguments.
    EXPECT_EQ(parse({"--mastertest"}).mode, Mode::masterTest);
    EXPECT_EQ(parse({"--cycletest", "3"}).cycles, 3);
    const CommandLine route = parse({"--routetest", "4242"});
    EXPECT_EQ(route.mode, Mode::routeTest);
    EXPECT_EQ(route.routePid, 4242);
    EXPECT_EQ(parse({"--sourcetest", "5"}).mode, Mode::sourceTest);
    EXPECT_DOUBLE_EQ(parse({"--sourcetest", "0.25"}).sourceTestSeconds, 0.25);
    // (--autoproof, --crashtest and ctl with their arguments run end to end in the audio tier,
    // tests/app/crashtest.sh and tests/ui/ctl.sh.)
    EXPECT_EQ(parse({"ctl"}).controlArgs, Args{});
}

TEST(CommandLine, BadArgumentsAreRefusedNamingWhatIsWrong) {
    const std::pair<Args, const char*> cases[] = {
        {{"--no-such-switch"}, "'--no-such-switch'"},
        {{"-x"}, "'-x'"},
        {{""}, "''"},
        {{"--help", "extra"}, "'extra'"},
        {{"--keytest", "--mixer-snapshot"}, "cannot be combined"},
        {{"--settings-snapshot", "--onboarding-snapshot"}, "cannot be combined"},
        {{"--mastertest", "--cycletest", "2"}, "cannot be combined"},
        {{"--cycletest", "2", "--routetest", "5"}, "cannot be combined"},
        {{"--mastertest", "0.3"}, "'0.3'"},
        {{"--preview-rows"}, "--preview-rows"},
        {{"--preview-state"}, "--preview-state"},
        {{"--preview-state", "sideways"}, "'sideways'"},
        {{"--routetest"}, "--routetest"},
        {{"--routetest", "0"}, "'0'"},
        {{"--routetest", "--dark"}, "'--dark'"},
        {{"--routetest", "12", "13"}, "'13'"},
        {{"--autoproof", "12abc"}, "'12abc'"},
        {{"--cycletest", "-2"}, "'-2'"},
        {{"--crashtest", "now"}, "'now'"},
        {{"--sourcetest"}, "--sourcetest"},
        {{"--preview-engine", "ctl"}, "'ctl'"}, // ctl only as the first argument
    };
    for (const auto& [args, named] : cases) {
        EXPECT_NE(errorOf(args).find(named), std::string::npos) << errorOf(args);
    }
    for (const char* bad : {"-1", "201", "12x", "", " 3", "0x10"}) {
        EXPECT_NE(errorOf({"--preview-rows", bad}).find(std::string("'") + bad + "'"),
                  std::string::npos)
            << bad;
    }
    for (const char* bad : {"0", "-1", "x", "", "nan", "inf", "1e400", "3s", "86401"}) {
        EXPECT_NE(errorOf({"--sourcetest", bad}).find(std::string("'") + bad + "'"),
                  std::string::npos)
            << bad;
    }
}

TEST(CommandLine, QtsOwnOptionsAndTheirValuesAreLeftToQt) {
    // A desktop or a user may start any Qt program with these; they never change the mode.
    for (const Args& args : std::vector<Args>{
             {"-platform", "xcb"},
             {"--platform", "wayland"},
             {"-session", "10d2f3e4a5b6c7000170000000010"},
             {"-style=fusion", "-reverse"},
             {"--style", "--dark"}, // Qt takes the word after -style whatever it looks like
             {"--stylesheet=/tmp/a.qss", "-platformtheme", "gtk3", "-display", ":1"},
             {"-platform"}, // a value Qt would find missing is Qt's business too
         }) {
        const CommandLine c = parse(args);
        EXPECT_EQ(c.mode, Mode::launch) << args.front();
        EXPECT_FALSE(c.dark) << args.front();
    }
    EXPECT_TRUE(parse({"-platform", "offscreen", "--preview-engine"}).previewEngine);
    const CommandLine snapshot = parse({"--mixer-snapshot", "-platform", "offscreen"});
    EXPECT_EQ(snapshot.mode, Mode::mixerSnapshot);
    EXPECT_EQ(snapshot.outputPath, "") << "a Qt option is not a path";

    // Forms Qt itself does not take stay errors.
    for (const Args& args :
         std::vector<Args>{{"-platform=xcb"}, {"-stylefusion"}, {"-platform", "xcb", "extra"}}) {
        EXPECT_NE(errorOf(args).find("'" + args.back() + "'"), std::string::npos) << args.back();
    }
}

TEST(SourceTest, OneLinePerListWithNamePidBundleAndMembers) {
    AudioSource app;
    app.pid = 40;
    app.bundleID = "org.example.Player";
    app.name = "Player";
    app.memberPIDs = {40, 41, 57};
    AudioSource lone;
    lone.pid = 90;
    lone.name = "say \"hi\"\n";
    lone.memberPIDs = {90};
    EXPECT_EQ(
        sourceListLine(1.5, {app, lone}),
        "1.500 s: \"Player\" 40 org.example.Player 40,41,57; \"say \\\"hi\\\"\\x0a\" 90 - 90");
    EXPECT_EQ(sourceListLine(0, {}), "0.000 s: none");
    lone.name = "Lone";
    lone.bundleID = "";
    EXPECT_EQ(sourceListLine(2, {lone}), "2.000 s: \"Lone\" 90 - 90") << "an empty id is none";
}

} // namespace
} // namespace brindell
