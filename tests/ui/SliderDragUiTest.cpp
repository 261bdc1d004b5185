#include "UiTestSupport.h"
#include "shell/SourceRowView.h"
#include "shell/VolumeSlider.h"

#include <QApplication>
#include <QMouseEvent>
#include <QStyleOptionSlider>
#include <QTest>
#include <gtest/gtest.h>

namespace brindell {
namespace {

using testing::PreviewMixer;
using testing::settle;

// The x where the knob sits for a value, from the slider's own geometry.
int xFor(VolumeSlider& slider, float value) {
    QStyleOptionSlider option;
    option.initFrom(&slider);
    option.orientation = Qt::Horizontal;
    option.minimum = slider.minimum();
    option.maximum = slider.maximum();
    option.sliderPosition = qRound(value * VolumeSlider::steps);
    option.sliderValue = option.sliderPosition;
    const QRect handle = slider.style()->subControlRect(QStyle::CC_Slider, &option,
                                                        QStyle::SC_SliderHandle, &slider);
    return handle.center().x();
}

void dragTo(VolumeSlider& slider, int x) {
    const QPoint at(x, slider.height() / 2);
    QMouseEvent move(QEvent::MouseMove, at, slider.mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&slider, &move);
}

// A press on the track jumps there and starts a drag; while it lasts the knob follows only the
// pointer, and each move goes to the engine.
TEST(SliderDrag, APressJumpsAndTheKnobFollowsOnlyThePointerWhileTheEnginePublishes) {
    PreviewMixer mixer;
    VolumeSlider& slider = *mixer.view->rowView(1)->slider(); // Music at 0.8
    ASSERT_EQ(slider.value(), 800);

    QTest::mousePress(&slider, Qt::LeftButton, Qt::NoModifier,
                      QPoint(xFor(slider, 0.6f), slider.height() / 2));
    ASSERT_TRUE(slider.isTracking());
    EXPECT_NEAR(slider.value(), 600, 15);
    EXPECT_NEAR(mixer.engine->current().rows[0].volume, 0.6f, 0.015f);
    EXPECT_EQ(mixer.model->draggingPID(), 1);

    for (const float target : {0.4f, 0.3f}) {
        dragTo(slider, xFor(slider, target));
        const int pointerValue = slider.value();
        EXPECT_NEAR(pointerValue, qRound(target * VolumeSlider::steps), 15);
        EXPECT_FLOAT_EQ(mixer.engine->current().rows[0].volume,
                        static_cast<float>(pointerValue) / VolumeSlider::steps);

        // Meanwhile the engine publishes another value for this row and the row's box is set
        // from elsewhere: neither moves the knob (what the list does is the view model's).
        mixer.engineChangesRow(1, [](MixerRow& row) { row.volume = 0.95f; });
        mixer.model->volumeBox(1)->setValue(0.1f);
        settle();
        EXPECT_EQ(slider.value(), pointerValue) << "the knob stays under the pointer";
    }

    QTest::mouseRelease(&slider, Qt::LeftButton, Qt::NoModifier,
                        QPoint(xFor(slider, 0.3f), slider.height() / 2));
    settle();
    EXPECT_FALSE(slider.isTracking());
    EXPECT_FALSE(mixer.model->draggingPID());
    // After the drag the knob shows the engine's value again, and published values move it.
    EXPECT_EQ(slider.value(), qRound(mixer.engine->current().rows[0].volume * 1000));
    mixer.engineChangesRow(1, [](MixerRow& row) { row.volume = 0.25f; });
    settle();
    EXPECT_EQ(slider.value(), 250);
}

} // namespace
} // namespace brindell
