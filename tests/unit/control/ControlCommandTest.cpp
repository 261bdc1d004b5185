#include "control/ControlCommand.h"

#include <gtest/gtest.h>

namespace brindell {
namespace {

using Action = ControlCommand::Action;

// The message of the error parsing throws; empty when it throws none.
std::string refusal(const std::vector<std::string>& args) {
    try {
        parseControlCommand(args);
    } catch (const ControlRequestError& error) {
        EXPECT_EQ(error.kind(), ControlRequestError::Kind::invalidArgument);
        return error.what();
    }
    return {};
}

TEST(ControlCommand, AppCommands) {
    auto command = parseControlCommand({"set-volume", "firefox", "40%"});
    EXPECT_EQ(command.action, Action::setVolume);
    EXPECT_EQ(command.app, "firefox");
    EXPECT_EQ(command.volume, (VolumeChange{false, 0.4}));

    // A leading minus is a volume change, not an option.
    command = parseControlCommand({"set-volume", "123", "-5%"});
    EXPECT_EQ(command.volume, (VolumeChange{true, -0.05}));

    EXPECT_EQ(parseControlCommand({"mute", "123"}).action, Action::mute);
    EXPECT_EQ(parseControlCommand({"unmute", "123"}).action, Action::unmute);
    EXPECT_EQ(parseControlCommand({"toggle-mute", "123"}).action, Action::toggleMute);

    command = parseControlCommand({"set-output", "123", "Headphones"});
    EXPECT_EQ(command.action, Action::setOutput);
    EXPECT_EQ(command.device, "Headphones");
    EXPECT_FALSE(command.followDefault);
    command = parseControlCommand({"set-output", "123", "default"});
    EXPECT_TRUE(command.followDefault);
    EXPECT_TRUE(command.device.empty());
}

TEST(ControlCommand, ForgetMasterJsonAndHelpForms) {
    auto command = parseControlCommand({"forget", "org.example.Player"});
    EXPECT_EQ(command.action, Action::forget);
    EXPECT_EQ(command.app, "org.example.Player");
    EXPECT_EQ(parseControlCommand({"forget", "--all"}).action, Action::forgetAll);
    EXPECT_FALSE(refusal({"forget"}).empty());
    EXPECT_FALSE(refusal({"forget", "x", "--all"}).empty());
    EXPECT_FALSE(refusal({"forget", ""}).empty());

    EXPECT_EQ(parseControlCommand({"master"}).action, Action::master);
    EXPECT_EQ(parseControlCommand({"master", "mute"}).action, Action::masterMute);
    EXPECT_EQ(parseControlCommand({"master", "unmute"}).action, Action::masterUnmute);
    EXPECT_EQ(parseControlCommand({"master", "toggle-mute"}).action, Action::masterToggleMute);
    command = parseControlCommand({"master", "+5%"});
    EXPECT_EQ(command.action, Action::setMasterVolume);
    EXPECT_EQ(command.volume, (VolumeChange{true, 0.05}));
    EXPECT_FALSE(refusal({"master", "loud"}).empty());
    EXPECT_FALSE(refusal({"master", "40%", "mute"}).empty());

    // --json and help anywhere.
    EXPECT_EQ(parseControlCommand({"list", "--json"}).action, Action::list);
    EXPECT_TRUE(parseControlCommand({"list", "--json"}).json);
    EXPECT_TRUE(parseControlCommand({"--json", "outputs"}).json);
    EXPECT_EQ(parseControlCommand({"set-volume", "--help"}).action, Action::help);
    EXPECT_EQ(parseControlCommand({"help"}).action, Action::help);
    EXPECT_EQ(parseControlCommand({"default-output", "Monitor"}).device, "Monitor");
    EXPECT_EQ(parseControlCommand({"toggle"}).action, Action::toggle);
}

TEST(ControlCommand, BadInputIsRefusedWithOneSentence) {
    const std::vector<std::vector<std::string>> bad = {{},
                                                       {"louder"},
                                                       {"list", "--verbose"},
                                                       {"set-volume", "firefox"},
                                                       {"set-volume", "", "40%"},
                                                       {"set-output", "1", ""},
                                                       {"set-volume", "firefox", "40"},
                                                       {"list", "--all"}};
    for (const auto& args : bad) {
        const std::string message = refusal(args);
        EXPECT_FALSE(message.empty()) << args.size();
        EXPECT_EQ(message.find('\n'), std::string::npos);
    }
}

} // namespace
} // namespace brindell
