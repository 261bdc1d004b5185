#include "hotkey/qt/QtKeyDownMonitor.h"

#include "hotkey/HotkeyCombo.h"
#include "hotkey/KeySymbols.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QObject>
#include <QPointer>
#include <array>
#include <utility>

namespace brindell {

namespace {

struct QtKeyToKeysym {
    int qtKey;
    std::uint32_t keysym;
};

// Qt keys outside Latin-1, by the keysym of the same key.
constexpr std::array<QtKeyToKeysym, 22> kSpecialKeys{{
    {Qt::Key_Escape, 0xff1b},    {Qt::Key_Tab, 0xff09},    {Qt::Key_Backtab, 0xff09},
    {Qt::Key_Backspace, 0xff08}, {Qt::Key_Return, 0xff0d}, {Qt::Key_Enter, 0xff0d},
    {Qt::Key_Left, 0xff51},      {Qt::Key_Up, 0xff52},     {Qt::Key_Right, 0xff53},
    {Qt::Key_Down, 0xff54},      {Qt::Key_F1, 0xffbe},     {Qt::Key_F2, 0xffbf},
    {Qt::Key_F3, 0xffc0},        {Qt::Key_F4, 0xffc1},     {Qt::Key_F5, 0xffc2},
    {Qt::Key_F6, 0xffc3},        {Qt::Key_F7, 0xffc4},     {Qt::Key_F8, 0xffc5},
    {Qt::Key_F9, 0xffc6},        {Qt::Key_F10, 0xffc7},    {Qt::Key_F11, 0xffc8},
    {Qt::Key_F12, 0xffc9},
}};

// What Shift makes of each key on a US layout, back to the key itself.
constexpr std::array<std::pair<char, char>, 21> kShiftedUS{{
    {'!', '1'}, {'@', '2'},  {'#', '3'}, {'$', '4'}, {'%', '5'}, {'^', '6'},  {'&', '7'},
    {'*', '8'}, {'(', '9'},  {')', '0'}, {'_', '-'}, {'+', '='}, {'{', '['},  {'}', ']'},
    {':', ';'}, {'"', '\''}, {'<', ','}, {'>', '.'}, {'?', '/'}, {'|', '\\'}, {'~', '`'},
}};

bool isModifierKey(int key) {
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
        return true;
    default:
        return false;
    }
}

// The event filter. It stays alive until Qt deletes it later, so that the handler may remove its
// own monitor from inside a call.
class KeyFilter final : public QObject {
public:
    explicit KeyFilter(std::function<bool(const KeyDownEvent&)> handler)
        : handler_(std::move(handler)) {}

    void deactivate() { handler_ = nullptr; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!handler_ ||
            (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)) {
            return QObject::eventFilter(watched, event);
        }
        auto* key = static_cast<QKeyEvent*>(event);
        if (isModifierKey(key->key())) {
            return false; // the user is still building the combination
        }
        if (event->type() == QEvent::ShortcutOverride) {
            // Claim the key for "the focused widget", so no window shortcut fires; the key
            // press that follows is then ours.
            event->accept();
            return true;
        }
        if (key->isAutoRepeat()) {
            return true;
        }
        const KeyDownEvent down{keyCodeForQtKey(key->key()).value_or(KeyDownEvent::unknownKeyCode),
                                modifierFlagsForQt(key->modifiers().toInt())};
        const auto handler = handler_; // the call may deactivate this filter
        return handler(down);
    }

private:
    std::function<bool(const KeyDownEvent&)> handler_;
};

class QtKeyDownMonitor final : public KeyDownMonitor {
public:
    explicit QtKeyDownMonitor(std::function<bool(const KeyDownEvent&)> handler)
        : filter_(new KeyFilter(std::move(handler))) {
        QCoreApplication::instance()->installEventFilter(filter_);
    }
    ~QtKeyDownMonitor() override {
        KeyFilter* filter = filter_.data();
        if (filter == nullptr) {
            return;
        }
        filter->deactivate();
        if (auto* app = QCoreApplication::instance()) {
            app->removeEventFilter(filter);
        }
        filter->deleteLater();
    }
    QtKeyDownMonitor(const QtKeyDownMonitor&) = delete;
    QtKeyDownMonitor& operator=(const QtKeyDownMonitor&) = delete;

private:
    QPointer<KeyFilter> filter_;
};

} // namespace

std::optional<std::uint32_t> keyCodeForQtKey(int qtKey) {
    for (const auto& special : kSpecialKeys) {
        if (special.qtKey == qtKey) {
            return keyCodeForKeysym(special.keysym);
        }
    }
    if (qtKey <= 0 || qtKey >= 0x7f) {
        return std::nullopt;
    }
    // Below 0x7f, Qt keys, keysyms and ASCII agree (letters come upper-case).
    auto ascii = static_cast<char>(qtKey);
    for (const auto& [shifted, base] : kShiftedUS) {
        if (ascii == shifted) {
            ascii = base;
        }
    }
    return keyCodeForKeysym(static_cast<std::uint32_t>(static_cast<unsigned char>(ascii)));
}

std::uint64_t modifierFlagsForQt(std::uint32_t qtModifiers) {
    const auto modifiers = Qt::KeyboardModifiers::fromInt(qtModifiers);
    std::uint64_t flags = 0;
    if (modifiers.testFlag(Qt::MetaModifier)) {
        flags |= HotkeyModifiers::commandFlag;
    }
    if (modifiers.testFlag(Qt::AltModifier)) {
        flags |= HotkeyModifiers::optionFlag;
    }
    if (modifiers.testFlag(Qt::ControlModifier)) {
        flags |= HotkeyModifiers::controlFlag;
    }
    if (modifiers.testFlag(Qt::ShiftModifier)) {
        flags |= HotkeyModifiers::shiftFlag;
    }
    return flags;
}

KeyDownMonitorInstaller qtKeyDownMonitorInstaller() {
    return [](std::function<bool(const KeyDownEvent&)> handler) -> std::unique_ptr<KeyDownMonitor> {
        if (QCoreApplication::instance() == nullptr) {
            return nullptr;
        }
        return std::make_unique<QtKeyDownMonitor>(std::move(handler));
    };
}

} // namespace brindell
