#include "shell/StatusItemController.h"

#include "settings/SettingsStorage.h"
#include "shell/PanelTheme.h"

#include <QApplication>
#include <QCursor>
#include <QIcon>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QPainter>
#include <QScreen>

namespace brindell {

namespace {

// The tray shows the icon in the panel's colours, which Brindell cannot see: a light icon for
// the dark top bars of GNOME and dark desktops, a dark one on light panels.
QIcon menuBarIcon() {
    const QByteArray desktop = qgetenv("XDG_CURRENT_DESKTOP").toLower();
    const bool lightIcon = desktop.contains("gnome") || desktop.contains("unity") ||
                           PanelTheme::isDark(QApplication::palette());
    const QColor color = lightIcon ? QColor(0xf2, 0xf2, 0xf2) : QColor(0x2e, 0x34, 0x36);
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap = symbolPixmap("MenuBarIcon", size, color, 1.0);
        if (pixmap.isNull()) {
            pixmap = symbolPixmap("speaker.wave.2.fill", size, color, 1.0);
        }
        if (!pixmap.isNull()) {
            icon.addPixmap(pixmap);
        }
    }
    return icon;
}

} // namespace

std::vector<std::uint8_t> encodeIconVisibility(bool visible) {
    const QByteArray json = QJsonDocument(QJsonObject{{QStringLiteral("version"), 1},
                                                      {QStringLiteral("visible"), visible}})
                                .toJson(QJsonDocument::Compact);
    return {json.begin(), json.end()};
}

std::optional<bool> decodeIconVisibility(const std::vector<std::uint8_t>& blob) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray(reinterpret_cast<const char*>(blob.data()), static_cast<qsizetype>(blob.size())),
        &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject record = document.object();
    const QJsonValue version = record.value(QStringLiteral("version"));
    const QJsonValue visible = record.value(QStringLiteral("visible"));
    if (!version.isDouble() || version.toDouble() != 1.0 || !visible.isBool()) {
        return std::nullopt;
    }
    return visible.toBool();
}

StatusItemController::StatusItemController(std::optional<QString> badge,
                                           std::shared_ptr<SettingsStorage> visibility)
    : menu_(std::make_unique<QMenu>()), visibility_(std::move(visibility)) {
    tray_.setIcon(menuBarIcon());
    QString tip = QStringLiteral("Brindell");
    if (badge) {
        tip += QStringLiteral(" (") + badge->toLower() + QStringLiteral(")");
    }
    tray_.setToolTip(tip);
    connect(&tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                activated(reason, QGuiApplication::queryKeyboardModifiers());
            });
    // Trays that show the menu themselves ask for it afresh each time.
    connect(menu_.get(), &QMenu::aboutToShow, this, &StatusItemController::rebuildMenu);
    rebuildMenu();
    tray_.setContextMenu(menu_.get());
    bool visible = true;
    if (visibility_) {
        if (const auto blob = visibility_->load()) {
            visible = decodeIconVisibility(*blob).value_or(true);
        }
    }
    tray_.setVisible(visible);
}

StatusItemController::~StatusItemController() {
    tray_.setContextMenu(nullptr);
    tray_.hide();
}

void StatusItemController::setOnCheckForUpdates(std::function<void()> action) {
    onCheckForUpdates_ = std::move(action);
    rebuildMenu();
}

void StatusItemController::rebuildMenu() {
    menu_->clear();
    QAction* settings =
        menu_->addAction(QStringLiteral("Settings\u2026"), this, [this] { onSettings(); });
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    menu_->addAction(QStringLiteral("Reset Audio"), this, [this] { onResetAudio(); });
    if (onCheckForUpdates_) {
        menu_->addAction(QStringLiteral("Check for Updates\u2026"), this, [this] {
            if (onCheckForUpdates_) {
                onCheckForUpdates_();
            }
        });
    }
    menu_->addSeparator();
    QAction* quit = menu_->addAction(QStringLiteral("Quit Brindell"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    // Through the event loop, so the application's own quit path (and its teardown) runs.
    connect(quit, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void StatusItemController::activated(QSystemTrayIcon::ActivationReason reason,
                                     Qt::KeyboardModifiers modifiers) {
    if (reason == QSystemTrayIcon::Context) {
        return; // the tray shows the context menu itself
    }
    if (reason == QSystemTrayIcon::Trigger && modifiers.testFlag(Qt::ControlModifier)) {
        rebuildMenu();
        menu_->popup(QCursor::pos());
        return;
    }
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Unknown) {
        onToggle();
    }
}

std::optional<QRect> StatusItemController::anchorRect() const {
    if (!tray_.isVisible() || !QSystemTrayIcon::isSystemTrayAvailable()) {
        return std::nullopt;
    }
    const QRect geometry = tray_.geometry();
    if (!geometry.isValid() || geometry.isEmpty()) {
        return std::nullopt;
    }
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen->geometry().intersects(geometry)) {
            return geometry;
        }
    }
    return std::nullopt;
}

void StatusItemController::setVisible(bool visible) {
    tray_.setVisible(visible);
    if (visibility_) {
        visibility_->save(encodeIconVisibility(visible)); // a failed write keeps the old record
    }
}

bool StatusItemController::isVisible() const {
    return tray_.isVisible();
}

} // namespace brindell
