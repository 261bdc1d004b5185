#include "shell/MasterSection.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QVBoxLayout>

namespace brindell {

namespace {

constexpr qreal mutedLineOpacity = 0.5;

} // namespace

MasterSection::MasterSection(std::shared_ptr<MixerViewModel> model, const PanelTheme* theme,
                             QWidget* parent)
    : QWidget(parent), model_(std::move(model)), theme_(theme) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(10);

    auto* header = new QHBoxLayout();
    header->setSpacing(10);
    tile_ = new Decoration(theme_, "speaker.wave.3.fill", 14, Tint::white, this);
    tile_->setTile(32, 8);
    header->addWidget(tile_, 0, Qt::AlignVCenter);
    auto* names = new QVBoxLayout();
    names->setSpacing(1);
    caption_ = new QLabel(QStringLiteral("Output"), this);
    caption_->setAccessibleName(QString());
    device_ = new MenuButton(theme_, this);
    device_->setTint(Tint::primary);
    device_->setAccessibleName(QStringLiteral("Output"));
    names->addWidget(caption_);
    names->addWidget(device_, 0, Qt::AlignLeft);
    header->addLayout(names, 1);
    mute_ = new IconToggleButton(theme_, this);
    header->addWidget(mute_, 0, Qt::AlignVCenter);
    column->addLayout(header);

    volumeLine_ = new QWidget(this);
    auto* line = new QHBoxLayout(volumeLine_);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(8);
    quiet_ = new Decoration(theme_, "speaker.fill", 11, Tint::secondary, volumeLine_);
    slider_ = new VolumeSlider(theme_, volumeLine_);
    slider_->setAccessibleName(QStringLiteral("Master volume"));
    loud_ = new Decoration(theme_, "speaker.wave.3.fill", 13, Tint::secondary, volumeLine_);
    line->addWidget(quiet_);
    line->addWidget(slider_, 1);
    line->addWidget(loud_);
    column->addWidget(volumeLine_);

    noVolume_ = new QLabel(
        QStringLiteral("This output has no software volume. Use your display or device controls."),
        this);
    noVolume_->setWordWrap(true);
    column->addWidget(noVolume_);

    slider_->onMoved = [this](float value) { model_->setMasterVolume(value); };
    connect(mute_, &QAbstractButton::clicked, this, [this] {
        const auto& master = model_->master.get();
        if (master && master->isMuted) {
            model_->setMasterMuted(!*master->isMuted);
        }
    });
    device_->setPopulate([this](QMenu& menu) {
        const auto& master = model_->master.get();
        for (const auto& output : model_->outputs.get()) {
            QAction* choice =
                menu.addAction(toQString(output.name), this, [this, uid = output.uid] {
                    model_->engine().setDefaultOutput(uid);
                });
            choice->setCheckable(true);
            choice->setChecked(master && master->deviceUID == output.uid);
        }
    });

    applyTheme();
    refresh();
}

void MasterSection::applyTheme() {
    caption_->setFont(theme_->caption());
    setTextColor(caption_, theme_->secondary());
    device_->setLabelFont(theme_->headline());
    noVolume_->setFont(theme_->caption());
    setTextColor(noVolume_, theme_->secondary());
    update();
}

void MasterSection::refresh() {
    const auto& master = model_->master.get();
    const bool reachable = model_->serverReachable.get();
    const QString name = !reachable ? QStringLiteral("No audio server")
                         : master   ? toQString(master->deviceName)
                                    : QStringLiteral("No output");
    device_->setText(name);
    device_->setAccessibleValue(name);
    device_->updateGeometry();

    const bool hasMute = master && master->isMuted.has_value();
    const bool muted = hasMute && *master->isMuted;
    mute_->setVisible(hasMute);
    mute_->setOn(muted);
    mute_->setSymbol(muted ? "speaker.slash.fill" : "speaker.fill");
    mute_->setToolTip(muted ? QStringLiteral("Unmute") : QStringLiteral("Mute"));
    mute_->setAccessibleName(muted ? QStringLiteral("Unmute output")
                                   : QStringLiteral("Mute output"));

    const bool hasVolume = master && master->volume.has_value();
    volumeLine_->setVisible(hasVolume);
    noVolume_->setVisible(!hasVolume && reachable); // no device to explain without a server
    if (hasVolume) {
        slider_->setVolume(*master->volume);
    }
    const qreal opacity = muted ? mutedLineOpacity : 1.0;
    slider_->setOpacity(opacity);
    quiet_->setOpacity(opacity);
    loud_->setOpacity(opacity);
}

void MasterSection::setKeyboardCursor(bool on) {
    if (on != cursor_) {
        cursor_ = on;
        update();
    }
}

void MasterSection::paintEvent(QPaintEvent*) {
    if (!cursor_) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    drawKeyboardCursor(painter, QRectF(rect()).adjusted(5, 3, -5, -3), *theme_);
}

} // namespace brindell
