#include "control/ControlReport.h"

#include <gtest/gtest.h>

namespace brindell {
namespace {

MixerRow row(pid_type pid, std::string name, float volume) {
    MixerRow r;
    r.pid = pid;
    r.name = std::move(name);
    r.volume = volume;
    return r;
}

TEST(ControlReport, AppRecordsCarryTheRowAndItsStatusSentence) {
    MixerRow waiting = row(4, "Game", 0.3f);
    waiting.bundleID = "com.example.game";
    waiting.outputUID = "usb";
    waiting.status = MixerRowStatus::waitingForDevice();
    const ControlApp app = controlApp(waiting);
    EXPECT_EQ(app.pid, 4);
    EXPECT_EQ(app.bundleID, "com.example.game");
    EXPECT_EQ(app.volume, 0.3); // not 0.30000001192...
    EXPECT_EQ(app.outputUID, "usb");
    EXPECT_EQ(app.status, presentation(waiting.status, true)->sentence);

    // No sentence for ok, or for starting while not playing.
    MixerRow idle = row(5, "Idle", 1.0f);
    idle.isActive = false;
    idle.status = MixerRowStatus::starting();
    EXPECT_EQ(controlApp(idle).status, "");
    EXPECT_EQ(controlApp(idle).bundleID, "");
}

TEST(ControlReport, OutputsMarkTheDefault) {
    const std::vector<OutputChoice> choices = {{"a", "Speakers", DeviceTransport::builtIn},
                                               {"b", "Headphones", DeviceTransport::bluetooth}};
    const auto outputs = controlOutputs(choices, OutputState{"b", "Headphones", 0.5f, false});
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_FALSE(outputs[0].isDefault);
    EXPECT_TRUE(outputs[1].isDefault);
    EXPECT_EQ(outputs[1].transport, "bluetooth");
    EXPECT_FALSE(controlOutputs(choices, std::nullopt)[0].isDefault);
}

TEST(ControlReport, TablesAlignAndNameOutputs) {
    ControlApp music{1, "com.example.music", "Music", 0.8, false, "", "", true};
    ControlApp call{22, "", "Vidéo Call", 1.0, true, "bt", "", false};
    const std::vector<ControlOutput> outputs = {{"bt", "Headphones", "bluetooth", false}};
    EXPECT_EQ(appsTable({music, call}, outputs),
              "PID  VOLUME  MUTED  PLAYING  OUTPUT      NAME        ID                 STATUS\n"
              "1    80%     no     yes      default     Music       com.example.music\n"
              "22   100%    yes    no       Headphones  Vidéo Call  -\n");
    EXPECT_EQ(appsTable({}, outputs), "No app is playing.\n");
    EXPECT_EQ(outputsTable({{"builtin", "Built-in Speakers", "builtIn", true},
                            {"bt", "Headphones", "bluetooth", false}}),
              "   UID      NAME               TRANSPORT\n"
              "*  builtin  Built-in Speakers  builtIn\n"
              "   bt       Headphones         bluetooth\n");
}

TEST(ControlReport, MasterTextAndJsonShowWhatTheDeviceLacks) {
    EXPECT_EQ(masterText(ControlMaster{"builtin", "Speakers", 0.6, false}),
              "Speakers (builtin): 60%, not muted\n");
    EXPECT_EQ(masterText(ControlMaster{"hdmi", "Monitor", std::nullopt, std::nullopt}),
              "Monitor (hdmi): fixed volume\n");
    EXPECT_EQ(masterText(std::nullopt), "No default output is known.\n");
    const auto json = masterJson(ControlMaster{"hdmi", "Monitor", std::nullopt, true});
    EXPECT_TRUE(json["volume"].is_null());
    EXPECT_EQ(json["muted"], true);
    EXPECT_TRUE(masterJson(std::nullopt).is_null());
}

TEST(ControlReport, JsonUsesNullForAbsentValuesAndSurvivesBadBytes) {
    ControlApp app{7, "", std::string("Bad \xff name"), 0.5, false, "", "", true};
    const auto json = appsJson({app});
    ASSERT_TRUE(json[0].contains("appId")) << "scripts read the app id under this key";
    EXPECT_TRUE(json[0]["appId"].is_null());
    EXPECT_TRUE(json[0]["outputUID"].is_null());
    EXPECT_TRUE(json[0]["status"].is_null());
    EXPECT_EQ(json[0]["volume"], 0.5);
    const std::string text = jsonText(json);
    EXPECT_NE(text.find("Bad \xef\xbf\xbd name"), std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(text)[0]["pid"], 7);
}

TEST(ControlReport, LevelsJoinTheJsonAndWatchLinesHoldOneLineEach) {
    const std::vector<ControlApp> apps = {
        {1, "org.example.Music", "Music", 0.4, false, "", "", true},
        {2, "", "Game", 1.0, true, "hdmi", "Starting\u2026", false}};
    // Music measured (as a float reads), Game not adjusted.
    const auto json = appsJson(apps, {{1, 0.3f}});
    EXPECT_EQ(json[0]["level"], 0.3);
    EXPECT_TRUE(json[1]["level"].is_null());
    EXPECT_FALSE(appsJson(apps)[0].contains("level")) << "no levels asked, no field";

    const std::string line = jsonLine(json);
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    EXPECT_EQ(nlohmann::json::parse(line), json);
    EXPECT_EQ(appsLine(apps),
              "Music (1): 40%; Game (2): 100%, muted, on hdmi, not playing, Starting\u2026\n");
    EXPECT_EQ(appsLine({}), "No app is playing.\n");
}

} // namespace
} // namespace brindell
