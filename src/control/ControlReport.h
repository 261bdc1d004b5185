#pragma once

#include "mixer/MixerRecords.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace brindell {

// What the control service tells about one app row; the same fields travel over the bus.
struct ControlApp {
    pid_type pid = 0;
    std::string bundleID; // empty when the app has none
    std::string name;
    double volume = 1.0;
    bool muted = false;
    std::string outputUID; // empty: the system default output
    std::string status;    // the row's status sentence; empty when all is well
    bool active = true;
    friend bool operator==(const ControlApp&, const ControlApp&) = default;
};

struct ControlOutput {
    std::string uid;
    std::string name;
    std::string transport; // the case name: builtIn, usb, bluetooth, hdmi...
    bool isDefault = false;
    friend bool operator==(const ControlOutput&, const ControlOutput&) = default;
};

struct ControlMaster {
    std::string uid;
    std::string name;
    std::optional<double> volume; // none: the device has no software volume
    std::optional<bool> muted;    // none: its mute cannot be set
    friend bool operator==(const ControlMaster&, const ControlMaster&) = default;
};

ControlApp controlApp(const MixerRow& row);
std::vector<ControlApp> controlApps(const std::vector<MixerRow>& rows);
// The outputs with the default output (the master's device) marked.
std::vector<ControlOutput> controlOutputs(const std::vector<OutputChoice>& outputs,
                                          const std::optional<OutputState>& master);
std::optional<ControlMaster> controlMaster(const std::optional<OutputState>& master);

// A volume as it travels: the float rounded to six decimals, so 0.3f reads 0.3.
double volumeValue(float volume);

// Human-readable tables, one line per entry, columns aligned; an empty list says so.
std::string appsTable(const std::vector<ControlApp>& apps,
                      const std::vector<ControlOutput>& outputs);
std::string outputsTable(const std::vector<ControlOutput>& outputs);
std::string masterText(const std::optional<ControlMaster>& master);
// The apps on one line, as `ctl watch` prints each change: "Music (1): 40%, muted; ...".
std::string appsLine(const std::vector<ControlApp>& apps);

// Machine-readable forms (--json). Absent ids, outputs and values are null. With levels, every
// app also has a "level": its live level (0 to 1), or null when it has none (not adjusted).
nlohmann::json appsJson(const std::vector<ControlApp>& apps);
nlohmann::json appsJson(const std::vector<ControlApp>& apps, const MixerLevels& levels);
nlohmann::json outputsJson(const std::vector<ControlOutput>& outputs);
nlohmann::json masterJson(const std::optional<ControlMaster>& master);
// Compact JSON on one line and a line feed (JSON lines), with the same replacement.
std::string jsonLine(const nlohmann::json& value);
// Indented JSON and a line feed; bytes that are not UTF-8 become U+FFFD instead of failing.
std::string jsonText(const nlohmann::json& value);

} // namespace brindell
