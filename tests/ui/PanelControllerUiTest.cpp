#include "UiTestSupport.h"
#include "mixer/PreviewContent.h"
#include "shell/PanelController.h"
#include "shell/QtKeys.h"
#include "shell/SourceRowView.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <gtest/gtest.h>

namespace brindell {
namespace {

using testing::settle;
using testing::waitFor;

// A 1920 by 1080 desktop with a 25 high bar along the top (Qt coordinates, y downwards).
PanelController::Desktop desktopWithTopBar(PanelPlacement::Point pointer = {300, 600}) {
    PanelController::Desktop desktop;
    desktop.screens = [] {
        return std::vector<PanelPlacement::Screen>{{{0, 0, 1920, 1080}, {0, 25, 1920, 1055}}};
    };
    desktop.primary = [] { return PanelPlacement::Rect{0, 0, 1920, 1080}; };
    desktop.pointer = [pointer] { return pointer; };
    return desktop;
}

struct Panel {
    explicit Panel(MixerSnapshot snapshot = PreviewMixerEngine::cannedSnapshot())
        : engine(std::make_shared<PreviewMixerEngine>(std::move(snapshot))),
          model(MixerViewModel::create(engine, mainQueue)),
          controller(new MixerView(model, {}, {}), mainQueue, desktopWithTopBar()) {
        controller.panel()->keyHandler = [this](QKeyEvent& event) {
            return handlePanelKey(*model, event);
        };
    }
    ~Panel() {
        controller.hide();
        settle();
    }
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
             const QString& text = {}) {
        QWidget* target =
            QApplication::focusWidget() ? QApplication::focusWidget() : controller.panel();
        QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
        QApplication::sendEvent(target, &press);
    }

    std::shared_ptr<QtMainQueue> mainQueue = std::make_shared<QtMainQueue>();
    std::shared_ptr<PreviewMixerEngine> engine;
    std::shared_ptr<MixerViewModel> model;
    PanelController controller;
};

TEST(PanelController, HangsUnderTheTrayIconAndKeepsItsTopEdgeWhileTheContentGrowsAndShrinks) {
    Panel panel(previewSnapshot(PreviewState::empty, 0));
    int willShow = 0;
    panel.controller.onWillShow = [&] { ++willShow; };
    panel.controller.show(QRect(1000, 0, 24, 25));
    settle();
    ASSERT_TRUE(panel.controller.isVisible());
    EXPECT_EQ(willShow, 1);
    const QRect frame = panel.controller.panel()->geometry();
    EXPECT_EQ(frame.x(), 1012 - 190);
    EXPECT_EQ(frame.y(), 25 + 6);
    EXPECT_EQ(frame.size(), panel.controller.measure(true));
    EXPECT_DOUBLE_EQ(panel.controller.topEdge(), 1080 - 31);
    EXPECT_TRUE(panel.controller.isWatchingActivation());

    panel.engine->publish(PreviewMixerEngine::cannedSnapshot()); // four rows appear
    settle();
    panel.controller.relayout();
    settle();
    EXPECT_GT(panel.controller.panel()->height(), frame.height());
    EXPECT_EQ(panel.controller.panel()->y(), frame.y());
    EXPECT_DOUBLE_EQ(panel.controller.topEdge(), 1080 - 31);

    // A resize from anywhere keeps the top edge too: 200 high, then 260.
    panel.controller.panel()->resize(380, 200);
    EXPECT_EQ(panel.controller.panel()->y(), frame.y());
    panel.controller.panel()->resize(380, 260);
    EXPECT_EQ(panel.controller.panel()->y(), frame.y());
    EXPECT_EQ(panel.controller.panel()->height(), 260);
}

TEST(PanelController, AnotherApplicationTakingActivationOrEscClosesItAndKeysGoToTheModelFirst) {
    Panel panel;
    panel.controller.show(std::nullopt);
    emit qApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_TRUE(panel.controller.isVisible()) << "Brindell's own windows keep it open";
    emit qApp->applicationStateChanged(Qt::ApplicationInactive);
    EXPECT_FALSE(panel.controller.isVisible());

    panel.controller.show(std::nullopt);
    panel.key(Qt::Key_Escape);
    EXPECT_FALSE(panel.controller.isVisible());
    EXPECT_FALSE(panel.controller.isWatchingActivation());

    // Keys go to the model first and the rest to the focused control.
    panel.controller.show(std::nullopt);
    // Nothing chosen: Left means nothing to the model, so the focused slider takes it.
    VolumeSlider* slider = panel.controller.view()->rowView(1)->slider();
    slider->setFocus();
    ASSERT_TRUE(waitFor([&] { return QApplication::focusWidget() == slider; }));
    panel.key(Qt::Key_Left);
    EXPECT_EQ(slider->value(), 790);
    EXPECT_FLOAT_EQ(panel.engine->current().rows[0].volume, 0.79f);
    EXPECT_FALSE(panel.model->keyboardTarget.get());

    // A key the model uses goes to the model first.
    panel.key(Qt::Key_Down);
    panel.key(Qt::Key_Down);
    panel.key(Qt::Key_M, Qt::NoModifier, QStringLiteral("m"));
    EXPECT_TRUE(panel.engine->current().rows[0].isMuted);
}

} // namespace
} // namespace brindell
