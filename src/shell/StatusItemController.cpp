#include "shell/StatusItemController.h"

#include "settings/SettingsStorage.h"
#include "shell/PanelTheme.h"
#include "shell/StatusNotifierItem.h"

#include <QApplication>
#include <QCursor>
#include <QIcon>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QtGui/qguiapplication_platform.h>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <xcb/xcb.h>

namespace brindell {

namespace {

const QColor lightIcon(0xf2, 0xf2, 0xf2);
const QColor darkIcon(0x2e, 0x34, 0x36);
// What a graphic needs against its background to be made out (WCAG's ratio for non-text).
constexpr double minimumContrast = 3.0;

QIcon drawnTrayIcon(const QColor& color) {
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        icon.addPixmap(QPixmap::fromImage(trayIconImage(color, size)));
    }
    return icon;
}

xcb_atom_t internAtom(xcb_connection_t* connection, const QByteArray& name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.constData()),
        nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

double relativeLuminance(const QColor& color) {
    const auto channel = [](double value) {
        return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) +
           0.0722 * channel(color.blueF());
}

double contrastRatio(const QColor& a, const QColor& b) {
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

QColor trayIconColor(const TrayColors& colors, const QPalette& palette) {
    // What is on screen decides: a tray may name a colour for its theme while the panel has
    // been given another background, and a scheme says nothing about a panel's own colours.
    if (colors.trayBackground && colors.trayBackground->isValid()) {
        const QColor& background = *colors.trayBackground;
        if (colors.trayForeground && colors.trayForeground->isValid()) {
            QColor named = *colors.trayForeground;
            named.setAlpha(255);
            if (contrastRatio(named, background) >= minimumContrast) {
                return named;
            }
        }
        return contrastRatio(lightIcon, background) >= contrastRatio(darkIcon, background)
                   ? lightIcon
                   : darkIcon;
    }
    if (colors.trayForeground && colors.trayForeground->isValid()) {
        QColor color = *colors.trayForeground;
        color.setAlpha(255);
        return color;
    }
    const bool dark = colors.darkScheme.value_or(PanelTheme::isDark(palette));
    return dark ? lightIcon : darkIcon;
}

QImage trayIconImage(const QColor& color, int size) {
    QPixmap pixmap = symbolPixmap("MenuBarIcon", size, color, 1.0);
    if (pixmap.isNull()) {
        pixmap = symbolPixmap("speaker.wave.2.fill", size, color, 1.0);
    }
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

std::optional<QColor> x11TrayForeground() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        return std::nullopt;
    }
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (connection == nullptr) {
        return std::nullopt;
    }
    const xcb_atom_t selection = internAtom(connection, QByteArrayLiteral("_NET_SYSTEM_TRAY_S0"));
    const xcb_atom_t colors = internAtom(connection, QByteArrayLiteral("_NET_SYSTEM_TRAY_COLORS"));
    if (selection == XCB_ATOM_NONE || colors == XCB_ATOM_NONE) {
        return std::nullopt;
    }
    xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, selection), nullptr);
    const xcb_window_t tray = owner != nullptr ? owner->owner : static_cast<xcb_window_t>(XCB_NONE);
    std::free(owner);
    if (tray == XCB_NONE) {
        return std::nullopt;
    }
    xcb_get_property_reply_t* property = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, tray, colors, XCB_ATOM_CARDINAL, 0, 12),
        nullptr);
    std::optional<QColor> foreground;
    // Normal, error, warning and success colours, 16 bits a channel; the first is the one.
    if (property != nullptr && property->format == 32 &&
        xcb_get_property_value_length(property) >= 12) {
        const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(property));
        foreground =
            QColor::fromRgba64(static_cast<quint16>(values[0]), static_cast<quint16>(values[1]),
                               static_cast<quint16>(values[2]));
    }
    std::free(property);
    return foreground;
}

std::optional<QColor> trayBackgroundAround(const QRect& icon) {
    constexpr int ring = 3;
    QScreen* screen = QGuiApplication::screenAt(icon.center());
    if (screen == nullptr || !icon.isValid()) {
        return std::nullopt;
    }
    const QRect area = icon.adjusted(-ring, -ring, ring, ring) & screen->geometry();
    const QPoint origin = area.topLeft() - screen->geometry().topLeft();
    const QImage shot = screen->grabWindow(0, origin.x(), origin.y(), area.width(), area.height())
                            .toImage()
                            .convertToFormat(QImage::Format_RGB32);
    if (shot.size() != area.size()) {
        return std::nullopt;
    }
    // The ring may take in a neighbouring icon or, at the bar's edge, the desktop: the median
    // is the bar's own colour as long as most of the ring is bar.
    std::vector<QRgb> pixels;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            if (!icon.contains(area.topLeft() + QPoint(x, y))) {
                pixels.push_back(shot.pixel(x, y));
            }
        }
    }
    if (pixels.empty()) {
        return std::nullopt;
    }
    const auto middle = pixels.begin() + static_cast<std::ptrdiff_t>(pixels.size() / 2);
    std::nth_element(pixels.begin(), middle, pixels.end(), [](QRgb a, QRgb b) {
        return relativeLuminance(QColor(a)) < relativeLuminance(QColor(b));
    });
    return QColor(*middle);
}

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
                                           std::shared_ptr<SettingsStorage> visibility,
                                           QDBusConnection bus)
    : menu_(std::make_unique<QMenu>()), visibility_(std::move(visibility)) {
    QString tip = QStringLiteral("Brindell");
    if (badge) {
        tip += QStringLiteral(" (") + badge->toLower() + QStringLiteral(")");
    }
    tray_.setToolTip(tip);
    measureTimer_ = new QTimer(this);
    measureTimer_->setInterval(200);
    connect(measureTimer_, &QTimer::timeout, this, &StatusItemController::measureBackground);
    item_ = std::make_unique<StatusNotifierItem>(std::move(bus), tip);
    updateIcon();
    connect(&tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                activated(reason, QGuiApplication::queryKeyboardModifiers());
            });
    // Trays that show the menu themselves ask for it afresh each time.
    connect(menu_.get(), &QMenu::aboutToShow, this, &StatusItemController::rebuildMenu);
    rebuildMenu();
    tray_.setContextMenu(menu_.get());

    item_->onActivate = [this](QPoint at) {
        clickedAt(at);
        onToggle();
    };
    item_->onSecondaryActivate = [this](QPoint at) {
        clickedAt(at);
        onToggleMasterMute();
    };
    item_->onContextMenu = [this](QPoint at) {
        clickedAt(at);
        rebuildMenu();
        menu_->popup(*clickPoint_);
    };
    item_->onScroll = [this](int steps) { onMasterSteps(steps); };
    connect(item_.get(), &StatusNotifierItem::changed, this, [this] { updatePresence(); });

    if (visibility_) {
        if (const auto blob = visibility_->load()) {
            visible_ = decodeIconVisibility(*blob).value_or(true);
        }
    }
    updatePresence();
}

StatusItemController::~StatusItemController() {
    tray_.setContextMenu(nullptr);
    tray_.hide();
    item_.reset();
}

void StatusItemController::updatePresence() {
    item_->setPublished(visible_);
    // Where a watcher is, the toolkit's icon would be a second item beside Brindell's own.
    const bool fallback = visible_ && !item_->hasWatcher();
    if (tray_.isVisible() != fallback) {
        tray_.setVisible(fallback);
        measuredBackground_.reset();
        if (fallback) {
            updateIcon(); // the tray that takes it may name its colours
            measureTries_ = 0;
            measureTimer_->start();
        } else {
            measureTimer_->stop();
        }
    }
}

void StatusItemController::measureBackground() {
    // The tray embeds the icon a moment after it is shown; until then there is no geometry.
    const auto icon = anchorRect();
    if (!icon) {
        if (++measureTries_ >= 25) {
            measureTimer_->stop();
        }
        return;
    }
    measureTimer_->stop();
    measuredBackground_ = trayBackgroundAround(*icon);
    if (measuredBackground_) {
        updateIcon();
    }
}

void StatusItemController::setTrayColors(const TrayColors& colors) {
    colors_ = colors;
    updateIcon();
}

void StatusItemController::updateIcon() {
    TrayColors colors = colors_;
    if (!colors.trayForeground) {
        colors.trayForeground = x11TrayForeground();
    }
    if (!colors.trayBackground) {
        colors.trayBackground = measuredBackground_;
    }
    const QColor color = trayIconColor(colors, QApplication::palette());
    tray_.setIcon(drawnTrayIcon(color));
    item_->setFallbackPixmap(trayIconImage(color, 64));
}

void StatusItemController::clickedAt(QPoint point) {
    // Trays that cannot say where the click was pass 0,0: the pointer is still there.
    clickPoint_ = point.isNull() ? QCursor::pos() : point;
}

bool StatusItemController::trayPresent() const {
    return item_->hasWatcher() || QSystemTrayIcon::isSystemTrayAvailable();
}

bool StatusItemController::isReachable() const {
    return visible_ &&
           (item_->isShown() || (!item_->hasWatcher() && QSystemTrayIcon::isSystemTrayAvailable()));
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
    if (reason == QSystemTrayIcon::MiddleClick) {
        onToggleMasterMute();
        return;
    }
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Unknown) {
        clickedAt(QCursor::pos());
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
    visible_ = visible;
    updatePresence();
    if (visibility_) {
        visibility_->save(encodeIconVisibility(visible)); // a failed write keeps the old record
    }
}

bool StatusItemController::isVisible() const {
    return visible_;
}

} // namespace brindell
