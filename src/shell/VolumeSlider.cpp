#include "shell/VolumeSlider.h"

#include "audio/Volume.h"

#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace brindell {

namespace {

constexpr int knobDiameter = 16;

// Positions and hit-testing stay the toolkit's; only the knob's size and the press-to-jump
// behaviour change.
class SliderStyle final : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        if (hint == SH_Slider_AbsoluteSetButtons) {
            return Qt::LeftButton;
        }
        if (hint == SH_Slider_PageSetButtons) {
            return Qt::NoButton;
        }
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        if (metric == PM_SliderLength) {
            return knobDiameter;
        }
        if (metric == PM_SliderThickness || metric == PM_SliderControlThickness) {
            return knobDiameter + 4;
        }
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

QStyle* sliderStyle() {
    // One per process, parented to nothing: widgets do not own the styles they use.
    static SliderStyle* style = new SliderStyle();
    return style;
}

} // namespace

VolumeSlider::VolumeSlider(const PanelTheme* theme, QWidget* parent)
    : QSlider(Qt::Horizontal, parent), theme_(theme) {
    setStyle(sliderStyle());
    setRange(0, steps);
    setSingleStep(steps / 100);
    setPageStep(steps / 10);
    setTracking(true);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed); // takes the spare width
    connect(this, &QSlider::sliderPressed, this, [this] {
        if (onEditing) {
            onEditing(true);
        }
    });
    connect(this, &QSlider::sliderReleased, this, [this] {
        if (onEditing) {
            onEditing(false);
        }
    });
    connect(this, &QSlider::valueChanged, this, [this](int) {
        if (!settingValue_ && onMoved) {
            onMoved(volume());
        }
    });
}

void VolumeSlider::setVolume(float volume) {
    if (isTracking()) {
        return;
    }
    const float clamped = cleanVolume(volume, 0.0f);
    const int target = static_cast<int>(std::lround(clamped * steps));
    if (target != value()) {
        settingValue_ = true;
        setValue(target);
        settingValue_ = false;
    }
}

void VolumeSlider::setOpacity(qreal opacity) {
    if (!qFuzzyCompare(opacity, opacity_)) {
        opacity_ = opacity;
        update();
    }
}

void VolumeSlider::setLevel(float level) {
    const float clamped = level > 0.0f ? std::min(level, 1.0f) : 0.0f; // also NaN
    // Redraw only when the band moves by a visible amount.
    const qreal span = std::max(1, width() - knobDiameter);
    if (std::lround(static_cast<qreal>(clamped) * span * 2) !=
        std::lround(static_cast<qreal>(level_) * span * 2)) {
        level_ = clamped;
        update();
    } else {
        level_ = clamped;
    }
}

QColor VolumeSlider::levelColor() const {
    const QColor accent = isEnabled() ? theme_->accent() : theme_->secondary();
    const Appearance& look = theme_->appearance();
    const double white = look.increaseContrast ? 0.7 : (look.dark ? 0.4 : 0.5);
    const auto mix = [white](int channel) {
        return static_cast<int>(std::lround(channel + (255 - channel) * white));
    };
    return QColor(mix(accent.red()), mix(accent.green()), mix(accent.blue()));
}

QString VolumeSlider::describe(float volume) {
    return QString::number(std::lround(static_cast<double>(volume) * 100.0)) +
           QStringLiteral(" percent");
}

QSize VolumeSlider::sizeHint() const {
    return {160, knobDiameter + 4};
}

void VolumeSlider::wheelEvent(QWheelEvent* event) {
    event->ignore();
}

void VolumeSlider::paintEvent(QPaintEvent*) {
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect handle =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(opacity_);

    const qreal centreY = height() / 2.0;
    const qreal left = knobDiameter / 2.0;
    const qreal right = width() - knobDiameter / 2.0;
    const qreal knobX = handle.center().x() + 0.5;
    constexpr qreal track = 4;
    const QRectF whole(left - track / 2, centreY - track / 2, right - left + track, track);
    painter.setPen(Qt::NoPen);
    painter.setBrush(theme_->primaryAt(theme_->appearance().increaseContrast ? 0.3 : 0.14));
    painter.drawRoundedRect(whole, track / 2, track / 2);
    QRectF filled = whole;
    filled.setRight(knobX);
    painter.setBrush(isEnabled() ? theme_->accent() : theme_->secondary());
    painter.drawRoundedRect(filled, track / 2, track / 2);
    if (level_ > 0.0f) {
        // The level on the knob's own scale, under the knob.
        QRectF band = whole;
        band.setRight(std::min(whole.right(), left + static_cast<qreal>(level_) * (right - left)));
        painter.setBrush(levelColor());
        painter.drawRoundedRect(band, track / 2, track / 2);
    }

    // The knob: a white disc with a soft shadow and a hairline edge.
    const QRectF knob(knobX - knobDiameter / 2.0, centreY - knobDiameter / 2.0, knobDiameter,
                      knobDiameter);
    painter.setBrush(QColor(0, 0, 0, theme_->appearance().dark ? 70 : 28));
    painter.drawEllipse(knob.translated(0, 0.75).adjusted(-0.5, -0.5, 0.5, 0.5));
    const bool dark = theme_->appearance().dark;
    painter.setBrush(isSliderDown() ? (dark ? QColor(0xd8, 0xd8, 0xdc) : QColor(0xf0, 0xf0, 0xf0))
                                    : (dark ? QColor(0xec, 0xec, 0xef) : QColor(Qt::white)));
    const bool contrast = theme_->appearance().increaseContrast;
    painter.setPen(QPen(QColor(0, 0, 0, contrast ? 110 : (dark ? 60 : 40)), contrast ? 1.0 : 0.6));
    painter.drawEllipse(knob.adjusted(0.5, 0.5, -0.5, -0.5));
    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(theme_->accent(), 2));
        painter.drawEllipse(knob.adjusted(-1.5, -1.5, 1.5, 1.5));
    }
}

} // namespace brindell
