#pragma once

#include "mixer/LevelFalloff.h"
#include "mixer/MixerEngine.h"
#include "mixer/Published.h"
#include "queue/SerialQueue.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brindell {

// What the keyboard has chosen in the panel: one row, or the system output section.
class KeyboardTarget {
public:
    static KeyboardTarget master() { return KeyboardTarget(true, 0); }
    static KeyboardTarget row(pid_type pid) { return KeyboardTarget(false, pid); }

    bool isMaster() const { return isMaster_; }
    // The row's pid; none for the master section.
    std::optional<pid_type> pid() const {
        return isMaster_ ? std::nullopt : std::optional<pid_type>(pid_);
    }
    std::string text() const; // "master" or "row(PID)"

    friend bool operator==(const KeyboardTarget& a, const KeyboardTarget& b) {
        return a.isMaster_ == b.isMaster_ && (a.isMaster_ || a.pid_ == b.pid_);
    }

private:
    KeyboardTarget(bool isMaster, pid_type pid) : isMaster_(isMaster), pid_(pid) {}
    bool isMaster_;
    pid_type pid_;
};

enum class KeyAction { up, down, left, right, home, end, mute, output };

const char* toString(KeyAction action);

// Brindell's own layout-independent key codes for the keys the panel answers to (the same
// numbering as the shortcut's key codes). The interface layer maps its toolkit's keys to them.
namespace keycode {
inline constexpr std::uint16_t leftArrow = 123;
inline constexpr std::uint16_t rightArrow = 124;
inline constexpr std::uint16_t downArrow = 125;
inline constexpr std::uint16_t upArrow = 126;
inline constexpr std::uint16_t home = 115;
inline constexpr std::uint16_t end = 119;
} // namespace keycode

// The state behind the mixer panel: the engine's published snapshot copied into published
// values on the main thread, user actions forwarded to the engine (and applied to the copy at
// once, so the panel responds without waiting), one VolumeBox per row, and the panel's keyboard
// control. Nothing here waits for the engine or the audio server.
//
// Threading: every operation runs on the main thread, the thread of mainQueue. The engine's
// change callback may arrive on any thread; it only schedules refresh() on mainQueue.
// Ownership: shared (create); the engine callback holds the model weakly.
class MixerViewModel : public std::enable_shared_from_this<MixerViewModel> {
public:
    // Installs the engine's change callback and refreshes once.
    static std::shared_ptr<MixerViewModel> create(std::shared_ptr<MixerEngine> engine,
                                                  std::shared_ptr<SerialQueue> mainQueue);

    MixerViewModel(const MixerViewModel&) = delete;
    MixerViewModel& operator=(const MixerViewModel&) = delete;

    // Published to the view.
    Published<std::optional<OutputState>> master;
    Published<std::vector<MixerRow>> rows;
    Published<std::vector<OutputChoice>> outputs;
    Published<std::optional<std::string>> defaultOutputName;
    Published<PermissionState> permission{PermissionState::unknown};
    // False while the audio server cannot be reached; republished only when it changes.
    Published<bool> serverReachable{true};
    Published<std::optional<KeyboardTarget>> keyboardTarget;
    // The live level each row shows, with its fall-off: only rows at ok that are not muted, and
    // only while levels are wanted. Republished only when a shown level changes.
    Published<MixerLevels> levels;

    // The row whose slider is being dragged.
    const std::optional<pid_type>& draggingPID() const { return draggingPID_; }

    // The engine, for the operations the panel calls without a view-model operation of its
    // own: forgetSettings, forgetAllSettings, recheckPermission and setDefaultOutput.
    MixerEngine& engine() { return *engine_; }

    // Copies the engine's published snapshot in; ignored while a slider is dragged or while
    // the engine has operations of the panel still to apply.
    void refresh();

    // The row's box, made from its volume (1 for an unknown pid) on first use.
    std::shared_ptr<VolumeBox> volumeBox(pid_type pid);
    bool hasVolumeBox(pid_type pid) const { return volumeBoxes_.count(pid) != 0; }

    // The box shows the value cleaned (audio/Volume.h); the engine gets it as given.
    void setVolume(pid_type pid, float volume);
    void setMuted(pid_type pid, bool muted);
    void setOutput(pid_type pid, std::optional<std::string> uid);
    void setMasterVolume(float volume);
    void setMasterMuted(bool muted);
    // A row's slider drag began (active) or ended.
    void setDragging(pid_type pid, bool active);
    // The panel showed (true) or hid: the engine reads levels only in between, and a hidden
    // panel shows none.
    void setLevelsWanted(bool wanted);
    bool levelsWanted() const { return levelsWanted_; }
    // A reading from the engine; applied with the fall-off on the main queue's clock.
    void applyLevels(const MixerLevels& measured);

    // The panel's key mapping: none while Command (Super) or Control is held; arrows, Home and
    // End by key code; otherwise "m" mutes and "r" cycles the output. characters: the key's
    // characters ignoring modifiers.
    static std::optional<KeyAction> keyAction(std::uint16_t keyCode, const std::string& characters,
                                              bool command, bool control);

    // Applies a key action; false when it did nothing, so the panel passes the key on.
    bool handleKey(KeyAction action, bool shift, bool option);

private:
    MixerViewModel(std::shared_ptr<MixerEngine> engine, std::shared_ptr<SerialQueue> mainQueue);

    std::vector<KeyboardTarget> targets() const;
    const MixerRow* findRow(pid_type pid) const;
    // Changes the row with that pid in rows, if any, and publishes rows.
    template <class Change> void changeRow(pid_type pid, Change&& change);

    std::shared_ptr<MixerEngine> engine_;
    std::shared_ptr<SerialQueue> mainQueue_;
    std::optional<pid_type> draggingPID_;
    std::map<pid_type, std::shared_ptr<VolumeBox>> volumeBoxes_;
    bool levelsWanted_ = false;
    LevelFalloff falloff_;
};

} // namespace brindell
