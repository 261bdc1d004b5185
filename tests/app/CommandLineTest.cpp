#include "app/CommandLine.h"

#include "app/SourceTest.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace brindell {
namespace {

using Mode = CommandLine::Mode;

CommandLine parse(std::vector<std::string> args) {
    return parseCommandLine(args);
}

std::string errorOf(std::vector<std::string> args) {
    try {
        parseCommandLine(args);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(CommandLine, SnapshotModesTakeAnOptionalPath) {
    const CommandLine mixer = parse({"--mixer-snapshot", "/tmp/a.png"});
    EXPECT_EQ(mixer.mode, Mode::mixerSnapshot);
    EXPECT_EQ(mixer.outputPath, "/tmp/a.png");

    const CommandLine panel = parse({"--panel-snapshot", "--dark"});
    EXPECT_EQ(panel.mode, Mode::panelSnapshot);
    EXPECT_EQ(panel.outputPath, "") << "a switch is not a path";
    EXPECT_TRUE(panel.dark);
    EXPECT_NE(defaultSnapshotPath(Mode::panelSnapshot).find("/panel-snapshot.png"),
              std::string::npos);
    EXPECT_NE(defaultSnapshotPath(Mode::mixerSnapshot).find("/mixer-snapshot.png"),
              std::string::npos);
}

TEST(CommandLine, TheWindowSnapshotsTakeAPathAndTheDarkLook) {
    const CommandLine settings = parse({"--dark", "--settings-snapshot", "s.png"});
    EXPECT_EQ(settings.mode, Mode::settingsSnapshot);
    EXPECT_EQ(settings.outputPath, "s.png");
    EXPECT_TRUE(settings.dark);
    const CommandLine onboarding = parse({"--onboarding-snapshot"});
    EXPECT_EQ(onboarding.mode, Mode::onboardingSnapshot);
    EXPECT_EQ(onboarding.outputPath, "");
    EXPECT_NE(defaultSnapshotPath(Mode::settingsSnapshot).find("/settings-snapshot.png"),
              std::string::npos);
    EXPECT_NE(defaultSnapshotPath(Mode::onboardingSnapshot).find("/onboarding-snapshot.png"),
              std::string::npos);
    EXPECT_EQ(errorOf({"--settings-snapshot", "--onboarding-snapshot"}),
              "--settings-snapshot and --onboarding-snapshot cannot be combined");
}

TEST(CommandLine, LooksAndPreviewContentCombineWithAnyMode) {
    const CommandLine c =
        parse({"--reduce-transparency", "--mixer-snapshot", "out.png", "--increase-contrast",
               "--preview-state", "denied", "--preview-rows", "12"});
    EXPECT_EQ(c.mode, Mode::mixerSnapshot);
    EXPECT_TRUE(c.reduceTransparency);
    EXPECT_TRUE(c.increaseContrast);
    EXPECT_FALSE(c.dark);
    EXPECT_EQ(c.previewState, PreviewState::denied);
    EXPECT_EQ(c.previewRows, 12);

    // Alone they leave a normal launch.
    EXPECT_EQ(parse({"--dark"}).mode, Mode::launch);
    EXPECT_TRUE(parse({"--preview-engine"}).previewEngine);
    EXPECT_EQ(parse({"--keytest", "--preview-state", "no-output"}).previewState,
              PreviewState::noOutput);
}

TEST(CommandLine, BadArgumentsGetOneClearMessage) {
    EXPECT_EQ(errorOf({"--no-such-switch"}),
              "unknown option '--no-such-switch' (see brindell --help)");
    EXPECT_EQ(errorOf({"--keytest", "--mixer-snapshot"}),
              "--keytest and --mixer-snapshot cannot be combined");
    EXPECT_EQ(errorOf({"--help", "extra"}), "unexpected argument 'extra' after --help");
    EXPECT_EQ(errorOf({"--preview-rows"}), "--preview-rows needs a count from 0 to 200");
    for (const char* bad : {"-1", "201", "12x", "", " 3", "0x10"}) {
        EXPECT_EQ(errorOf({"--preview-rows", bad}),
                  std::string("--preview-rows needs a count from 0 to 200, not '") + bad + "'")
            << bad;
    }
    EXPECT_EQ(errorOf({"--preview-state", "sideways"}),
              "unknown preview state 'sideways' (one of: canned, granted, denied, no-output, "
              "fixed-volume, empty)");
    EXPECT_EQ(errorOf({"--preview-state"}),
              "--preview-state needs one of: canned, granted, denied, no-output, fixed-volume, "
              "empty");
    EXPECT_EQ(errorOf({"-x"}), "unknown option '-x' (see brindell --help)");
}

TEST(CommandLine, QtsOwnOptionsAndTheirValuesAreLeftToQt) {
    // A desktop or a user may start any Qt program with these; they never change the mode.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
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
    const CommandLine preview = parse({"-platform", "offscreen", "--preview-engine"});
    EXPECT_TRUE(preview.previewEngine);
    const CommandLine snapshot = parse({"--mixer-snapshot", "-platform", "offscreen"});
    EXPECT_EQ(snapshot.mode, Mode::mixerSnapshot);
    EXPECT_EQ(snapshot.outputPath, "") << "a Qt option is not a path";

    // Forms Qt itself does not take stay errors.
    EXPECT_EQ(errorOf({"-platform=xcb"}), "unknown option '-platform=xcb' (see brindell --help)");
    EXPECT_EQ(errorOf({"-stylefusion"}), "unknown option '-stylefusion' (see brindell --help)");
    EXPECT_EQ(errorOf({"-platform", "xcb", "extra"}), "unexpected argument 'extra' after xcb");
    EXPECT_EQ(errorOf({""}), "unexpected argument ''");
}

TEST(CommandLine, MasterTestTakesNoArgument) {
    EXPECT_EQ(parse({"--mastertest"}).mode, Mode::masterTest);
    EXPECT_EQ(errorOf({"--mastertest", "0.3"}), "unexpected argument '0.3' after --mastertest");
    EXPECT_EQ(errorOf({"--mastertest", "--cycletest", "2"}),
              "--mastertest and --cycletest cannot be combined");
}

TEST(CommandLine, AudioDiagnosticsReadTheirArguments) {
    EXPECT_EQ(parse({"--cycletest", "3"}).cycles, 3);
    EXPECT_EQ(parse({"--autoproof"}).proofPid, std::nullopt);
    EXPECT_EQ(parse({"--autoproof", "42"}).proofPid, std::optional<std::int32_t>(42));
    const CommandLine route = parse({"--routetest", "4242"});
    EXPECT_EQ(route.mode, Mode::routeTest);
    EXPECT_EQ(route.routePid, 4242);
    EXPECT_EQ(parse({"--crashtest", "crash"}).crashTestAction, "crash");
    EXPECT_EQ(parse({"--crashtest"}).crashTestAction, "");

    EXPECT_EQ(errorOf({"--routetest"}), "--routetest needs a process id");
    EXPECT_EQ(errorOf({"--routetest", "0"}), "bad process id '0' after --routetest");
    EXPECT_EQ(errorOf({"--routetest", "--dark"}), "bad process id '--dark' after --routetest");
    EXPECT_EQ(errorOf({"--routetest", "12", "13"}), "unexpected argument '13' after 12");
    EXPECT_EQ(errorOf({"--autoproof", "12abc"}), "bad process id '12abc' after --autoproof");
    EXPECT_EQ(errorOf({"--cycletest", "-2"}),
              "--cycletest needs a positive number of cycles, not '-2'");
    EXPECT_EQ(errorOf({"--crashtest", "now"}),
              "--crashtest takes no argument or 'crash', not 'now'");
    EXPECT_EQ(errorOf({"--cycletest", "2", "--routetest", "5"}),
              "--cycletest and --routetest cannot be combined");
}

TEST(CommandLine, CtlHandsEveryFollowingArgumentToTheControl) {
    const auto commandLine = parse({"ctl", "set-volume", "firefox", "-5%", "--json"});
    EXPECT_EQ(commandLine.mode, Mode::control);
    EXPECT_EQ(commandLine.controlArgs,
              (std::vector<std::string>{"set-volume", "firefox", "-5%", "--json"}));
    EXPECT_EQ(parse({"ctl"}).controlArgs, std::vector<std::string>{});
    // Only as the first argument: a launch does not take it.
    EXPECT_EQ(errorOf({"--preview-engine", "ctl"}),
              "unexpected argument 'ctl' after --preview-engine");
}

TEST(CommandLine, SourceTestTakesAPositiveNumberOfSeconds) {
    EXPECT_EQ(parse({"--sourcetest", "5"}).mode, Mode::sourceTest);
    EXPECT_DOUBLE_EQ(parse({"--sourcetest", "5"}).sourceTestSeconds, 5.0);
    EXPECT_DOUBLE_EQ(parse({"--sourcetest", "0.25"}).sourceTestSeconds, 0.25);
    for (const char* bad : {"0", "-1", "x", "", "nan", "inf", "1e400", "3s", "86401"}) {
        EXPECT_EQ(errorOf({"--sourcetest", bad}),
                  std::string("--sourcetest needs a positive number of seconds (at most 86400), "
                              "not '") +
                      bad + "'")
            << bad;
    }
    EXPECT_NE(errorOf({"--sourcetest"}).find("needs a positive number of seconds"),
              std::string::npos);
    EXPECT_NE(helpText().find("--sourcetest SECONDS"), std::string::npos);
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
