#include "mixer/MixerViewModel.h"

#include "audio/Volume.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace brindell {

std::string KeyboardTarget::text() const {
    return isMaster_ ? "master" : "row(" + std::to_string(pid_) + ")";
}

const char* toString(KeyAction action) {
    switch (action) {
    case KeyAction::up:
        return "up";
    case KeyAction::down:
        return "down";
    case KeyAction::left:
        return "left";
    case KeyAction::right:
        return "right";
    case KeyAction::home:
        return "home";
    case KeyAction::end:
        return "end";
    case KeyAction::mute:
        return "mute";
    case KeyAction::output:
        return "output";
    }
    return "up";
}

std::shared_ptr<MixerViewModel> MixerViewModel::create(std::shared_ptr<MixerEngine> engine,
                                                       std::shared_ptr<SerialQueue> mainQueue) {
    std::shared_ptr<MixerViewModel> model(
        new MixerViewModel(std::move(engine), std::move(mainQueue)));
    std::weak_ptr<MixerViewModel> weak = model;
    std::weak_ptr<SerialQueue> weakQueue = model->mainQueue_;
    model->engine_->setOnChange([weak, weakQueue] {
        // Any thread: only hop to the main thread.
        if (auto queue = weakQueue.lock()) {
            queue->async([weak] {
                if (auto self = weak.lock()) {
                    self->refresh();
                }
            });
        }
    });
    model->engine_->setOnLevels([weak, weakQueue](const MixerLevels& measured) {
        if (auto queue = weakQueue.lock()) {
            queue->async([weak, measured] {
                if (auto self = weak.lock()) {
                    self->applyLevels(measured);
                }
            });
        }
    });
    model->refresh();
    return model;
}

MixerViewModel::MixerViewModel(std::shared_ptr<MixerEngine> engine,
                               std::shared_ptr<SerialQueue> mainQueue)
    : engine_(std::move(engine)), mainQueue_(std::move(mainQueue)) {}

void MixerViewModel::refresh() {
    if (draggingPID_) {
        // Neither reorder nor jump under the pointer while a slider is held.
        return;
    }
    // Never the engine's own snapshot: it waits for the engine, and so for the audio server.
    std::optional<MixerSnapshot> published = engine_->publishedSnapshot();
    if (!published) {
        return; // the panel already shows what it asked for; the engine publishes it next
    }
    MixerSnapshot& snapshot = *published;
    master.set(std::move(snapshot.master));
    outputs.set(std::move(snapshot.outputs));
    defaultOutputName.set(std::move(snapshot.defaultOutputName));
    permission.set(snapshot.permission);
    if (snapshot.serverReachable != serverReachable.get()) {
        serverReachable.set(snapshot.serverReachable);
    }

    const auto& fresh = snapshot.rows;
    const auto hasRow = [&fresh](pid_type pid) {
        return std::any_of(fresh.begin(), fresh.end(),
                           [pid](const MixerRow& row) { return row.pid == pid; });
    };
    std::erase_if(volumeBoxes_, [&hasRow](const auto& entry) { return !hasRow(entry.first); });
    for (const auto& row : fresh) {
        const auto box = volumeBoxes_.find(row.pid);
        if (box != volumeBoxes_.end() && box->second->value() != row.volume) {
            box->second->setValue(row.volume);
        }
    }
    if (fresh != rows.get()) {
        rows.set(std::move(snapshot.rows));
    }
    const auto& target = keyboardTarget.get();
    if (target && !target->isMaster() && findRow(*target->pid()) == nullptr) {
        keyboardTarget.set(std::nullopt);
    }
}

void MixerViewModel::setLevelsWanted(bool wanted) {
    if (wanted == levelsWanted_) {
        return;
    }
    levelsWanted_ = wanted;
    engine_->setLevelsWanted(wanted);
    if (!wanted) {
        falloff_.reset();
        if (!levels->empty()) {
            levels.set({});
        }
    }
}

void MixerViewModel::applyLevels(const MixerLevels& measured) {
    if (!levelsWanted_) {
        return; // a reading already on its way when the panel hid
    }
    // The rows as the panel shows them: a mute the user just made shows no level at once.
    MixerLevels audible;
    for (const MixerRow& row : rows.get()) {
        const auto found = measured.find(row.pid);
        if (found != measured.end() && !row.isMuted &&
            row.status.kind() == MixerRowStatus::Kind::ok) {
            audible.insert(*found);
        }
    }
    const MixerLevels& shown = falloff_.update(audible, mainQueue_->now());
    if (shown != levels.get()) {
        levels.set(shown);
    }
}

std::shared_ptr<VolumeBox> MixerViewModel::volumeBox(pid_type pid) {
    auto& box = volumeBoxes_[pid];
    if (!box) {
        const MixerRow* row = findRow(pid);
        box = std::make_shared<VolumeBox>(row ? row->volume : 1.0f);
    }
    return box;
}

const MixerRow* MixerViewModel::findRow(pid_type pid) const {
    const auto& list = rows.get();
    const auto found = std::find_if(list.begin(), list.end(),
                                    [pid](const MixerRow& row) { return row.pid == pid; });
    return found == list.end() ? nullptr : &*found;
}

template <class Change> void MixerViewModel::changeRow(pid_type pid, Change&& change) {
    if (findRow(pid) == nullptr) {
        return;
    }
    rows.modify([&](std::vector<MixerRow>& list) {
        for (auto& row : list) {
            if (row.pid == pid) {
                change(row);
            }
        }
    });
}

void MixerViewModel::setVolume(pid_type pid, float volume) {
    const auto box = volumeBox(pid);
    const float shown = cleanVolume(volume, box->value());
    box->setValue(shown);
    if (draggingPID_ != pid) {
        changeRow(pid, [shown](MixerRow& row) { row.volume = shown; });
    }
    engine_->setVolume(pid, volume);
}

void MixerViewModel::setMuted(pid_type pid, bool muted) {
    changeRow(pid, [muted](MixerRow& row) { row.isMuted = muted; });
    engine_->setMuted(pid, muted);
}

void MixerViewModel::setOutput(pid_type pid, std::optional<std::string> uid) {
    changeRow(pid, [&uid](MixerRow& row) { row.outputUID = uid; });
    engine_->setOutput(pid, std::move(uid));
}

void MixerViewModel::setMasterVolume(float volume) {
    if (master.get() && master.get()->volume) {
        master.modify([volume](std::optional<OutputState>& state) {
            state->volume = cleanVolume(volume, *state->volume);
        });
    }
    engine_->setMasterVolume(volume);
}

void MixerViewModel::setMasterMuted(bool muted) {
    if (master.get() && master.get()->isMuted) {
        master.modify([muted](std::optional<OutputState>& state) { state->isMuted = muted; });
    }
    engine_->setMasterMuted(muted);
}

void MixerViewModel::setDragging(pid_type pid, bool active) {
    if (active) {
        draggingPID_ = pid;
        engine_->beginInteraction(pid);
        return;
    }
    std::optional<float> last;
    if (const auto box = volumeBoxes_.find(pid); box != volumeBoxes_.end()) {
        last = box->second->value();
    }
    draggingPID_.reset();
    engine_->endInteraction();
    if (last) {
        changeRow(pid, [value = *last](MixerRow& row) { row.volume = value; });
    }
    refresh();
}

std::optional<KeyAction> MixerViewModel::keyAction(std::uint16_t keyCode,
                                                   const std::string& characters, bool command,
                                                   bool control) {
    if (command || control) {
        return std::nullopt;
    }
    switch (keyCode) {
    case keycode::upArrow:
        return KeyAction::up;
    case keycode::downArrow:
        return KeyAction::down;
    case keycode::leftArrow:
        return KeyAction::left;
    case keycode::rightArrow:
        return KeyAction::right;
    case keycode::home:
        return KeyAction::home;
    case keycode::end:
        return KeyAction::end;
    default:
        break;
    }
    std::string lower = characters;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "m") {
        return KeyAction::mute;
    }
    if (lower == "r") {
        return KeyAction::output;
    }
    return std::nullopt;
}

std::vector<KeyboardTarget> MixerViewModel::targets() const {
    std::vector<KeyboardTarget> list{KeyboardTarget::master()};
    for (const auto& row : rows.get()) {
        list.push_back(KeyboardTarget::row(row.pid));
    }
    return list;
}

bool MixerViewModel::handleKey(KeyAction action, bool shift, bool option) {
    const auto list = targets();
    const auto& target = keyboardTarget.get();
    switch (action) {
    case KeyAction::up:
    case KeyAction::down: {
        const auto at = target ? std::find(list.begin(), list.end(), *target) : list.end();
        if (at == list.end()) {
            keyboardTarget.set(action == KeyAction::down ? list.front() : list.back());
            return true;
        }
        const std::ptrdiff_t index = at - list.begin();
        const auto last = static_cast<std::ptrdiff_t>(list.size()) - 1;
        const auto next =
            std::clamp(action == KeyAction::up ? index - 1 : index + 1, std::ptrdiff_t{0}, last);
        keyboardTarget.set(list[static_cast<std::size_t>(next)]);
        return true;
    }
    case KeyAction::left:
    case KeyAction::right: {
        if (!target) {
            return false;
        }
        float step = option ? 0.2f : (shift ? 0.01f : 0.05f);
        if (action == KeyAction::left) {
            step = -step;
        }
        if (const auto pid = target->pid()) {
            setVolume(*pid, volumeBox(*pid)->value() + step);
        } else if (master.get() && master.get()->volume) {
            setMasterVolume(*master.get()->volume + step);
        }
        return true;
    }
    case KeyAction::home:
        keyboardTarget.set(KeyboardTarget::master());
        return true;
    case KeyAction::end:
        keyboardTarget.set(rows->empty() ? KeyboardTarget::master()
                                         : KeyboardTarget::row(rows->back().pid));
        return true;
    case KeyAction::mute: {
        if (!target) {
            return false;
        }
        if (const auto pid = target->pid()) {
            if (const MixerRow* row = findRow(*pid)) {
                setMuted(*pid, !row->isMuted);
            }
        } else if (master.get() && master.get()->isMuted) {
            setMasterMuted(!*master.get()->isMuted);
        }
        return true;
    }
    case KeyAction::output: {
        if (!target) {
            return false;
        }
        std::vector<std::string> uids;
        for (const auto& output : outputs.get()) {
            uids.push_back(output.uid);
        }
        if (const auto pid = target->pid()) {
            const MixerRow* row = findRow(*pid);
            if (row == nullptr) {
                return true;
            }
            const auto current =
                row->outputUID ? std::find(uids.begin(), uids.end(), *row->outputUID) : uids.end();
            std::optional<std::string> next;
            if (current == uids.end()) {
                // From the default, or from a device no longer listed: the first device.
                if (!uids.empty()) {
                    next = uids.front();
                }
            } else if (current + 1 != uids.end()) {
                next = *(current + 1);
            } // after the last device: back to the default
            setOutput(*pid, std::move(next));
        } else if (!uids.empty()) {
            const auto current = master.get()
                                     ? std::find(uids.begin(), uids.end(), master.get()->deviceUID)
                                     : uids.end();
            const auto next = (current == uids.end() || current + 1 == uids.end()) ? uids.front()
                                                                                   : *(current + 1);
            engine_->setDefaultOutput(next);
        }
        return true;
    }
    }
    return false;
}

} // namespace brindell
