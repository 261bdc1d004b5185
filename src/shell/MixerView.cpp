#include "shell/MixerView.h"

#include "permission/PermissionBanner.h"
#include "shell/Accessibility.h"
#include "shell/MasterSection.h"
#include "shell/PanelWidgets.h"
#include "shell/SourceRowView.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace brindell {

// --- PermissionBannerView -------------------------------------------------------------------

PermissionBannerView::PermissionBannerView(const PanelTheme* theme,
                                           std::function<void()> openSoundSettings,
                                           std::function<void()> checkAgain, QWidget* parent)
    : QWidget(parent), theme_(theme) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setAccessibleName(toQString(PermissionBanner::title));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(8);

    auto* title = new SymbolTextLabel(theme_, this);
    title->setContent(std::string(PermissionBanner::symbol), toQString(PermissionBanner::title),
                      Tint::primary);
    column->addWidget(title);
    texts_.push_back(title);

    auto* body = new QLabel(toQString(PermissionBanner::body), this);
    body->setWordWrap(true);
    column->addWidget(body);
    labels_.push_back(body);

    auto* steps = new QVBoxLayout();
    steps->setSpacing(3);
    int number = 1;
    for (const auto step : PermissionBanner::steps) {
        auto* label =
            new QLabel(QString::number(number++) + QStringLiteral(". ") + toQString(step), this);
        label->setWordWrap(true);
        steps->addWidget(label);
        labels_.push_back(label);
    }
    column->addLayout(steps);

    auto* buttons = new QHBoxLayout();
    buttons->setSpacing(8);
    auto* open =
        new PanelButton(theme_, toQString(PermissionBanner::openSettingsButton), true, this);
    auto* check =
        new PanelButton(theme_, toQString(PermissionBanner::checkAgainButton), false, this);
    connect(open, &QAbstractButton::clicked, this, [f = std::move(openSoundSettings)] {
        if (f) {
            f();
        }
    });
    connect(check, &QAbstractButton::clicked, this, [f = std::move(checkAgain)] {
        if (f) {
            f();
        }
    });
    buttons->addWidget(open);
    buttons->addWidget(check);
    buttons->addStretch(1);
    buttons_[0] = open;
    buttons_[1] = check;
    column->addSpacing(2);
    column->addLayout(buttons);
    applyTheme();
}

void PermissionBannerView::applyTheme() {
    auto* title = static_cast<SymbolTextLabel*>(texts_.front());
    title->setTextFont(theme_->headline());
    title->setSymbolSize(QFontMetrics(theme_->headline()).height() - 2);
    labels_.front()->setFont(theme_->callout());
    setTextColor(labels_.front(), theme_->secondary());
    for (std::size_t i = 1; i < labels_.size(); ++i) {
        labels_[i]->setFont(theme_->callout());
        setTextColor(labels_[i], theme_->primary());
    }
    for (auto* button : buttons_) {
        button->setFont(theme_->callout());
        button->updateGeometry();
    }
}

QStringList PermissionBannerView::stepTexts() const {
    QStringList result;
    for (std::size_t i = 1; i < labels_.size(); ++i) {
        result << labels_[i]->text();
    }
    return result;
}

// --- MixerView ------------------------------------------------------------------------------

MixerView::MixerView(std::shared_ptr<MixerViewModel> model, Appearance desktop,
                     MixerViewOptions options, QWidget* parent)
    : QWidget(parent), model_(std::move(model)), options_(std::move(options)),
      theme_(effectiveAppearance(desktop), QApplication::palette(), QApplication::font()) {
    installAccessibility();
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedWidth(panelWidth);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);

    column_ = new QVBoxLayout(this);
    column_->setContentsMargins(0, 0, 0, 0);
    column_->setSpacing(0);

    master_ = new MasterSection(model_, &theme_, this);
    column_->addWidget(master_);
    column_->addWidget(new Divider(&theme_, this));

    banner_ = new PermissionBannerView(
        &theme_, options_.openSoundSettings, [this] { model_->engine().recheckPermission(); },
        this);
    column_->addWidget(banner_);
    bannerDivider_ = new Divider(&theme_, this);
    column_->addWidget(bannerDivider_);

    empty_ = new QLabel(QStringLiteral("No apps are playing audio"), this);
    empty_->setAlignment(Qt::AlignCenter);
    empty_->setWordWrap(true);
    empty_->setMinimumHeight(80);
    column_->addWidget(empty_);

    list_ = new QScrollArea(this);
    list_->setFrameShape(QFrame::NoFrame);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list_->setWidgetResizable(true);
    list_->viewport()->setAutoFillBackground(false);
    list_->setAutoFillBackground(false);
    rowsContainer_ = new QWidget();
    rowsLayout_ = new QVBoxLayout(rowsContainer_);
    rowsLayout_->setContentsMargins(0, 0, 0, 0);
    rowsLayout_->setSpacing(0);
    rowsLayout_->addStretch(1);
    list_->setWidget(rowsContainer_);
    rowsContainer_->setAutoFillBackground(false); // setWidget turns it on; the panel shows through
    column_->addWidget(list_);

    column_->addWidget(new Divider(&theme_, this));

    footer_ = new QWidget(this);
    auto* footer = new QHBoxLayout(footer_);
    footer->setContentsMargins(12, 8, 12, 8);
    footer->setSpacing(8);
    auto* reset = new LinkButton(&theme_, QStringLiteral("Reset all apps"), footer_);
    connect(reset, &QAbstractButton::clicked, this,
            [this] { model_->engine().forgetAllSettings(); });
    hint_ = new QLabel(QStringLiteral("\u2191\u2193 choose  \u2190\u2192 volume  M mute  R output"),
                       footer_);
    hint_->setAlignment(Qt::AlignCenter);
    auto* settings = new SymbolButton(&theme_, "gearshape", footer_);
    settings->setToolTip(QStringLiteral("Brindell Settings"));
    settings->setAccessibleName(QStringLiteral("Brindell Settings"));
    connect(settings, &QAbstractButton::clicked, this, [this] {
        if (options_.openSettings) {
            options_.openSettings();
        }
    });
    footer->addWidget(reset);
    footer->addWidget(hint_, 1);
    footer->addWidget(settings);
    column_->addWidget(footer_);

    if (options_.badge) {
        badge_ = new QLabel(toQString(options_.badge->badge), this);
        badge_->setAlignment(Qt::AlignCenter);
        badge_->setContentsMargins(0, 3, 0, 3);
        badge_->setAccessibleName(toQString(options_.badge->accessibilityLabel));
        column_->addWidget(badge_);
    }

    subscriptions_.push_back(model_->master.subscribe([this](const auto&) { master_->refresh(); }));
    subscriptions_.push_back(model_->outputs.subscribe([this](const auto&) { syncOutputs(); }));
    subscriptions_.push_back(
        model_->defaultOutputName.subscribe([this](const auto&) { syncOutputs(); }));
    subscriptions_.push_back(model_->rows.subscribe([this](const auto&) { syncRows(); }));
    subscriptions_.push_back(model_->serverReachable.subscribe([this](const auto&) {
        master_->refresh();
        syncRows();
    }));
    subscriptions_.push_back(
        model_->permission.subscribe([this](const auto&) { syncPermission(); }));
    subscriptions_.push_back(
        model_->keyboardTarget.subscribe([this](const auto&) { syncKeyboardTarget(); }));
    subscriptions_.push_back(model_->levels.subscribe([this](const auto&) { syncLevels(); }));

    applyTheme();
    syncRows();
    syncPermission();
    syncKeyboardTarget();
    populated_ = true;
}

MixerView::~MixerView() {
    // The rows and sections hold the model; unsubscribe before they go.
    subscriptions_.clear();
    model_->setLevelsWanted(false);
}

void MixerView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    model_->setLevelsWanted(true);
}

void MixerView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    model_->setLevelsWanted(false);
}

void MixerView::syncLevels() {
    const auto& levels = model_->levels.get();
    for (auto& [pid, row] : rows_) {
        const auto found = levels.find(pid);
        row->setLevel(found == levels.end() ? 0.0f : found->second);
    }
}

Appearance MixerView::effectiveAppearance(Appearance desktop) const {
    desktop.reduceTransparency = desktop.reduceTransparency || options_.forceReducedTransparency;
    desktop.increaseContrast = desktop.increaseContrast || options_.forceIncreasedContrast;
    return desktop;
}

void MixerView::setAppearance(Appearance desktop) {
    const Appearance effective = effectiveAppearance(desktop);
    if (effective == theme_.appearance()) {
        return;
    }
    theme_ = PanelTheme(effective, QApplication::palette(), QApplication::font());
    applyTheme();
}

bool MixerView::opaqueBackground() const {
    return theme_.appearance().reduceTransparency;
}

void MixerView::applyTheme() {
    setPalette(theme_.palette());
    setFont(theme_.body());
    master_->applyTheme();
    banner_->applyTheme();
    empty_->setFont(theme_.body());
    setTextColor(empty_, theme_.secondary());
    hint_->setFont(theme_.caption2());
    setTextColor(hint_, theme_.secondary());
    for (auto* child : footer_->findChildren<LinkButton*>()) {
        child->setFont(theme_.caption());
    }
    const QColor handle = theme_.primaryAt(0.28);
    list_->verticalScrollBar()->setStyleSheet(
        QStringLiteral("QScrollBar:vertical { width: 8px; background: transparent; margin: 0; }"
                       "QScrollBar::handle:vertical { background: %1; border-radius: 3px;"
                       " min-height: 24px; margin: 2px 2px 2px 0; }"
                       "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical"
                       " { height: 0; }"
                       "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical"
                       " { background: transparent; }")
            .arg(handle.name(QColor::HexArgb)));
    if (badge_ != nullptr) {
        QFont font = theme_.caption2();
        font.setWeight(QFont::DemiBold);
        badge_->setFont(font);
        setTextColor(badge_, theme_.primary());
    }
    for (auto& [pid, row] : rows_) {
        row->applyTheme();
    }
    measureList();
    update();
}

std::vector<SourceRowView*> MixerView::rowViews() const {
    std::vector<SourceRowView*> ordered;
    for (int i = 0; i < rowsLayout_->count(); ++i) {
        if (auto* row = qobject_cast<SourceRowView*>(rowsLayout_->itemAt(i)->widget())) {
            ordered.push_back(row);
        }
    }
    return ordered;
}

SourceRowView* MixerView::rowView(pid_type pid) const {
    const auto found = rows_.find(pid);
    return found == rows_.end() ? nullptr : found->second;
}

void MixerView::syncRows() {
    const auto& rows = model_->rows.get();
    std::map<pid_type, SourceRowView*> kept;
    for (const auto& row : rows) {
        auto found = rows_.find(row.pid);
        SourceRowView* view = nullptr;
        if (found != rows_.end()) {
            view = found->second;
            rows_.erase(found);
            view->setRow(row);
        } else {
            view = new SourceRowView(model_, &theme_, row, rowsContainer_);
            if (populated_ && !theme_.appearance().reduceMotion) {
                view->animateIn();
            }
        }
        kept[row.pid] = view;
    }
    // Rows that went: off the screen now, deleted once the event that removed them is done
    // (it may be their own slider's release).
    for (auto& [pid, view] : rows_) {
        rowsLayout_->removeWidget(view);
        view->hide();
        view->deleteLater();
    }
    rows_ = std::move(kept);
    // Lay the rows out in the model's order, before the trailing stretch.
    for (const auto& row : rows) {
        rowsLayout_->removeWidget(rows_[row.pid]);
    }
    int index = 0;
    for (const auto& row : rows) {
        rowsLayout_->insertWidget(index++, rows_[row.pid]);
        rows_[row.pid]->show();
    }
    // Without the audio server the rows are out of date: the panel says so instead.
    const bool reachable = model_->serverReachable.get();
    empty_->setText(reachable ? QStringLiteral("No apps are playing audio")
                              : QStringLiteral("Brindell can't reach the audio server. It keeps "
                                               "trying and shows your apps again once the "
                                               "server is back."));
    empty_->setVisible(rows.empty() || !reachable);
    list_->setVisible(!rows.empty() && reachable);
    syncKeyboardTarget();
    syncLevels();
    measureList();
}

void MixerView::syncOutputs() {
    master_->refresh();
    for (auto& [pid, row] : rows_) {
        row->refreshOutputs();
    }
}

void MixerView::syncPermission() {
    const bool denied = model_->permission.get() == PermissionState::likelyDenied;
    banner_->setVisible(denied);
    bannerDivider_->setVisible(denied);
}

void MixerView::syncKeyboardTarget() {
    const auto& target = model_->keyboardTarget.get();
    master_->setKeyboardCursor(target && target->isMaster());
    for (auto& [pid, row] : rows_) {
        const bool on = target && target->pid() == pid;
        row->setKeyboardCursor(on);
        if (on) {
            list_->ensureWidgetVisible(row, 0, 0);
        }
    }
}

void MixerView::measureList() {
    // The rows' total height at the panel's width; the list shows up to 360 of it and scrolls
    // the rest.
    rowsLayout_->activate();
    int total = 0;
    for (auto& [pid, row] : rows_) {
        total += heightAtWidth(row, panelWidth);
    }
    listHeight_ = total;
    const int shown = listHeight_ == 0 ? maxListHeight : qMin(listHeight_, maxListHeight);
    list_->setFixedHeight(shown);
    updateGeometry();
}

int MixerView::preferredHeight() {
    layout()->activate();
    return heightAtWidth(this, panelWidth);
}

void MixerView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const Appearance& look = theme_.appearance();
    const QRectF shape = QRectF(rect());
    QColor fill = theme_.windowBackground();
    if (!look.reduceTransparency) {
        // A translucent material: the desktop shows faintly through.
        fill.setAlphaF(look.dark ? 0.90f : 0.92f);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(shape, cornerRadius, cornerRadius);
    if (badge_ != nullptr && badge_->isVisible()) {
        // The badge's band follows the panel's rounded bottom corners.
        QPainterPath outline;
        outline.addRoundedRect(shape, cornerRadius, cornerRadius);
        painter.save();
        painter.setClipPath(outline);
        QColor orange(0xff, 0x95, 0x00);
        orange.setAlphaF(0.22f);
        painter.fillRect(badge_->geometry(), orange);
        painter.restore();
    }

    const qreal line = look.increaseContrast ? 1.5 : 0.5;
    const QRectF inside = shape.adjusted(line / 2, line / 2, -line / 2, -line / 2);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(theme_.primaryAt(look.increaseContrast ? 0.5 : 0.1), line));
    painter.drawRoundedRect(inside, cornerRadius - line / 2, cornerRadius - line / 2);
}

} // namespace brindell
