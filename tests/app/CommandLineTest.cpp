#include "app/CommandLine.h"

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

TEST(CommandLine, HelpNamesEveryDiagnostic) {
    const std::string help = helpText();
    for (const char* name : {"--mixer-snapshot", "--panel-snapshot", "--keytest", "--dark",
                             "--reduce-transparency", "--increase-contrast", "--preview-state",
                             "--preview-rows", "--preview-engine", "--callbackbench"}) {
        EXPECT_NE(help.find(name), std::string::npos) << name;
    }
}

} // namespace
} // namespace brindell
