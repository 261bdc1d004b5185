#pragma once

#include "shell/PanelTheme.h"

#include <QSlider>
#include <functional>

namespace brindell {

// A horizontal volume slider from 0 to 1: a thin rounded track filled in the accent colour up
// to a round knob. A press anywhere on it moves the knob there and starts a drag. The mouse
// wheel is left to the list around it.
//
// While the user holds it (isTracking), setVolume from the model does not move the knob, so
// the knob follows only the pointer. onEditing reports the start and end of a hold; onMoved
// every value the user makes.
class VolumeSlider : public QSlider {
    Q_OBJECT
public:
    static constexpr int steps = 1000;

    VolumeSlider(const PanelTheme* theme, QWidget* parent = nullptr);

    std::function<void(bool)> onEditing;
    std::function<void(float)> onMoved;

    bool isTracking() const { return isSliderDown(); }
    float volume() const { return static_cast<float>(value()) / steps; }
    // Shows the model's value unless the user holds the knob; reports nothing back.
    void setVolume(float volume);
    // Drawn faded (a muted row, a muted output).
    void setOpacity(qreal opacity);
    qreal opacity() const { return opacity_; }
    // The live level, 0 to 1 on the slider's own scale: a lighter band inside the track from
    // its left end; 0 draws none. Only drawn, never announced: the accessible value stays the
    // volume.
    void setLevel(float level);
    float level() const { return level_; }
    // The band's colour in the current look: the accent lightened, more so with increased
    // contrast, always opaque.
    QColor levelColor() const;

    // "46 percent" for 0.456: the spoken value.
    static QString describe(float volume);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    const PanelTheme* theme_;
    qreal opacity_ = 1.0;
    float level_ = 0.0f;
    bool settingValue_ = false;
};

} // namespace brindell
