#include "hotkey/qt/QtKeyDownMonitor.h"

#include "hotkey/HotkeyRecorderModel.h"
#include "hotkey/fake/FakeHotkeyRegistrar.h"
#include "settings/fake/MemorySettingsStorage.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <gtest/gtest.h>

namespace brindell {
namespace {

// Stands in for the settings window: counts the key events that reach it.
class Window final : public QObject {
public:
    int keys = 0;

protected:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::KeyPress) {
            ++keys;
        }
        return QObject::event(e);
    }
};

// Sends a key press as Qt delivers one: the shortcut override first, then the press. Returns
// whether the override was claimed.
bool type(Window& window, int key, Qt::KeyboardModifiers modifiers) {
    QKeyEvent override(QEvent::ShortcutOverride, key, modifiers);
    override.ignore();
    QCoreApplication::sendEvent(&window, &override);
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QCoreApplication::sendEvent(&window, &press);
    return override.isAccepted();
}

TEST(QtKeyDownMonitor, QtKeysReadAsBrindellKeysWhateverShiftMadeOfThem) {
    EXPECT_EQ(keyCodeForQtKey(Qt::Key_K), 40U);
    EXPECT_EQ(keyCodeForQtKey(Qt::Key_Exclam), 18U);     // Shift+1
    EXPECT_EQ(keyCodeForQtKey(Qt::Key_QuoteDbl), 39U);   // Shift+'
    EXPECT_EQ(keyCodeForQtKey(Qt::Key_AsciiTilde), 50U); // Shift+`
    EXPECT_EQ(keyCodeForQtKey(Qt::Key_Backtab), 48U);    // Shift+Tab
    EXPECT_EQ(keyCodeForQtKey(Qt::Key_Backspace), 51U);
    EXPECT_EQ(keyCodeForQtKey(Qt::Key_Enter), 36U);
    EXPECT_EQ(keyCodeForQtKey(Qt::Key_Escape), escapeKeyCode);
    EXPECT_EQ(keyCodeForQtKey(Qt::Key_F12), 111U);
    EXPECT_FALSE(keyCodeForQtKey(Qt::Key_F13));
    EXPECT_FALSE(keyCodeForQtKey(Qt::Key_Eacute));
    EXPECT_EQ(
        modifierFlagsForQt((Qt::MetaModifier | Qt::ShiftModifier | Qt::KeypadModifier).toInt()),
        HotkeyModifiers::commandFlag | HotkeyModifiers::shiftFlag);
    EXPECT_EQ(modifierFlagsForQt((Qt::AltModifier | Qt::ControlModifier).toInt()),
              HotkeyModifiers::optionFlag | HotkeyModifiers::controlFlag);
}

TEST(QtKeyDownMonitor, RecordingTakesTheNextKeyAwayFromTheWindow) {
    auto registrar = std::make_shared<FakeHotkeyRegistrar>();
    auto controller =
        std::make_shared<HotkeyController>(registrar, std::make_shared<MemorySettingsStorage>());
    controller->start([] {});
    auto model = HotkeyRecorderModel::create(controller, qtKeyDownMonitorInstaller());
    Window window;

    model->startRecording();
    type(window, Qt::Key_Shift, Qt::ShiftModifier); // a modifier alone is still being built
    EXPECT_EQ(window.keys, 1);
    EXPECT_TRUE(model->isRecording());

    EXPECT_TRUE(type(window, Qt::Key_Q, Qt::MetaModifier)); // refused, yet taken
    EXPECT_TRUE(model->isRecording());
    EXPECT_TRUE(type(window, Qt::Key_K, Qt::MetaModifier | Qt::ShiftModifier));
    EXPECT_EQ(window.keys, 1);
    EXPECT_FALSE(model->isRecording());
    EXPECT_EQ(model->combo(),
              (HotkeyCombo{40, {HotkeyModifiers::command | HotkeyModifiers::shift}}));

    EXPECT_FALSE(type(window, Qt::Key_K, Qt::MetaModifier)); // monitor gone: the window has it
    EXPECT_EQ(window.keys, 2);

    EXPECT_EQ(registrar->registered, model->combo());

    model->startRecording();
    model.reset(); // a model that is gone leaves keys alone
    type(window, Qt::Key_K, Qt::MetaModifier);
    EXPECT_EQ(window.keys, 3);
    QCoreApplication::processEvents(); // deletes the removed filters
}

} // namespace
} // namespace brindell

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
