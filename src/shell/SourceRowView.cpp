#include "shell/SourceRowView.h"

#include <QContextMenuEvent>
#include <QFileInfo>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPropertyAnimation>
#include <QVBoxLayout>

namespace brindell {

namespace {

constexpr int iconSize = 32;
constexpr qreal inactiveOpacity = 0.55;
constexpr qreal mutedSliderOpacity = 0.45;

} // namespace

SourceRowView::SourceRowView(std::shared_ptr<MixerViewModel> model, const PanelTheme* theme,
                             const MixerRow& row, QWidget* parent)
    : QWidget(parent), model_(std::move(model)), theme_(theme), row_(row) {
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    auto* line = new QHBoxLayout(this);
    line->setContentsMargins(12, 8, 12, 8);
    line->setSpacing(10);
    // The icon is painted by the row itself (it takes no part in accessibility).
    line->addSpacing(iconSize);

    auto* column = new QVBoxLayout();
    column->setSpacing(2);
    line->addLayout(column, 1);

    auto* title = new QHBoxLayout();
    title->setSpacing(8);
    name_ = new QLabel(this);
    name_->setTextFormat(Qt::PlainText);
    name_->setAccessibleName(QString()); // the row carries the name
    output_ = new MenuButton(theme_, this);
    title->addWidget(name_, 1);
    title->addWidget(output_, 0, Qt::AlignRight | Qt::AlignVCenter);
    column->addLayout(title);

    auto* controls = new QHBoxLayout();
    controls->setSpacing(8);
    mute_ = new IconToggleButton(theme_, this);
    slider_ = new VolumeSlider(theme_, this);
    controls->addWidget(mute_);
    controls->addWidget(slider_, 1);
    column->addLayout(controls);

    status_ = new SymbolTextLabel(theme_, this);
    column->addWidget(status_);

    box_ = model_->volumeBox(row_.pid);
    slider_->setVolume(box_->value());
    boxSubscription_ = box_->subscribe([this](float value) { slider_->setVolume(value); });

    const pid_type pid = row_.pid;
    slider_->onEditing = [this, pid](bool active) { model_->setDragging(pid, active); };
    slider_->onMoved = [this, pid](float value) { model_->setVolume(pid, value); };
    connect(mute_, &QAbstractButton::clicked, this,
            [this, pid] { model_->setMuted(pid, !row_.isMuted); });
    output_->setPopulate([this, pid](QMenu& menu) {
        const auto& defaultName = model_->defaultOutputName.get();
        QString systemDefault = QStringLiteral("System Default");
        if (defaultName) {
            systemDefault += QStringLiteral(" (") + toQString(*defaultName) + QStringLiteral(")");
        }
        QAction* follow = menu.addAction(systemDefault, this,
                                         [this, pid] { model_->setOutput(pid, std::nullopt); });
        follow->setCheckable(true);
        follow->setChecked(!row_.outputUID);
        menu.addSeparator();
        for (const auto& output : model_->outputs.get()) {
            QAction* choice =
                menu.addAction(toQString(output.name), this,
                               [this, pid, uid = output.uid] { model_->setOutput(pid, uid); });
            choice->setCheckable(true);
            choice->setChecked(row_.outputUID == output.uid);
        }
    });

    applyTheme();
    updateContent();
}

SourceRowView::~SourceRowView() = default;

void SourceRowView::applyTheme() {
    name_->setFont(theme_->medium());
    QPalette palette = name_->palette();
    palette.setColor(QPalette::WindowText, theme_->primary());
    name_->setPalette(palette);
    output_->setLabelFont(theme_->caption());
    status_->setTextFont(theme_->caption());
    status_->setSymbolSize(QFontMetrics(theme_->caption()).height() - 3);
    update();
}

void SourceRowView::setRow(const MixerRow& row) {
    // Compare the icon too: it takes no part in row equality but is drawn.
    if (row == row_ && row.icon == row_.icon) {
        return;
    }
    row_ = row;
    updateContent();
}

QString SourceRowView::outputText() const {
    if (!row_.outputUID) {
        return QStringLiteral("System Default");
    }
    for (const auto& output : model_->outputs.get()) {
        if (output.uid == *row_.outputUID) {
            return toQString(output.name);
        }
    }
    return QStringLiteral("Output not connected");
}

void SourceRowView::refreshOutputs() {
    const QString current = outputText();
    output_->setText(current);
    output_->setAccessibleValue(current);
    output_->updateGeometry();
}

void SourceRowView::updateContent() {
    const QString name = toQString(row_.name);
    name_->setText(name);
    icon_ = loadIcon();
    setAccessibleName(row_.isActive ? name : name + QStringLiteral(", not playing now"));

    output_->setAccessibleName(QStringLiteral("Output for ") + name);
    refreshOutputs();

    mute_->setSymbol(row_.isMuted ? "speaker.slash.fill" : "speaker.wave.2.fill");
    mute_->setOn(row_.isMuted);
    const QString muteText =
        (row_.isMuted ? QStringLiteral("Unmute ") : QStringLiteral("Mute ")) + name;
    mute_->setToolTip(muteText);
    mute_->setAccessibleName(muteText);

    slider_->setAccessibleName(name + QStringLiteral(" volume"));
    // On every update the knob copies the box, unless the user holds it.
    slider_->setVolume(box_->value());
    slider_->setOpacity(row_.isMuted ? mutedSliderOpacity : 1.0);
    setLevel(level_);

    if (const auto shown = presentation(row_.status, row_.isActive)) {
        status_->setContent(shown->symbol, toQString(shown->sentence),
                            shown->warning ? Tint::warning : Tint::secondary);
        status_->setVisible(true);
    } else {
        status_->setContent({}, {}, Tint::secondary);
        status_->setVisible(false);
    }
    updateOpacity();
    update();
}

qreal SourceRowView::rowOpacity() const {
    return row_.isActive ? 1.0 : inactiveOpacity;
}

void SourceRowView::updateOpacity() {
    if (fade_ != nullptr && fade_->state() == QAbstractAnimation::Running) {
        fade_->setEndValue(rowOpacity());
        return;
    }
    if (rowOpacity() < 1.0) {
        if (effect_ == nullptr) {
            effect_ = new QGraphicsOpacityEffect(this);
            setGraphicsEffect(effect_);
        }
        effect_->setOpacity(rowOpacity());
    } else if (effect_ != nullptr) {
        setGraphicsEffect(nullptr); // deletes it; a full-opacity row draws directly
        effect_ = nullptr;
    }
}

void SourceRowView::animateIn() {
    if (effect_ == nullptr) {
        effect_ = new QGraphicsOpacityEffect(this);
        setGraphicsEffect(effect_);
    }
    effect_->setOpacity(0.0);
    fade_ = new QPropertyAnimation(effect_, "opacity", this);
    fade_->setDuration(200);
    fade_->setEasingCurve(QEasingCurve::OutCubic);
    fade_->setStartValue(0.0);
    fade_->setEndValue(rowOpacity());
    connect(fade_, &QPropertyAnimation::finished, this, [this] {
        fade_->deleteLater();
        fade_ = nullptr;
        updateOpacity();
    });
    fade_->start();
}

void SourceRowView::setLevel(float level) {
    level_ = level;
    const bool audible = !row_.isMuted && row_.status.kind() == MixerRowStatus::Kind::ok;
    slider_->setLevel(audible ? level : 0.0f);
}

void SourceRowView::setKeyboardCursor(bool on) {
    if (on != cursor_) {
        cursor_ = on;
        update();
    }
}

QIcon SourceRowView::loadIcon() const {
    if (!row_.icon || row_.icon->empty()) {
        return {};
    }
    const QString reference = toQString(*row_.icon);
    if (reference.startsWith(QLatin1Char('/'))) {
        return QFileInfo::exists(reference) ? QIcon(reference) : QIcon();
    }
    return QIcon::fromTheme(reference);
}

void SourceRowView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (underMouse()) {
        painter.fillRect(rect(), theme_->primaryAt(0.06));
    }
    if (cursor_) {
        drawKeyboardCursor(painter, QRectF(rect()).adjusted(5, 3, -5, -3), *theme_);
    }
    const QRect iconBox(12, (height() - iconSize) / 2, iconSize, iconSize);
    const QIcon& icon = icon_;
    const qreal ratio = painter.device()->devicePixelRatioF();
    if (!icon.isNull()) {
        const QPixmap pixmap = icon.pixmap(QSize(iconSize, iconSize), ratio);
        painter.drawPixmap(iconBox, pixmap);
    } else {
        // The placeholder, inset by 4.
        const int inner = iconSize - 8;
        const QPixmap placeholder = symbolPixmap("app.dashed", inner, theme_->secondary(), ratio);
        painter.drawPixmap(iconBox.topLeft() + QPoint(4, 4), placeholder);
    }
}

std::unique_ptr<QMenu> SourceRowView::makeContextMenu() {
    auto menu = std::make_unique<QMenu>();
    QAction* reset = menu->addAction(QStringLiteral("Reset ") + toQString(row_.name));
    reset->setEnabled(row_.bundleID.has_value());
    if (row_.bundleID) {
        connect(reset, &QAction::triggered, this,
                [this, id = *row_.bundleID] { model_->engine().forgetSettings(id); });
    }
    return menu;
}

void SourceRowView::contextMenuEvent(QContextMenuEvent* event) {
    auto menu = makeContextMenu();
    menu->exec(event->globalPos());
}

} // namespace brindell
