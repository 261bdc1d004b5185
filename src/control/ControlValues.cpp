#include "control/ControlValues.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace brindell {

namespace {

using Kind = ControlRequestError::Kind;

const char* const volumeExamples = "such as 40%, 0.4, +5% or -5%";

[[noreturn]] void notAVolume(const std::string& text) {
    if (text.empty()) {
        throw ControlRequestError(Kind::invalidArgument,
                                  std::string("Give a volume, ") + volumeExamples + ".");
    }
    throw ControlRequestError(Kind::invalidArgument,
                              "\"" + text + "\" is not a volume; give one " + volumeExamples + ".");
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Digits with at most one decimal point and at least one digit; nothing else.
bool isPlainDecimal(const std::string& text) {
    int points = 0;
    int digits = 0;
    for (const char c : text) {
        if (c == '.') {
            ++points;
        } else if (isDigit(c)) {
            ++digits;
        } else {
            return false;
        }
    }
    return points <= 1 && digits > 0;
}

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string describeRows(const std::vector<const MixerRow*>& rows) {
    std::string text;
    for (const MixerRow* row : rows) {
        text += (text.empty() ? "" : ", ") + row->name + " (pid " + std::to_string(row->pid) +
                (row->bundleID ? ", " + *row->bundleID : "") + ")";
    }
    return text;
}

// All rows of one application: the same id, or a single row without one.
bool oneApplication(const std::vector<const MixerRow*>& rows) {
    if (rows.size() <= 1) {
        return true;
    }
    const auto& id = rows.front()->bundleID;
    return id && std::all_of(rows.begin(), rows.end(),
                             [&id](const MixerRow* row) { return row->bundleID == id; });
}

std::vector<pid_type> pidsOf(const std::vector<const MixerRow*>& rows) {
    std::vector<pid_type> pids;
    for (const MixerRow* row : rows) {
        pids.push_back(row->pid);
    }
    return pids;
}

// The rows the app argument names, or empty; throws when it is ambiguous.
std::vector<const MixerRow*> matchRows(const std::vector<MixerRow>& rows, const std::string& app) {
    const auto collect = [&rows](auto&& predicate) {
        std::vector<const MixerRow*> found;
        for (const auto& row : rows) {
            if (predicate(row)) {
                found.push_back(&row);
            }
        }
        return found;
    };
    auto exact = collect([&app](const MixerRow& row) { return row.bundleID == app; });
    if (!exact.empty()) {
        return exact;
    }
    const std::string lower = asciiLower(app);
    auto loose = collect([&lower](const MixerRow& row) {
        return (row.bundleID && asciiLower(*row.bundleID) == lower) ||
               asciiLower(row.name) == lower;
    });
    if (!oneApplication(loose)) {
        throw ControlRequestError(Kind::ambiguous,
                                  quoted(app) + " names several apps: " + describeRows(loose) +
                                      "; name one by pid or application id.");
    }
    return loose;
}

} // namespace

double VolumeChange::appliedTo(double current) const {
    if (!relative) {
        return amount;
    }
    const double base = std::isnan(current) ? 1.0 : current;
    return std::clamp(base + amount, 0.0, 1.0);
}

VolumeChange parseVolume(const std::string& text) {
    VolumeChange change;
    std::string body = text;
    int sign = 1;
    if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
        change.relative = true;
        sign = body.front() == '-' ? -1 : 1;
        body.erase(0, 1);
    }
    const bool percent = !body.empty() && body.back() == '%';
    if (percent) {
        body.pop_back();
    }
    if (!isPlainDecimal(body)) {
        notAVolume(text);
    }
    double value = 0.0;
    const auto [end, error] =
        std::from_chars(body.data(), body.data() + body.size(), value, std::chars_format::fixed);
    if (error != std::errc() || end != body.data() + body.size() || !std::isfinite(value)) {
        notAVolume(text);
    }
    const double fraction = percent ? value / 100.0 : value;
    if (fraction > 1.0) {
        if (change.relative) {
            throw ControlRequestError(Kind::invalidArgument,
                                      "A change of " + text +
                                          " is out of range; give at most 100% either way.");
        }
        throw ControlRequestError(Kind::invalidArgument,
                                  "A volume of " + text + " is out of range; give " +
                                      (percent ? std::string("0% to 100%")
                                               : std::string("0 to 1, or a percentage such as "
                                                             "40%")) +
                                      ".");
    }
    change.amount = sign * fraction;
    return change;
}

std::string percentText(double volume) {
    if (!std::isfinite(volume)) {
        return "?";
    }
    return std::to_string(std::lround(volume * 100.0)) + "%";
}

bool parsePid(const std::string& text, pid_type* pid) {
    if (text.empty() || !std::all_of(text.begin(), text.end(), isDigit)) {
        return false;
    }
    pid_type value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value <= 0) {
        return false;
    }
    *pid = value;
    return true;
}

std::vector<pid_type> resolveApp(const std::vector<MixerRow>& rows, const std::string& app) {
    if (app.empty()) {
        throw ControlRequestError(Kind::invalidArgument,
                                  "Name an app by its pid or its application id.");
    }
    pid_type pid = 0;
    if (parsePid(app, &pid)) {
        // Any process of a row names the row: a second instance of an app is its row too.
        const auto row = std::find_if(rows.begin(), rows.end(),
                                      [pid](const MixerRow& r) { return r.names(pid); });
        if (row == rows.end()) {
            throw ControlRequestError(Kind::noSuchApp,
                                      "No app with pid " + app + " is in the mixer.");
        }
        return {row->pid};
    }
    const auto found = matchRows(rows, app);
    if (found.empty()) {
        throw ControlRequestError(Kind::noSuchApp, "No app " + quoted(app) + " is in the mixer.");
    }
    return pidsOf(found);
}

std::string resolveForgetID(const std::vector<MixerRow>& rows, const std::string& app) {
    if (app.empty()) {
        throw ControlRequestError(Kind::invalidArgument,
                                  "Name an app by its pid or its application id.");
    }
    pid_type pid = 0;
    if (parsePid(app, &pid)) {
        const auto row = std::find_if(rows.begin(), rows.end(),
                                      [pid](const MixerRow& r) { return r.names(pid); });
        if (row == rows.end()) {
            throw ControlRequestError(Kind::noSuchApp,
                                      "No app with pid " + app + " is in the mixer.");
        }
        if (!row->bundleID || row->bundleID->empty()) {
            throw ControlRequestError(Kind::notSupported,
                                      row->name + " (pid " + app +
                                          ") has no application id, so nothing is remembered "
                                          "for it.");
        }
        return *row->bundleID;
    }
    const auto found = matchRows(rows, app);
    if (found.empty()) {
        return app;
    }
    if (!found.front()->bundleID) {
        throw ControlRequestError(Kind::notSupported,
                                  found.front()->name +
                                      " has no application id, so nothing is remembered for it.");
    }
    return *found.front()->bundleID;
}

std::string resolveOutput(const std::vector<OutputChoice>& outputs, const std::string& device) {
    if (device.empty()) {
        throw ControlRequestError(Kind::invalidArgument,
                                  "Name an output device by its UID or its name.");
    }
    for (const auto& output : outputs) {
        if (output.uid == device) {
            return output.uid;
        }
    }
    const std::string lower = asciiLower(device);
    std::vector<const OutputChoice*> found;
    for (const auto& output : outputs) {
        if (asciiLower(output.name) == lower || asciiLower(output.uid) == lower) {
            found.push_back(&output);
        }
    }
    if (found.empty()) {
        throw ControlRequestError(Kind::noSuchOutput,
                                  "No output device " + quoted(device) + " is connected.");
    }
    if (found.size() > 1) {
        std::string uids;
        for (const auto* output : found) {
            uids += (uids.empty() ? "" : ", ") + output->uid;
        }
        throw ControlRequestError(Kind::ambiguous, quoted(device) +
                                                       " names several output devices: " + uids +
                                                       "; name one by its UID.");
    }
    return found.front()->uid;
}

std::string asciiLower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

} // namespace brindell
