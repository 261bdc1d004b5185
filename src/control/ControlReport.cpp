#include "control/ControlReport.h"

#include "control/ControlValues.h"

#include <algorithm>
#include <cmath>

namespace brindell {

namespace {

// Characters, not bytes, so that names in any script line up (wide glyphs aside).
std::size_t displayWidth(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// Lines of cells, each column padded to its widest cell; no trailing blanks.
std::string table(const std::vector<std::vector<std::string>>& lines) {
    std::vector<std::size_t> widths;
    for (const auto& cells : lines) {
        widths.resize(std::max(widths.size(), cells.size()), 0);
        for (std::size_t i = 0; i < cells.size(); ++i) {
            widths[i] = std::max(widths[i], displayWidth(cells[i]));
        }
    }
    std::string text;
    for (const auto& cells : lines) {
        std::string line;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            line += cells[i];
            if (i + 1 < cells.size()) {
                line += std::string(widths[i] - displayWidth(cells[i]) + 2, ' ');
            }
        }
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        text += line + "\n";
    }
    return text;
}

nlohmann::json orNull(const std::string& text) {
    return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
}

} // namespace

double volumeValue(float volume) {
    if (!std::isfinite(volume)) {
        return static_cast<double>(volume);
    }
    return std::round(static_cast<double>(volume) * 1e6) / 1e6;
}

ControlApp controlApp(const MixerRow& row) {
    ControlApp app;
    app.pid = row.pid;
    app.bundleID = row.bundleID.value_or("");
    app.name = row.name;
    app.volume = volumeValue(row.volume);
    app.muted = row.isMuted;
    app.outputUID = row.outputUID.value_or("");
    if (const auto shown = presentation(row.status, row.isActive)) {
        app.status = shown->sentence;
    }
    app.active = row.isActive;
    return app;
}

std::vector<ControlApp> controlApps(const std::vector<MixerRow>& rows) {
    std::vector<ControlApp> apps;
    apps.reserve(rows.size());
    for (const auto& row : rows) {
        apps.push_back(controlApp(row));
    }
    return apps;
}

std::vector<ControlOutput> controlOutputs(const std::vector<OutputChoice>& outputs,
                                          const std::optional<OutputState>& master) {
    std::vector<ControlOutput> list;
    for (const auto& output : outputs) {
        list.push_back({output.uid, output.name, toString(output.transport),
                        master.has_value() && master->deviceUID == output.uid});
    }
    return list;
}

std::optional<ControlMaster> controlMaster(const std::optional<OutputState>& master) {
    if (!master) {
        return std::nullopt;
    }
    ControlMaster result{master->deviceUID, master->deviceName, std::nullopt, master->isMuted};
    if (master->volume) {
        result.volume = volumeValue(*master->volume);
    }
    return result;
}

std::string appsTable(const std::vector<ControlApp>& apps,
                      const std::vector<ControlOutput>& outputs) {
    if (apps.empty()) {
        return "No app is playing.\n";
    }
    std::vector<std::vector<std::string>> lines = {
        {"PID", "VOLUME", "MUTED", "PLAYING", "OUTPUT", "NAME", "ID", "STATUS"}};
    for (const auto& app : apps) {
        std::string output = "default";
        if (!app.outputUID.empty()) {
            output = app.outputUID;
            for (const auto& choice : outputs) {
                if (choice.uid == app.outputUID) {
                    output = choice.name;
                }
            }
        }
        lines.push_back({std::to_string(app.pid), percentText(app.volume), app.muted ? "yes" : "no",
                         app.active ? "yes" : "no", output, app.name,
                         app.bundleID.empty() ? "-" : app.bundleID, app.status});
    }
    return table(lines);
}

std::string outputsTable(const std::vector<ControlOutput>& outputs) {
    if (outputs.empty()) {
        return "No output device is connected.\n";
    }
    std::vector<std::vector<std::string>> lines = {{"", "UID", "NAME", "TRANSPORT"}};
    for (const auto& output : outputs) {
        lines.push_back({output.isDefault ? "*" : " ", output.uid, output.name, output.transport});
    }
    return table(lines);
}

std::string masterText(const std::optional<ControlMaster>& master) {
    if (!master) {
        return "No default output is known.\n";
    }
    std::string text = master->name + " (" + master->uid + "): ";
    text += master->volume ? percentText(*master->volume) : std::string("fixed volume");
    if (master->muted) {
        text += *master->muted ? ", muted" : ", not muted";
    }
    return text + "\n";
}

std::string appsLine(const std::vector<ControlApp>& apps) {
    if (apps.empty()) {
        return "No app is playing.\n";
    }
    std::string line;
    for (const auto& app : apps) {
        if (!line.empty()) {
            line += "; ";
        }
        line += app.name + " (" + std::to_string(app.pid) + "): " + percentText(app.volume);
        if (app.muted) {
            line += ", muted";
        }
        if (!app.outputUID.empty()) {
            line += ", on " + app.outputUID;
        }
        if (!app.active) {
            line += ", not playing";
        }
        if (!app.status.empty()) {
            line += ", " + app.status;
        }
    }
    return line + "\n";
}

nlohmann::json appsJson(const std::vector<ControlApp>& apps) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& app : apps) {
        list.push_back({{"pid", app.pid},
                        {"appId", orNull(app.bundleID)},
                        {"name", app.name},
                        {"volume", app.volume},
                        {"muted", app.muted},
                        {"active", app.active},
                        {"outputUID", orNull(app.outputUID)},
                        {"status", orNull(app.status)}});
    }
    return list;
}

nlohmann::json appsJson(const std::vector<ControlApp>& apps, const MixerLevels& levels) {
    nlohmann::json list = appsJson(apps);
    for (std::size_t i = 0; i < apps.size(); ++i) {
        const auto found = levels.find(apps[i].pid);
        list[i]["level"] = found == levels.end() ? nlohmann::json(nullptr)
                                                 : nlohmann::json(volumeValue(found->second));
    }
    return list;
}

nlohmann::json outputsJson(const std::vector<ControlOutput>& outputs) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& output : outputs) {
        list.push_back({{"uid", output.uid},
                        {"name", output.name},
                        {"transport", output.transport},
                        {"default", output.isDefault}});
    }
    return list;
}

nlohmann::json masterJson(const std::optional<ControlMaster>& master) {
    if (!master) {
        return nullptr;
    }
    return {{"uid", master->uid},
            {"name", master->name},
            {"volume", master->volume ? nlohmann::json(*master->volume) : nlohmann::json(nullptr)},
            {"muted", master->muted ? nlohmann::json(*master->muted) : nlohmann::json(nullptr)}};
}

std::string jsonLine(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string jsonText(const nlohmann::json& value) {
    return value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

} // namespace brindell
