#include "control/ControlValues.h"

#include <gtest/gtest.h>

namespace brindell {
namespace {

using Kind = ControlRequestError::Kind;

// The kind of error a call throws; fails the test when it throws none.
template <class Call> Kind errorKind(Call&& call) {
    try {
        call();
    } catch (const ControlRequestError& error) {
        EXPECT_FALSE(std::string(error.what()).empty());
        return error.kind();
    }
    ADD_FAILURE() << "no error";
    return Kind::invalidArgument;
}

MixerRow row(pid_type pid, std::optional<std::string> id, std::string name) {
    MixerRow r;
    r.pid = pid;
    r.bundleID = std::move(id);
    r.name = std::move(name);
    return r;
}

TEST(ControlVolume, AbsoluteAndRelativeForms) {
    EXPECT_EQ(parseVolume("40%"), (VolumeChange{false, 0.4}));
    EXPECT_EQ(parseVolume("0.4"), (VolumeChange{false, 0.4}));
    EXPECT_EQ(parseVolume("100%"), (VolumeChange{false, 1.0}));
    EXPECT_EQ(parseVolume(".5"), (VolumeChange{false, 0.5}));
    EXPECT_DOUBLE_EQ(parseVolume("12.5%").amount, 0.125);

    // Relative forms move and clamp.
    const auto up = parseVolume("+5%");
    EXPECT_TRUE(up.relative);
    EXPECT_DOUBLE_EQ(up.appliedTo(0.5), 0.55);
    EXPECT_DOUBLE_EQ(up.appliedTo(0.98), 1.0);
    const auto down = parseVolume("-5%");
    EXPECT_TRUE(down.relative);
    EXPECT_DOUBLE_EQ(down.appliedTo(0.5), 0.45);
    EXPECT_DOUBLE_EQ(down.appliedTo(0.02), 0.0);
    EXPECT_DOUBLE_EQ(parseVolume("-0.1").appliedTo(0.3), 0.2);
    // An absolute volume ignores the current one.
    EXPECT_DOUBLE_EQ(parseVolume("40%").appliedTo(0.9), 0.4);
}

TEST(ControlVolume, MalformedAndOutOfRangeAreRefused) {
    for (const char* bad :
         {"",    "%",    "+",    "-",   "abc",   "40 %", " 40%", "4O%",  "1e-1",  "0x1", "nan",
          "inf", "--5%", "+-5%", "5%%", "1.2.3", "40",   "150%", "1.01", "+101%", "-2",  "%40"}) {
        EXPECT_EQ(errorKind([&] { parseVolume(bad); }), Kind::invalidArgument) << bad;
    }
}

TEST(ControlPid, OnlyPlainPositiveNumbers) {
    pid_type pid = 0;
    EXPECT_TRUE(parsePid("1234", &pid));
    EXPECT_EQ(pid, 1234);
    for (const char* bad : {"", "0", "-5", "+5", "12abc", "99999999999", " 1"}) {
        EXPECT_FALSE(parsePid(bad, &pid)) << bad;
    }
}

class ControlAppResolution : public ::testing::Test {
protected:
    std::vector<MixerRow> rows = {
        row(10, "org.example.Player", "Player"),
        row(11, "org.example.Player", "Player"), // a second instance of the same app
        row(20, "com.example.browser", "Browser"),
        row(30, std::nullopt, "tool"),
        row(40, "org.other.Browser", "browser"), // same name, another app
    };
};

TEST_F(ControlAppResolution, ByPidNamesThatRowOnly) {
    EXPECT_EQ(resolveApp(rows, "11"), std::vector<pid_type>{11});
    EXPECT_EQ(errorKind([&] { resolveApp(rows, "12"); }), Kind::noSuchApp);

    // Any pid of a row's members names the row: two instances grouped as one app.
    rows[2].memberPIDs = {20, 21, 25};
    EXPECT_EQ(resolveApp(rows, "25"), std::vector<pid_type>{20});
    EXPECT_EQ(resolveApp(rows, "20"), std::vector<pid_type>{20});
    EXPECT_EQ(resolveForgetID(rows, "21"), "com.example.browser");
    EXPECT_EQ(errorKind([&] { resolveApp(rows, "22"); }), Kind::noSuchApp);
}

TEST_F(ControlAppResolution, ByIdOrNameNamesEveryRowOfTheAppUnlessSeveralAppsAnswer) {
    EXPECT_EQ(resolveApp(rows, "org.example.Player"), (std::vector<pid_type>{10, 11}));
    EXPECT_EQ(resolveApp(rows, "ORG.EXAMPLE.PLAYER"), (std::vector<pid_type>{10, 11}));
    EXPECT_EQ(resolveApp(rows, "com.example.browser"), std::vector<pid_type>{20});
    // By name, ignoring case, unless several apps answer.
    EXPECT_EQ(resolveApp(rows, "player"), (std::vector<pid_type>{10, 11}));
    EXPECT_EQ(resolveApp(rows, "TOOL"), std::vector<pid_type>{30});
    EXPECT_EQ(errorKind([&] { resolveApp(rows, "browser"); }), Kind::ambiguous);
    EXPECT_EQ(errorKind([&] { resolveApp(rows, "nothing"); }), Kind::noSuchApp);
    EXPECT_EQ(errorKind([&] { resolveApp(rows, ""); }), Kind::invalidArgument);
}

TEST_F(ControlAppResolution, ForgetTakesTheAppsIdOrTheTextItself) {
    EXPECT_EQ(resolveForgetID(rows, "10"), "org.example.Player");
    EXPECT_EQ(resolveForgetID(rows, "player"), "org.example.Player");
    // Not playing now: its remembered settings can still go.
    EXPECT_EQ(resolveForgetID(rows, "org.gone.App"), "org.gone.App");
    EXPECT_EQ(errorKind([&] { resolveForgetID(rows, "30"); }), Kind::notSupported);
    EXPECT_EQ(errorKind([&] { resolveForgetID(rows, "99"); }), Kind::noSuchApp);
    EXPECT_EQ(errorKind([&] { resolveForgetID(rows, "browser"); }), Kind::ambiguous);
}

TEST(ControlOutputResolution, ByUidThenNameIgnoringCase) {
    const std::vector<OutputChoice> outputs = {
        {"alsa_output.pci.analog", "Built-in Speakers", DeviceTransport::builtIn},
        {"bluez_output.AA", "Headphones", DeviceTransport::bluetooth},
        {"hdmi-1", "Monitor", DeviceTransport::hdmi},
        {"hdmi-2", "Monitor", DeviceTransport::hdmi},
    };
    EXPECT_EQ(resolveOutput(outputs, "bluez_output.AA"), "bluez_output.AA");
    EXPECT_EQ(resolveOutput(outputs, "headphones"), "bluez_output.AA");
    EXPECT_EQ(resolveOutput(outputs, "BUILT-IN SPEAKERS"), "alsa_output.pci.analog");
    EXPECT_EQ(resolveOutput(outputs, "HDMI-2"), "hdmi-2");
    EXPECT_EQ(errorKind([&] { resolveOutput(outputs, "monitor"); }), Kind::ambiguous);
    EXPECT_EQ(errorKind([&] { resolveOutput(outputs, "usb"); }), Kind::noSuchOutput);
    EXPECT_EQ(errorKind([&] { resolveOutput(outputs, ""); }), Kind::invalidArgument);
}

} // namespace
} // namespace brindell
