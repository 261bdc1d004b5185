#include "shell/ShellController.h"

#include "queue/SerialQueue.h"
#include "shell/PanelController.h"
#include "shell/QtKeys.h"
#include "shell/StatusItemController.h"

#include <QKeyEvent>
#include <QKeySequence>
#include <QPointer>
#include <algorithm>
#include <cmath>

namespace brindell {

ShellController::ShellController(ShellServices services, std::shared_ptr<SerialQueue> mainQueue,
                                 Appearance appearance)
    : services_(std::move(services)), mainQueue_(std::move(mainQueue)) {
    // The updates, crash-report, open-at-login and onboarding services, and the engine with
    // everything it owns, come built in services_, in that order.
    model_ = MixerViewModel::create(services_.engine, mainQueue_);

    QPointer<ShellController> self(this);
    MixerViewOptions options;
    options.badge = services_.badge;
    options.openSettings = [self] {
        if (auto* shell = self.data()) {
            shell->panel_->hide();
            shell->services_.openSettings();
        }
    };
    options.openSoundSettings = [self] {
        if (auto* shell = self.data()) {
            shell->services_.openSoundSettings();
        }
    };
    view_ = new MixerView(model_, appearance, std::move(options));
    panel_ = std::make_unique<PanelController>(view_, mainQueue_);

    std::optional<QString> badge;
    if (services_.badge) {
        badge = QString::fromStdString(services_.badge->badge);
    }
    status_ = std::make_unique<StatusItemController>(badge, services_.statusItemStorage);
    // The tray icon shows from here on.
    // (The shortcut's registrar and controller, and its recorder, live behind startShortcut.)

    watchLayout();
    panel_->onWillShow = [self] {
        if (auto* shell = self.data()) {
            shell->model_->keyboardTarget.set(std::nullopt);
        }
    };
    panel_->panel()->keyHandler = [self](QKeyEvent& event) {
        auto* shell = self.data();
        if (shell == nullptr || !handlePanelKey(*shell->model_, event)) {
            return false;
        }
        shell->traceRows("key " + QKeySequence(event.key()).toString().toStdString());
        return true;
    };
}

ShellController::~ShellController() {
    layoutWatcher_.clear();
    panel_.reset(); // deletes the panel window and the view
    status_.reset();
}

void ShellController::watchLayout() {
    // Rows, permission, the server's reach and the master's volume control decide the panel's
    // height; each distinct combination re-measures the panel from the main queue.
    QPointer<ShellController> self(this);
    const auto changed = [self] {
        auto* shell = self.data();
        if (shell == nullptr) {
            return;
        }
        LayoutKey key =
            LayoutKey::make(shell->model_->rows.get(), shell->model_->permission.get(),
                            shell->model_->master.get(), shell->model_->serverReachable.get());
        if (shell->lastLayout_ == key) {
            return;
        }
        shell->lastLayout_ = std::move(key);
        shell->mainQueue_->async([self] {
            if (auto* target = self.data()) {
                target->panel_->relayout();
            }
        });
    };
    layoutWatcher_.push_back(model_->rows.subscribe([changed](const auto&) { changed(); }));
    layoutWatcher_.push_back(model_->permission.subscribe([changed](const auto&) { changed(); }));
    layoutWatcher_.push_back(model_->master.subscribe([changed](const auto&) { changed(); }));
    layoutWatcher_.push_back(
        model_->serverReachable.subscribe([changed](const auto&) { changed(); }));
    changed();
}

void ShellController::start() {
    if (started_) {
        return;
    }
    started_ = true;
    QPointer<ShellController> self(this);
    status_->onToggle = [self] {
        if (auto* shell = self.data()) {
            shell->togglePanel();
        }
    };
    status_->onResetAudio = [self] {
        if (auto* shell = self.data()) {
            shell->resetAudio();
        }
    };
    status_->onSettings = [self] {
        if (auto* shell = self.data()) {
            shell->openSettings();
        }
    };
    status_->onMasterSteps = [self](int steps) {
        if (auto* shell = self.data()) {
            shell->stepMasterVolume(steps);
        }
    };
    status_->onToggleMasterMute = [self] {
        if (auto* shell = self.data()) {
            shell->toggleMasterMute();
        }
    };
    if (services_.checkForUpdates) {
        status_->setOnCheckForUpdates(services_.checkForUpdates);
    }
    services_.startUpdates();
    services_.subscribeCrashReports();
    services_.startShortcut([self, queue = std::weak_ptr<SerialQueue>(mainQueue_)] {
        // May come from any event dispatch: always back to the main queue.
        if (const auto main = queue.lock()) {
            main->async([self] {
                if (auto* shell = self.data()) {
                    shell->togglePanel();
                }
            });
        }
    });
    if (services_.onboardingCompleted()) {
        services_.startEngine();
    } else {
        services_.showOnboarding();
    }
}

void ShellController::terminate() {
    if (terminated_) {
        return;
    }
    terminated_ = true;
    services_.unregisterShortcut();
    services_.stopEngine();
}

void ShellController::togglePanel() {
    if (!services_.onboardingCompleted()) {
        services_.showOnboarding();
        return;
    }
    const auto anchor = status_->anchorRect();
    if (panel_->isVisible()) {
        panel_->hide();
        traceRows("hidden");
    } else {
        panel_->show(anchor, status_->clickPoint());
        traceRows("shown");
    }
}

void ShellController::traceRows(const std::string& event) {
    if (!services_.trace) {
        return;
    }
    const auto& target = model_->keyboardTarget.get();
    std::string line = event + ": target " + (target ? target->text() : "none");
    for (const auto& row : model_->rows.get()) {
        line += "; \"" + row.name + "\" " + std::to_string(row.pid) + " " +
                std::to_string(static_cast<int>(std::lround(row.volume * 100))) + "%" +
                (row.isMuted ? " muted" : "");
    }
    services_.trace(line);
}

void ShellController::showPanel() {
    if (!panel_->isVisible()) {
        togglePanel();
    }
}

void ShellController::reopen() {
    if (status_->isReachable()) {
        openSettings();
    } else {
        showPanel();
    }
}

void ShellController::stepMasterVolume(int steps) {
    const auto& master = model_->master.get();
    if (!master || !master->volume || steps == 0) {
        return;
    }
    const float level = *master->volume + 0.05F * static_cast<float>(steps);
    model_->setMasterVolume(std::clamp(level, 0.0F, 1.0F));
}

void ShellController::toggleMasterMute() {
    const auto& master = model_->master.get();
    if (master && master->isMuted) {
        model_->setMasterMuted(!*master->isMuted);
    }
}

void ShellController::openSettings() {
    services_.openSettings();
}

void ShellController::resetAudio() {
    services_.resetAudio();
}

void ShellController::setIconVisible(bool visible) {
    status_->setVisible(visible);
}

void ShellController::setAppearance(Appearance appearance) {
    view_->setAppearance(appearance);
    panel_->relayout();
}

} // namespace brindell
