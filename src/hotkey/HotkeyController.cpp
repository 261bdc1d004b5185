#include "hotkey/HotkeyController.h"

#include <exception>
#include <utility>

namespace brindell {

HotkeyController::HotkeyController(std::shared_ptr<HotkeyRegistrar> registrar,
                                   std::shared_ptr<SettingsStorage> storage)
    : registrar_(std::move(registrar)), storage_(std::move(storage)) {
    // The Ctrl+Alt rule is not applied here: a stored shortcut the user once chose stays valid.
    if (const auto blob = storage_->load()) {
        if (const auto stored = decodeHotkeyCombo(*blob); stored && passesLoadRules(*stored)) {
            combo_ = *stored;
        }
    }
}

std::optional<HotkeyError> HotkeyController::tryRegister(const HotkeyCombo& combo) {
    try {
        registrar_->registerCombo(combo, handler_);
        return std::nullopt;
    } catch (const HotkeyError& e) {
        return e;
    } catch (const std::exception&) {
        return HotkeyError(HotkeyError::Case::inUse);
    }
}

void HotkeyController::persist(const HotkeyCombo& combo) {
    // A failed write is not reported: the shortcut works for this run either way.
    (void)storage_->save(encodeHotkeyCombo(combo));
}

void HotkeyController::start(std::function<void()> handler) {
    handler_ = std::move(handler);
    const auto problem = tryRegister(combo_);
    if (!problem) {
        isRegistered_ = true;
        return;
    }
    lastProblem_ = problem;
    if (combo_ == defaultCombo) {
        return;
    }
    if (!tryRegister(defaultCombo)) {
        combo_ = defaultCombo;
        isRegistered_ = true;
        persist(combo_);
    }
}

void HotkeyController::apply(const HotkeyCombo& candidate) {
    using Case = HotkeyError::Case;
    if (!candidate.modifiers.hasPrimary()) {
        throw HotkeyError(Case::needsModifier);
    }
    if (!keyName(candidate.keyCode)) {
        throw HotkeyError(Case::needsModifier);
    }
    if (isReserved(candidate)) {
        throw HotkeyError(Case::reservedBySystem);
    }
    if (candidate.modifiers.has(HotkeyModifiers::control) &&
        candidate.modifiers.has(HotkeyModifiers::option) && candidate != combo_) {
        throw HotkeyError(Case::voiceOverModifier);
    }
    if (candidate == combo_ && isRegistered_) {
        return;
    }
    if (const auto problem = tryRegister(candidate)) {
        // The registrar dropped the old grab before trying; put it back. Should that fail too,
        // say so: nothing is registered any more, and applying the old shortcut must retry.
        if (isRegistered_ && tryRegister(combo_)) {
            isRegistered_ = false;
        }
        throw *problem;
    }
    combo_ = candidate;
    lastProblem_.reset();
    isRegistered_ = true;
    persist(combo_);
}

void HotkeyController::unregister() {
    registrar_->unregister();
    isRegistered_ = false;
}

} // namespace brindell
